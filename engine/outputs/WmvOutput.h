#pragma once
#include <cstdint>
#include <vector>

#include "engine/outputs/MediaOutput.h"
#include "engine/outputs/PcmQueue.h"
#include "mux/wmv/WmvWriter.h"

namespace quillet {

// WMV: pictures with the cursor burnt in and raw PCM go to WmvWriter, which
// codes and muxes them. Pictures carry their time on the capture clock.
// Sound is queued as it is captured and written by the video thread right
// after each picture (or by the sound side, under the same lock, when the
// queue would overflow), stamped by the PCM byte count.
class WmvOutput final : public MediaOutput {
public:
    // The queue between the sound and the video thread, and the largest
    // piece written at once.
    static constexpr size_t kQueueBytes = 128000;
    static constexpr size_t kPieceBytes = 64000;

    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    bool takesPcm() const override { return sound_; }
    void soundPcm(const uint8_t* pcm, size_t bytes) override;
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t*, size_t, const uint32_t*, const uint32_t*, int) override {}
    void soundMp3(const uint8_t*, size_t, uint64_t) override {}
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return writer_.Failed(); }

    const WmvWriter& writer() const { return writer_; }

private:
    // Writes everything queued; called with the lock held.
    void drainSound();

    WmvWriter writer_;
    bool sound_ = false;
    int framesPerSecond_ = 15;
    uint32_t bytesPerSecond_ = 1;
    uint32_t blockAlign_ = 2;
    PcmQueue queue_;
    std::vector<uint8_t> piece_;
    uint64_t soundBytes_ = 0; // PCM bytes in the sound track, silence for lost sound included
    bool wroteSinceFrame_ = false;
    uint32_t picturesWritten_ = 0;
};

} // namespace quillet
