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
    bool failed() const override { return writer_.Failed() || closeFailed_; }

    const WmvWriter& writer() const { return writer_; }

    // When a picture taken for frame slot `slot` (the slot whose time lies
    // nearest the capture) shows: a quarter period before the slot's time.
    // Times on the slot grid give every picture a slot of its own, also for a
    // reader that counts time in frame periods (ffmpeg does, and complains),
    // which times taken straight from the clock do not (two pictures 48 ms
    // apart at 15 fps). A change on the screen shows in the first picture
    // taken after it, up to a period later, so a picture shown at its slot
    // is late by half a period on average; half a period earlier would put
    // it on the boundary between two periods, where such a reader rounds two
    // pictures into one, so it shows a quarter earlier. The first picture
    // shows from 0, with the sound; each lasts to the end of its slots, so
    // the file ends where the recorded time does.
    static uint32_t pictureTimeMs(uint32_t slot, int framesPerSecond);

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
    bool closeFailed_ = false;
};

} // namespace quillet
