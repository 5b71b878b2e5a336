#include "audio/pulse/PulseRecorder.h"

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {

// Format used when open is given none: 8000 Hz mono 8-bit.
CaptureAudioFormat defaultFormat()
{
    CaptureAudioFormat f;
    f.channels = 1;
    f.sampleRate = 8000;
    f.bitsPerSample = 8;
    f.blockAlign = 1;
    f.avgBytesPerSecond = 8000;
    return f;
}

// A buffer larger than this is a caller's mistake, not a request to honour.
constexpr uint64_t kMaxBufferBytes = 64ull << 20;

} // namespace

PulseRecorder::~PulseRecorder() { stop(); }

void PulseRecorder::setError(const std::string& text)
{
    std::lock_guard<std::mutex> guard(errorMutex_);
    error_ = text;
}

std::string PulseRecorder::lastError() const
{
    std::lock_guard<std::mutex> guard(errorMutex_);
    return error_;
}

uint64_t PulseRecorder::overrunBytes() const
{
    if (!connection_.connected())
        return overrun_;
    PulseLock lock(connection_);
    return overrun_;
}

int PulseRecorder::open(AudioInputListener* listener, uint32_t samplesPerBuffer, const CaptureAudioFormat* format,
                        const std::string& device)
{
    if (running_) {
        setError("the recorder is already running");
        return 0;
    }
    if (!listener || samplesPerBuffer == 0) {
        setError(!listener ? "no listener for the recorded buffers" : "a buffer must hold at least one sample");
        return 0;
    }
    const CaptureAudioFormat f = format ? *format : defaultFormat();
    if ((f.bitsPerSample != 8 && f.bitsPerSample != 16) || (f.channels != 1 && f.channels != 2) ||
        f.sampleRate == 0 || f.sampleRate > PA_RATE_MAX || f.blockAlign != f.channels * f.bitsPerSample / 8) {
        setError("unsupported capture format: only 8- or 16-bit PCM, mono or stereo");
        return 0;
    }
    const uint64_t bufferBytes = uint64_t(samplesPerBuffer) * f.blockAlign;
    if (bufferBytes > kMaxBufferBytes) {
        setError("the capture buffer size is too large");
        return 0;
    }

    setError("");
    if (!connection_.connect("Quillet recorder")) {
        setError(connection_.error());
        return 0;
    }

    pa_sample_spec sampleSpec;
    sampleSpec.format = f.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleSpec.rate = f.sampleRate;
    sampleSpec.channels = static_cast<uint8_t>(f.channels);
    pa_channel_map map;
    pa_channel_map_init_auto(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);

    int ok = 0;
    {
        PulseLock lock(connection_);
        listener_ = listener;
        for (size_t i = 0; i < slots_.size(); ++i) {
            Slot& s = slots_[i];
            s.storage.assign(static_cast<size_t>(bufferBytes), 0);
            s.header = AudioBuffer();
            s.header.data = s.storage.data();
            s.header.bufferLength = static_cast<uint32_t>(bufferBytes);
            s.stage = Stage::Free;
        }
        freeSlots_ = {0, 1, 2};
        filling_ = -1;
        nextSequence_ = 0;
        queue_.clear();
        queueStart_ = 0;
        maxQueued_ = static_cast<size_t>(uint64_t(f.avgBytesPerSecond ? f.avgBytesPerSecond
                                                                        : f.sampleRate * f.blockAlign) *
                                         kMaxQueuedMs / 1000);
        overrun_ = 0;
        failed_ = false;
        failureAnnounced_ = false;
        opening_ = true;
        running_ = true;

        stream_ = pa_stream_new(connection_.context(), "Quillet recording", &sampleSpec, &map);
        if (stream_) {
            pa_stream_set_state_callback(stream_, &PulseRecorder::onStreamState, this);
            pa_stream_set_read_callback(stream_, &PulseRecorder::onStreamRead, this);
            pa_stream_set_moved_callback(stream_, &PulseRecorder::onStreamMoved, this);
            pa_buffer_attr attr;
            std::memset(&attr, 0xff, sizeof attr); // (uint32_t)-1: server defaults
            attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, &sampleSpec));
            int flags = PA_STREAM_ADJUST_LATENCY;
            if (!device.empty())
                flags |= PA_STREAM_DONT_MOVE;
            if (pa_stream_connect_record(stream_, device.empty() ? nullptr : device.c_str(), &attr,
                                         static_cast<pa_stream_flags_t>(flags)) == 0) {
                pa_stream* s = stream_;
                ok = connection_.waitLocked(
                    [s] {
                        const pa_stream_state_t st = pa_stream_get_state(s);
                        return st == PA_STREAM_READY || st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED;
                    },
                    PulseConnection::kDefaultTimeoutMs);
                ok = ok && pa_stream_get_state(stream_) == PA_STREAM_READY;
            }
        }
        opening_ = false;
        if (!ok) {
            const std::string what = device.empty() ? std::string("the default recording device")
                                                    : "recording device \"" + device + "\"";
            setError("cannot open " + what + ": " + connection_.serverError());
            running_ = false;
            closeStream();
        }
    }
    if (!ok) {
        connection_.close();
        for (Slot& s : slots_)
            s.stage = Stage::Idle;
        return 0;
    }
    return 1;
}

