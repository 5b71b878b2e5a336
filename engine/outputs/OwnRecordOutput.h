#pragma once
#include <cstdint>
#include <vector>

#include "base/OutputSink.h"
#include "engine/outputs/MediaOutput.h"
#include "engine/outputs/ScreenFrameCoder.h"
#include "engine/session/OwnRecordHeader.h"

namespace quillet {

// The program's own record file: the 218-byte head (header, formats and the
// key-frame index), then typed records: the regions of each frame, its
// cursor record, and the MP3 sound records in between.
//
// Each frame's records go to the file in one write and are flushed, as is
// every sound record, so a killed recording keeps every frame but perhaps
// the last; the head then lacks only the duration, which a reader takes
// from the records.
//
// The key-frame index has room for 37 entries (30 with sound); later key
// frames are not indexed, and a reader finds them by walking the records.
// There is no H.264 side data in this file: video-like areas are coded with
// the DCT like any other.
class OwnRecordOutput final : public MediaOutput {
public:
    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t*, size_t, const uint32_t*, const uint32_t*, int) override {}
    void soundMp3(const uint8_t* data, size_t length, uint64_t endMs) override;
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return failed_ || file_.error(); }

    uint32_t keyFrames() const { return keyFrames_; }
    const OwnRecordHeader& header() const { return header_; }

private:
    class RecordSink;
    int writeFrame(const uint8_t* data, size_t length, bool key);

    FileSink file_;
    OwnRecordHeader header_;
    ScreenFrameCoder coder_;
    std::vector<uint8_t> frame_; // one frame's records
    bool sound_ = false;
    bool keyNext_ = false;
    bool failed_ = false;
    uint32_t keyFrames_ = 0;
};

} // namespace quillet
