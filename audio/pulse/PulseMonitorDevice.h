#pragma once
#include <string>

#include "audio/loopback/LoopbackDevice.h"
#include "audio/pulse/PulseConnection.h"

namespace quillet {

// The computer's own sound on PulseAudio: a record stream on the default
// sink's monitor, in 16-bit PCM at the sink's own rate. Sinks with more than
// two channels are taken as stereo (the server folds them down), so a
// surround output still gives sound instead of a skipped packet.
class PulseMonitorDevice : public LoopbackDevice {
public:
    // Size of the packets the server sends, like a shared-mode device period.
    static constexpr uint32_t kFragmentMs = 10;

    ~PulseMonitorDevice() override;

    int start(WaveFormatRecord& deviceFormat) override;
    int nextPacketSize(uint32_t& bytes) override;
    int takePacket(const uint8_t*& data, uint32_t& bytes) override;
    void releasePacket() override;
    void stop() override;
    std::string lastError() const override { return error_; }

private:
    static void onStreamState(pa_stream* s, void* self);
    bool streamReady() const;

    PulseConnection connection_;
    pa_stream* stream_ = nullptr;
    bool holding_ = false;
    std::string error_;
};

} // namespace quillet
