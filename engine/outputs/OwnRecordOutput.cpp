#include "engine/outputs/OwnRecordOutput.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "base/SessionLock.h"
#include "engine/outputs/FrameRecords.h"

namespace quillet {

using namespace records;

// Appends region records to the frame's buffer; the frame-ticks byte is
// filled in when the frame is complete.
class OwnRecordOutput::RecordSink final : public RegionSink {
public:
    RecordSink(std::vector<uint8_t>& frame, bool key) : frame_(frame), key_(key) {}
    uint8_t* room(size_t capacity) override
    {
        at_ = frame_.size();
        frame_.resize(at_ + kOwnRegionHeader + capacity);
        return frame_.data() + at_ + kOwnRegionHeader;
    }
    int commit(const Rect& rect, size_t length) override
    {
        if (length == 0 || length > kMaxRegionBytes) {
            frame_.resize(at_);
            return 0;
        }
        putOwnRegionHeader(frame_.data() + at_, key_, 0, rect, length);
        frame_.resize(at_ + kOwnRegionHeader + length);
        last_ = at_;
        ++records_;
        return 1;
    }
    int records() const { return records_; }
    size_t lastRecord() const { return last_; }

private:
    std::vector<uint8_t>& frame_;
    bool key_;
    size_t at_ = 0;
    size_t last_ = 0;
    int records_ = 0;
};

int OwnRecordOutput::open(const OutputOpenParams& params, const char** failureKey)
{
    sound_ = params.sound;
    keyNext_ = false;
    failed_ = false;
    keyFrames_ = 0;
    if (!coder_.open(params)) {
        *failureKey = "startErr";
        return 0;
    }
    header_.build(params.width, params.height, params.framesPerSecond, sound_ ? &params.target : nullptr);
    if (!file_.open(params.fileName) || !file_.write(header_.bytes(), header_.size()) || !file_.flush()) {
        file_.close();
        *failureKey = "fileErr";
        return 0;
    }
    return 1;
}

void OwnRecordOutput::videoFrame(VideoFrameJob& job)
{
    const bool key = job.keyFrame || keyNext_;
    coder_.beginFrame(job, key, false);
    frame_.clear();
    RecordSink sink(frame_, key);
    size_t coded = 0;
    for (int i = 0; i < coder_.rectangleCount(); ++i)
        coded += coder_.codeRectangle(i, sink);
    // The frame's last region record carries its ticks; a frame that coded
    // nothing still ends with one, empty, for the last tile.
    if (sink.records() == 0) {
        const size_t at = frame_.size();
        frame_.resize(at + kOwnRegionHeader);
        putOwnRegionHeader(frame_.data() + at, key, 0, coder_.lastTile(), 0);
    }
    const size_t last = sink.records() ? sink.lastRecord() : frame_.size() - kOwnRegionHeader;
    frame_[last + 3] = static_cast<uint8_t>(std::clamp<uint32_t>(job.advance, 1, 255));

    const CursorUpdate& c = coder_.cursor();
    const size_t at = frame_.size();
    frame_.resize(at + kOwnRecordHeader + (c.changed ? kCursorPositionBytes + c.picture.size() : 0));
    putOwnCursorHeader(frame_.data() + at, c.changed, c.picture.size());
    if (c.changed) {
        putLE16(frame_.data() + at + 4, static_cast<uint32_t>(std::clamp(c.x, 0, 0xFFFF)));
        putLE16(frame_.data() + at + 6, static_cast<uint32_t>(std::clamp(c.y, 0, 0xFFFF)));
        std::copy(c.picture.begin(), c.picture.end(), frame_.begin() + static_cast<long>(at + 8));
    }
    keyNext_ = coder_.lost();
    job.produced = true;
    job.codedBytes = static_cast<uint32_t>(coded);
    SessionGuard g(*job.lock);
    writeFrame(frame_.data(), frame_.size(), key);
}

int OwnRecordOutput::writeFrame(const uint8_t* data, size_t length, bool key)
{
    if (failed())
        return 0;
    if (key) {
        ++keyFrames_;
        // The index entry goes into the head at once, so a killed recording
        // keeps it. A full index stops indexing; the records are never touched.
        const uint64_t here = file_.tell();
        if (here <= UINT32_MAX && header_.setKeyFrameOffset(keyFrames_, static_cast<uint32_t>(here))) {
            const size_t entry = header_.formatEnd() + 4 * size_t(keyFrames_);
            file_.seek(entry);
            file_.write(header_.bytes() + entry, 4);
            file_.seek(here);
        }
    }
    file_.write(data, length);
    return file_.flush();
}

void OwnRecordOutput::soundMp3(const uint8_t* data, size_t length, uint64_t)
{
    if (failed() || length == 0)
        return;
    // A captured buffer's MP3 is far below the record's limit; a larger one
    // goes in pieces, which decode as one stream.
    uint8_t h[kOwnSoundHeader];
    for (size_t at = 0; at < length;) {
        const size_t n = std::min(length - at, kMaxOwnSoundBytes);
        putOwnSoundHeader(h, n);
        file_.write(h, sizeof h);
        file_.write(data + at, n);
        at += n;
    }
    file_.flush();
}

int OwnRecordOutput::close(uint32_t framesCounted, int framesPerSecond)
{
    if (!file_.isOpen())
        return 1;
    header_.setDuration(framesCounted, framesPerSecond);
    if (!file_.error()) {
        file_.seek(0);
        file_.write(header_.bytes(), OwnRecordHeader::kHeaderSize);
    }
    return file_.close() && !failed_;
}

} // namespace quillet
