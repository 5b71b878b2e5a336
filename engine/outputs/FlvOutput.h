#pragma once
#include <cstdint>

#include "engine/outputs/H264FrameCoder.h"
#include "engine/outputs/MediaOutput.h"
#include "mux/flv/FlvWriter.h"

namespace quillet {

// FLV: the engine writes H.264 tags and AAC (or MP3) tags straight through.
class FlvOutput final : public MediaOutput {
public:
    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t* records, size_t length, const uint32_t* endMs, const uint32_t* durationMs,
                  int count) override;
    void soundMp3(const uint8_t* data, size_t length, uint64_t endMs) override;
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return writer_.Failed(); }
    OutputFailure failureDetails() const override;

private:
    H264FrameCoder coder_;
    FlvWriter writer_;
    bool sound_ = false;
    int width_ = 0;
    int height_ = 0;
    std::string fileName_;
};

} // namespace quillet
