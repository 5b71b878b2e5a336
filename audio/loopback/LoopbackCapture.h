#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/input/WaveFormatRecord.h"
#include "audio/loopback/LoopbackConverter.h"
#include "audio/loopback/LoopbackDevice.h"
#include "audio/loopback/LookbackCall.h"

namespace quillet {

// The computer-sound source: the lookbackCall contract (see LookbackCall.h)
// on top of a platform's LoopbackDevice. Not thread-safe by itself; the
// process-wide entry serialises calls.
class LoopbackCapture {
public:
    explicit LoopbackCapture(std::unique_ptr<LoopbackDevice> device);
    ~LoopbackCapture();
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    int32_t call(void* buffer, int32_t n);

    bool capturing() const { return capturing_; }
    const WaveFormatRecord& deviceFormat() const { return deviceFormat_; }
    std::string lastError() const;

private:
    int32_t start(uint8_t* formatRecord);
    int32_t fetch(uint8_t* out, int32_t n);
    void stopCapture();

    std::unique_ptr<LoopbackDevice> device_;
    bool capturing_ = false;
    WaveFormatRecord deviceFormat_;
    PcmLayout requested_;
    PcmLayout source_;
    // The packet being converted, and how many of its bytes are used up.
    bool holding_ = false;
    const uint8_t* packet_ = nullptr;
    uint32_t packetBytes_ = 0;
    uint32_t consumed_ = 0;
    // Carries the rate conversion across packets and fetches (see
    // convertLoopbackPass), so the sound keeps the device's pace.
    uint64_t phase_ = 0;
    std::vector<uint8_t> silence_; // stands in for a gap's missing data
    std::string error_;
};

} // namespace quillet
