#include "app/player/pulse/PulseSoundOutput.h"

#include <algorithm>

namespace quillet::player {

namespace {

void onStreamState(pa_stream*, void* connection) { static_cast<PulseConnection*>(connection)->signal(); }

} // namespace

PulseSoundOutput::~PulseSoundOutput()
{
    if (pulse_.connected()) {
        PulseLock lock(pulse_);
        dropStreamLocked();
    }
    pulse_.close();
}

int PulseSoundOutput::connect()
{
    if (!pulse_.connect("quillet-player")) {
        error_ = pulse_.error();
        return 0;
    }
    return 1;
}

void PulseSoundOutput::dropStreamLocked()
{
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

bool PulseSoundOutput::streamReadyLocked() const
{
    return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

int PulseSoundOutput::begin(int sampleRate, int channels)
{
    if (!pulse_.connected()) {
        error_ = "not connected to the sound server";
        return 0;
    }
    PulseLock lock(pulse_);
    dropStreamLocked();
    rate_ = sampleRate;
    channels_ = channels;
    written_ = 0;
    lastPlayed_ = 0;
    paused_ = true;
    finished_ = false;
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = uint32_t(sampleRate);
    spec.channels = uint8_t(channels);
    if (!pa_sample_spec_valid(&spec)) {
        error_ = "the sound format " + std::to_string(sampleRate) + " Hz, " + std::to_string(channels) +
                 " channels cannot be played";
        return 0;
    }
    stream_ = pa_stream_new(pulse_.context(), "Playback", &spec, nullptr);
    if (!stream_) {
        error_ = "cannot create a playback stream: " + pulse_.serverError();
        return 0;
    }
    pa_stream_set_state_callback(stream_, &onStreamState, &pulse_);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kTargetBufferMs) * PA_USEC_PER_MSEC, &spec));
    attr.prebuf = uint32_t(pa_usec_to_bytes(pa_usec_t(kStartBufferMs) * PA_USEC_PER_MSEC, &spec));
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        error_ = "cannot play to the sound server: " + pulse_.serverError();
        dropStreamLocked();
        return 0;
    }
    pa_stream* s = stream_;
    const int ok = pulse_.waitLocked(
        [s] {
            const pa_stream_state_t st = pa_stream_get_state(s);
            return st == PA_STREAM_READY || st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED;
        },
        PulseConnection::kDefaultTimeoutMs);
    if (!ok || !streamReadyLocked()) {
        error_ = "the playback stream did not start: " + pulse_.serverError();
        dropStreamLocked();
        return 0;
    }
    return 1;
}

int PulseSoundOutput::write(const int16_t* pcm, size_t frames)
{
    if (frames == 0)
        return 1;
    PulseLock lock(pulse_);
    if (!streamReadyLocked()) {
        error_ = "the playback stream ended: " + pulse_.serverError();
        return 0;
    }
    const size_t bytes = frames * size_t(channels_) * 2;
    if (pa_stream_write(stream_, pcm, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        error_ = "writing the sound failed: " + pulse_.serverError();
        return 0;
    }
    written_ += int64_t(frames);
    return 1;
}

int64_t PulseSoundOutput::playedFrames()
{
    if (!pulse_.connected())
        return 0;
    PulseLock lock(pulse_);
    if (!streamReadyLocked())
        return lastPlayed_;
    pa_usec_t t = 0;
    if (pa_stream_get_time(stream_, &t) < 0)
        return lastPlayed_;
    const int64_t played = std::min<int64_t>(written_, int64_t(t * uint64_t(rate_) / PA_USEC_PER_SEC));
    lastPlayed_ = std::max(lastPlayed_, played);
    return lastPlayed_;
}

int64_t PulseSoundOutput::writtenFrames()
{
    if (!pulse_.connected())
        return 0;
    PulseLock lock(pulse_);
    return written_;
}

void PulseSoundOutput::setPaused(bool paused)
{
    if (!pulse_.connected())
        return;
    PulseLock lock(pulse_);
    if (!streamReadyLocked() || paused == paused_)
        return;
    paused_ = paused;
    if (pa_operation* op = pa_stream_cork(stream_, paused ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
    // A tail shorter than the start buffer would otherwise wait for more.
    if (!paused && finished_)
        if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr))
            pa_operation_unref(op);
}

void PulseSoundOutput::finish()
{
    if (!pulse_.connected())
        return;
    PulseLock lock(pulse_);
    finished_ = true;
    if (streamReadyLocked() && !paused_)
        if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr))
            pa_operation_unref(op);
}

} // namespace quillet::player
