#pragma once
#include <cstdint>

#include "engine/outputs/H264FrameCoder.h"
#include "engine/outputs/MediaOutput.h"
#include "mux/mp4/Mp4Mux.h"

namespace quillet {

// MP4: H.264 and AAC through CMp4mux. The index is written as soon as the
// first picture is in the file and refreshed at every key frame, so a killed
// recording plays up to its last key frame as it is; the journal beside it
// lets `quillet-cli repair` take it up to its last whole sample.
class Mp4Output final : public MediaOutput {
public:
    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t* records, size_t length, const uint32_t* endMs, const uint32_t* durationMs,
                  int count) override;
    void soundMp3(const uint8_t*, size_t, uint64_t) override {} // MP4 takes only AAC
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return mux_.Failed(); }
    void soundEnded() override { mux_.EndAudio(); }
    OutputFailure failureDetails() const override;

private:
    H264FrameCoder coder_;
    CMp4mux mux_;
    bool sound_ = false;
    uint32_t lastVideoEndMs_ = 0; // end of the previous picture's slots
};

} // namespace quillet