void PulseRecorder::closeStream()
{
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    if (pa_stream_get_state(stream_) == PA_STREAM_READY)
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

int PulseRecorder::stop()
{
    if (!running_)
        return 0;
    {
        PulseLock lock(connection_);
        running_ = false;
        closeStream();
        queue_.clear();
        queueStart_ = 0;
        freeSlots_.clear();
        filling_ = -1;
        for (Slot& s : slots_)
            s.stage = Stage::Idle;
        listener_ = nullptr;
    }
    connection_.close();
    return 1;
}

int PulseRecorder::slotOf(const AudioBuffer* buffer) const
{
    for (size_t i = 0; i < slots_.size(); ++i)
        if (&slots_[i].header == buffer)
            return static_cast<int>(i);
    return -1;
}

uint8_t* PulseRecorder::releaseBuffer(AudioBuffer* buffer)
{
    const int i = slotOf(buffer);
    if (i < 0 || !running_)
        return nullptr;
    PulseLock lock(connection_);
    Slot& s = slots_[static_cast<size_t>(i)];
    if (!running_ || s.stage != Stage::Delivered)
        return nullptr;
    // Only the oldest announced buffer is handed out. A notice left over from
    // before a stop and reopen may name a slot that holds newer sound; it gets
    // nothing, so the consumer always reads the sound in recording order.
    for (const Slot& other : slots_)
        if (other.stage == Stage::Delivered && other.header.sequence < s.header.sequence)
            return nullptr;
    s.stage = Stage::Held;
    return s.header.data;
}

int PulseRecorder::requeueBuffer(AudioBuffer* buffer)
{
    const int i = slotOf(buffer);
    if (i < 0 || !running_)
        return 0;
    PulseLock lock(connection_);
    Slot& s = slots_[static_cast<size_t>(i)];
    if (!running_ || s.stage != Stage::Held)
        return 0;
    s.stage = Stage::Free;
    s.header.bytesRecorded = 0;
    freeSlots_.push_back(i);
    pump();
    return 1;
}

void PulseRecorder::onStreamState(pa_stream* s, void* self)
{
    auto* r = static_cast<PulseRecorder*>(self);
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED)
        r->fail("the recording device stopped delivering sound: " + r->connection_.serverError());
    r->connection_.signal();
}

void PulseRecorder::onStreamRead(pa_stream*, size_t, void* self)
{
    auto* r = static_cast<PulseRecorder*>(self);
    r->takeStreamData();
    r->pump();
}

void PulseRecorder::onStreamMoved(pa_stream* s, void* self)
{
    auto* r = static_cast<PulseRecorder*>(self);
    if (!r->running_ || r->opening_ || !r->listener_)
        return;
    const char* name = pa_stream_get_device_name(s);
    r->listener_->audioInputMoved(*r, name ? name : "");
}

void PulseRecorder::takeStreamData()
{
    if (!stream_)
        return;
    for (;;) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0)
            return;
        const size_t queued = queue_.size() - queueStart_;
        const size_t room = queued < maxQueued_ ? maxQueued_ - queued : 0;
        const size_t keep = std::min(bytes, room);
        overrun_ += bytes - keep;
        if (keep > 0) {
            if (queueStart_ > 0 && queueStart_ >= queue_.size() / 2) {
                queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queueStart_));
                queueStart_ = 0;
            }
            if (data) {
                const auto* p = static_cast<const uint8_t*>(data);
                queue_.insert(queue_.end(), p, p + keep);
            } else {
                // A gap in the stream (after an overflow on the server): keep
                // the timeline with silence. 8-bit PCM is unsigned, centred on 128.
                const bool eightBit = pa_stream_get_sample_spec(stream_)->format == PA_SAMPLE_U8;
                queue_.insert(queue_.end(), keep, eightBit ? uint8_t(0x80) : uint8_t(0));
            }
        }
        pa_stream_drop(stream_);
    }
}

void PulseRecorder::pump()
{
    if (!running_)
        return;
    for (;;) {
        if (filling_ < 0) {
            if (freeSlots_.empty())
                break;
            filling_ = freeSlots_.front();
            freeSlots_.pop_front();
            slots_[static_cast<size_t>(filling_)].stage = Stage::Filling;
            slots_[static_cast<size_t>(filling_)].header.bytesRecorded = 0;
        }
        Slot& s = slots_[static_cast<size_t>(filling_)];
        const size_t queued = queue_.size() - queueStart_;
        const size_t space = s.header.bufferLength - s.header.bytesRecorded;
        const size_t n = std::min(queued, space);
        if (n > 0)
            std::memcpy(s.header.data + s.header.bytesRecorded, queue_.data() + queueStart_, n);
        s.header.bytesRecorded += static_cast<uint32_t>(n);
        queueStart_ += n;
        if (queueStart_ == queue_.size()) {
            queue_.clear();
            queueStart_ = 0;
        }
        if (s.header.bytesRecorded == s.header.bufferLength) {
            const int done = filling_;
            filling_ = -1;
            deliver(done);
            continue;
        }
        break; // queue empty, buffer not yet full
    }
    if (failed_ && queueStart_ == queue_.size()) {
        // Nothing more will come: hand over the part-filled buffer, then say so.
        if (filling_ >= 0) {
            const int last = filling_;
            filling_ = -1;
            if (slots_[static_cast<size_t>(last)].header.bytesRecorded > 0)
                deliver(last);
            else
                freeSlots_.push_front(last);
        }
        if (!failureAnnounced_ && listener_) {
            failureAnnounced_ = true;
            listener_->audioInputFailed(*this);
        }
    }
}

void PulseRecorder::deliver(int slot)
{
    Slot& s = slots_[static_cast<size_t>(slot)];
    s.stage = Stage::Delivered;
    s.header.sequence = nextSequence_++;
    if (listener_)
        listener_->audioBufferDone(*this, &s.header);
}

void PulseRecorder::fail(const std::string& why)
{
    if (!running_ || opening_ || failed_)
        return;
    // Whatever the stream still holds was recorded; keep it.
    takeStreamData();
    failed_ = true;
    setError(why);
    pump();
}

} // namespace quillet
