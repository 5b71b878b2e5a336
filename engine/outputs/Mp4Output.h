#pragma once
#include <cstdint>

#include "engine/outputs/H264FrameCoder.h"
#include "engine/outputs/MediaOutput.h"
#include "mux/mp4/Mp4Mux.h"

namespace quillet {

// MP4: H.264 and AAC through CMp4mux; the index is refreshed after key frames
// later than ten seconds, so a killed recording plays up to there.
class Mp4Output final : public MediaOutput {
public:
    static constexpr uint32_t kIndexRefreshAfterMs = 10000;

    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t* records, size_t length, const uint32_t* endMs, const uint32_t* durationMs,
                  int count) override;
    void soundMp3(const uint8_t*, size_t, uint64_t) override {} // MP4 takes only AAC
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return mux_.Failed(); }
    void soundEnded() override { mux_.EndAudio(); }

private:
    H264FrameCoder coder_;
    CMp4mux mux_;
    bool sound_ = false;
    uint32_t lastVideoEndMs_ = 0; // end of the previous picture's slots
};

} // namespace quillet
