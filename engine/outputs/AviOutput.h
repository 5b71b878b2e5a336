#pragma once
#include <cstdint>

#include "engine/outputs/FrameRecords.h"
#include "engine/outputs/MediaOutput.h"
#include "engine/outputs/ScreenFrameCoder.h"
#include "mux/avi/AviWriter.h"

namespace quillet {

// AVI: one "QVS2" frame packet per frame (side data, region records, cursor
// trailer) and the MP3 sound, one chunk per captured buffer.
class AviOutput final : public MediaOutput {
public:
    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t*, size_t, const uint32_t*, const uint32_t*, int) override {}
    void soundMp3(const uint8_t* data, size_t length, uint64_t endMs) override;
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return writer_.Failed(); }

    // Key frames written, and frames made key frames because the one before
    // lost an area.
    uint32_t keyFrames() const { return keyFrames_; }
    uint32_t repairKeyFrames() const { return repairKeyFrames_; }

private:
    class PacketSink;

    ScreenFrameCoder coder_;
    AviPacketBuilder packet_;
    AviWriter writer_;
    bool sound_ = false;
    bool keyNext_ = false;
    uint32_t keyFrames_ = 0;
    uint32_t repairKeyFrames_ = 0;
};

} // namespace quillet
