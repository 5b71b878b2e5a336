#include "audio/loopback/LoopbackCapture.h"

namespace quillet {

LoopbackCapture::LoopbackCapture(std::unique_ptr<LoopbackDevice> device) : device_(std::move(device)) {}

LoopbackCapture::~LoopbackCapture() { stopCapture(); }

int32_t LoopbackCapture::call(void* buffer, int32_t n)
{
    if (n < 0)
        return start(static_cast<uint8_t*>(buffer));
    if (n == kLookbackStop) {
        stopCapture();
        return 0;
    }
    if (n <= kLookbackMaxIgnoredCount)
        return 0;
    return fetch(static_cast<uint8_t*>(buffer), n);
}

std::string LoopbackCapture::lastError() const
{
    if (!error_.empty())
        return error_;
    return device_ ? device_->lastError() : std::string();
}

int32_t LoopbackCapture::start(uint8_t* formatRecord)
{
    error_.clear();
    if (!formatRecord || !device_) {
        error_ = "no format record given";
        return 0;
    }
    const WaveFormatRecord want = WaveFormatRecord::read(formatRecord);
    if (!want.isPcm16MonoOrStereo()) {
        error_ = "requested format is not 16-bit PCM with one or two channels";
        return 0;
    }
    // A second start replaces the running capture rather than leaking it.
    stopCapture();

    WaveFormatRecord got;
    if (!device_->start(got)) {
        error_ = device_->lastError();
        return 0;
    }
    deviceFormat_ = got;
    requested_ = {want.channels, want.sampleRate, 16};
    source_ = {got.channels, got.sampleRate, got.bitsPerSample};
    got.write(formatRecord);
    phase_ = 0;
    capturing_ = true;
    return 1;
}

int32_t LoopbackCapture::fetch(uint8_t* out, int32_t n)
{
    if (!capturing_ || !out)
        return 0;
    const size_t want = static_cast<size_t>(n);
    const size_t frameBytes = 2u * requested_.channels;
    size_t written = 0;
    // Stop once not even one output frame fits: a count that is not a whole
    // number of frames would otherwise never be reached.
    while (want - written >= frameBytes) {
        uint32_t waiting = 0;
        if (!device_->nextPacketSize(waiting) || waiting == 0)
            break;
        if (!holding_) {
            const uint8_t* data = nullptr;
            uint32_t bytes = 0;
            if (!device_->takePacket(data, bytes))
                break;
            if (bytes == 0) {
                device_->releasePacket();
                break;
            }
            if (!data) {
                if (silence_.size() < bytes)
                    silence_.assign(bytes, 0);
                data = silence_.data();
            }
            holding_ = true;
            packet_ = data;
            packetBytes_ = bytes;
            consumed_ = 0;
        }
        const ConvertPass pass = convertLoopbackPass(packet_ + consumed_, packetBytes_ - consumed_, source_, requested_,
                                                     out + written, want - written, phase_);
        written += pass.bytesWritten;
        phase_ = pass.nextPhase;
        consumed_ += static_cast<uint32_t>(pass.bytesConsumed);
        if (consumed_ >= packetBytes_) {
            device_->releasePacket();
            holding_ = false;
            packet_ = nullptr;
        }
        if (pass.bytesWritten == 0 && pass.bytesConsumed == 0)
            break; // nothing can move; never spin
    }
    return static_cast<int32_t>(written);
}

void LoopbackCapture::stopCapture()
{
    if (!capturing_)
        return;
    if (holding_)
        device_->releasePacket();
    holding_ = false;
    packet_ = nullptr;
    device_->stop();
    capturing_ = false;
}

} // namespace quillet
