#include "audio/pulse/PulseMonitorDevice.h"

#include <algorithm>
#include <cstring>

#include "audio/pulse/PulseDeviceList.h"

namespace quillet {

PulseMonitorDevice::~PulseMonitorDevice() { stop(); }

void PulseMonitorDevice::onStreamState(pa_stream*, void* self)
{
    static_cast<PulseMonitorDevice*>(self)->connection_.signal();
}

bool PulseMonitorDevice::streamReady() const
{
    return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

int PulseMonitorDevice::start(WaveFormatRecord& deviceFormat)
{
    stop();
    error_.clear();
    if (!connection_.connect("Quillet computer sound")) {
        error_ = connection_.error();
        return 0;
    }
    PulseSinkMonitor monitor;
    if (!queryDefaultSinkMonitor(connection_, monitor, error_)) {
        connection_.close();
        return 0;
    }

    pa_sample_spec sampleSpec;
    sampleSpec.format = PA_SAMPLE_S16LE;
    sampleSpec.rate = monitor.sampleRate;
    sampleSpec.channels = static_cast<uint8_t>(std::clamp<int>(monitor.channels, 1, 2));
    pa_channel_map map;
    pa_channel_map_init_auto(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);

    int ok = 0;
    {
        PulseLock lock(connection_);
        stream_ = pa_stream_new(connection_.context(), "Quillet computer sound", &sampleSpec, &map);
        if (stream_) {
            pa_stream_set_state_callback(stream_, &PulseMonitorDevice::onStreamState, this);
            pa_buffer_attr attr;
            std::memset(&attr, 0xff, sizeof attr);
            attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, &sampleSpec));
            const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
            if (pa_stream_connect_record(stream_, monitor.monitorSource.c_str(), &attr, flags) == 0) {
                pa_stream* s = stream_;
                connection_.waitLocked(
                    [s] {
                        const pa_stream_state_t st = pa_stream_get_state(s);
                        return st == PA_STREAM_READY || st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED;
                    },
                    PulseConnection::kDefaultTimeoutMs);
                ok = streamReady();
            }
        }
        if (!ok) {
            error_ = "cannot record the computer's sound from \"" + monitor.monitorSource +
                     "\": " + connection_.serverError();
            if (stream_) {
                pa_stream_set_state_callback(stream_, nullptr, nullptr);
                pa_stream_unref(stream_);
                stream_ = nullptr;
            }
        }
    }
    if (!ok) {
        connection_.close();
        return 0;
    }
    deviceFormat = WaveFormatRecord();
    deviceFormat.channels = sampleSpec.channels;
    deviceFormat.sampleRate = sampleSpec.rate;
    deviceFormat.bitsPerSample = 16;
    deviceFormat.blockAlign = static_cast<uint16_t>(sampleSpec.channels * 2);
    deviceFormat.avgBytesPerSecond = sampleSpec.rate * deviceFormat.blockAlign;
    return 1;
}

int PulseMonitorDevice::nextPacketSize(uint32_t& bytes)
{
    bytes = 0;
    if (!stream_)
        return 0;
    PulseLock lock(connection_);
    if (!streamReady()) {
        error_ = "the computer-sound capture stopped: " + connection_.serverError();
        return 0;
    }
    const size_t n = pa_stream_readable_size(stream_);
    if (n == static_cast<size_t>(-1))
        return 0;
    bytes = static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX));
    return 1;
}

int PulseMonitorDevice::takePacket(const uint8_t*& data, uint32_t& bytes)
{
    data = nullptr;
    bytes = 0;
    if (!stream_)
        return 0;
    PulseLock lock(connection_);
    if (holding_ || !streamReady())
        return 0;
    const void* p = nullptr;
    size_t n = 0;
    if (pa_stream_peek(stream_, &p, &n) < 0 || n == 0)
        return 0;
    holding_ = true;
    data = static_cast<const uint8_t*>(p);
    bytes = static_cast<uint32_t>(n);
    return 1;
}

void PulseMonitorDevice::releasePacket()
{
    if (!stream_ || !holding_)
        return;
    PulseLock lock(connection_);
    holding_ = false;
    if (streamReady())
        pa_stream_drop(stream_);
}

void PulseMonitorDevice::stop()
{
    if (connection_.connected()) {
        PulseLock lock(connection_);
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            if (pa_stream_get_state(stream_) == PA_STREAM_READY)
                pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        holding_ = false;
    }
    connection_.close();
}

} // namespace quillet
