#include "engine/playback/RecordingSource.h"

#include <cstdio>

#include "base/ByteOrder.h"
#include "engine/session/OwnRecordHeader.h"
#include "mux/avi/AviFormat.h"

namespace quillet {

using namespace records;

SoundTrackFormat soundTrackFormat(const uint8_t* w, size_t size)
{
    SoundTrackFormat f;
    if (!w || size < avi::kWaveFormatBase)
        return f;
    f.formatTag = static_cast<uint16_t>(getLE16(w));
    f.channels = static_cast<uint16_t>(getLE16(w + 2));
    f.sampleRate = getLE32(w + 4);
    f.avgBytesPerSecond = getLE32(w + 8);
    f.present = f.channels > 0 && f.sampleRate > 0;
    return f;
}

RecordingSource::RecordingSource() = default;
RecordingSource::~RecordingSource() = default;

int RecordingSource::open(const std::string& path)
{
    path_ = path;
    avi_.reset();
    own_.reset();
    ticks_ = 0;
    gathering_ = awaitingCursor_ = holding_ = false;
    error_.clear();
    warning_.clear();
    sound_ = SoundTrackFormat{};

    uint8_t first[12] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error_ = path + ": cannot be opened";
        return 0;
    }
    const size_t n = std::fread(first, 1, sizeof first, f);
    std::fclose(f);

    if (n >= 12 && getLE32(first) == avi::kRiff && getLE32(first + 8) == avi::kAviForm) {
        kind_ = RecordingKind::Avi;
        avi_ = std::make_unique<AviReader>();
        if (!avi_->open(path)) {
            error_ = avi_->error();
            return 0;
        }
        const AviStreamInfo& v = avi_->stream(0);
        if (!v.present || v.type != avi::kVids || v.format.size() < avi::kBitmapInfoSize) {
            error_ = path + ": no video stream";
            return 0;
        }
        compression_ = getLE32(v.format.data() + 16);
        if (compression_ != avi::kScreenCodec) {
            error_ = path + ": the video is not the screen codec (QVS2) this program reads";
            return 0;
        }
        width_ = static_cast<int32_t>(getLE32(v.format.data() + 4));
        height_ = static_cast<int32_t>(getLE32(v.format.data() + 8));
        fps_ = v.scale ? static_cast<int>(v.rate / v.scale) : 0;
        declaredMs_ = fps_ > 0 ? static_cast<uint32_t>(uint64_t(v.length) * 1000 / fps_) : 0;
        const AviStreamInfo& a = avi_->stream(1);
        if (a.present && a.type == avi::kAuds)
            sound_ = soundTrackFormat(a.format.data(), a.format.size());
    } else if (OwnRecordReader::looksLikeOwnRecord(first, n)) {
        kind_ = RecordingKind::OwnRecord;
        own_ = std::make_unique<OwnRecordReader>();
        if (!own_->open(path)) {
            error_ = own_->error();
            return 0;
        }
        const OwnRecordHead& h = own_->head();
        width_ = h.width;
        height_ = h.height;
        fps_ = h.framesPerSecond;
        compression_ = h.compression;
        declaredMs_ = h.durationMs;
        if (h.sound)
            sound_ = soundTrackFormat(h.audioFormat.data(), h.audioFormat.size());
    } else if (n < sizeof first) {
        error_ = path + ": too short to be a recording (" + std::to_string(n) + " bytes)";
        return 0;
    } else {
        error_ = path + ": neither an AVI file nor a recording of this program";
        return 0;
    }
    if (width_ <= 0 || height_ <= 0 || width_ > kMaxPictureSide || height_ > kMaxPictureSide) {
        error_ = path + ": picture size " + std::to_string(width_) + "x" + std::to_string(height_) +
                 " out of range";
        return 0;
    }
    if (fps_ <= 0 || fps_ > kMaxFramesPerSecond) {
        error_ = path + ": frame rate " + std::to_string(fps_) + " out of range";
        return 0;
    }
    return 1;
}

uint64_t RecordingSource::fileSize() const
{
    return avi_ ? avi_->fileSize() : own_ ? own_->fileSize() : 0;
}

bool RecordingSource::damaged() const
{
    return !error_.empty() || (avi_ && avi_->damaged()) || (own_ && own_->damaged());
}

const std::string& RecordingSource::error() const
{
    if (!error_.empty())
        return error_;
    if (avi_ && avi_->damaged())
        return avi_->error();
    if (own_ && own_->damaged())
        return own_->error();
    return error_;
}

void RecordingSource::setScanOnly(bool on)
{
    scanOnly_ = on;
    // A region record's rectangle and a cursor's position are all a scan reads.
    if (own_)
        own_->setBodyLimit(on ? 8 : SIZE_MAX);
}

int RecordingSource::next()
{
    warning_.clear();
    if (avi_)
        return nextAvi();
    if (own_)
        return nextOwn();
    return End;
}

void RecordingSource::beginFrame(uint64_t offset)
{
    frame_.tick = ticks_;
    frame_.key = false;
    frame_.broken = false;
    frame_.offset = offset;
    frame_.regions.clear();
    frame_.sideData.clear();
    frame_.cursor = false;
    frame_.cursorPicture.clear();
    frame_.storage.clear();
}

int RecordingSource::nextAvi()
{
    AviChunk c;
    while (avi_->next(c)) {
        if (c.stream == 1) {
            soundSize_ = c.size;
            if (scanOnly_)
                soundBytes_.clear();
            else if (!avi_->read(c, soundBytes_))
                break;
            if (sound_.present)
                return Sound;
            continue;
        }
        if (c.size == 0) {
            ++ticks_; // a tick the capture had nothing new for
            continue;
        }
        beginFrame(c.headerOffset());
        if (scanOnly_) {
            // Byte 0 holds the key flag.
            AviChunk first = c;
            first.size = 1;
            if (!avi_->read(first, frame_.storage))
                break;
            frame_.key = (frame_.storage[0] & kAviNotKeyFrame) == 0;
            ++ticks_;
            return Frame;
        }
        if (!avi_->read(c, frame_.storage))
            break;
        AviFramePacket p;
        size_t badAt = 0;
        const char* why = "";
        if (!parseAviFramePacket(frame_.storage.data(), frame_.storage.size(), p, &badAt, &why)) {
            frame_.broken = true;
            warning_ = path_ + ": " + why + " at offset " + std::to_string(c.offset + badAt);
        } else {
            frame_.key = p.keyFrame;
            for (const CodedRegion& r : p.regions) {
                const size_t at = static_cast<size_t>(r.data - frame_.storage.data());
                frame_.regions.push_back({r.rect, at, r.size, c.offset + at});
            }
            frame_.sideData = std::move(p.sideData);
            frame_.cursor = p.cursor;
            frame_.cursorX = p.cursorX;
            frame_.cursorY = p.cursorY;
            if (p.cursorPicture)
                frame_.cursorPicture.assign(p.cursorPicture, p.cursorPicture + p.cursorPictureSize);
        }
        ++ticks_;
        return Frame;
    }
    return End;
}

int RecordingSource::takeOwnRegion(const OwnRecord& r)
{
    if (r.body.size() < kOwnRegionHeader - kOwnRecordHeader) {
        error_ = path_ + ": region record shorter than its rectangle at offset " + std::to_string(r.offset);
        return 0;
    }
    if (!gathering_) {
        beginFrame(r.offset);
        frame_.key = r.type == OwnRecordRegionKey;
        gathering_ = true;
    }
    const uint8_t* b = r.body.data();
    const Rect rect{int32_t(getLE16(b)), int32_t(getLE16(b + 2)), int32_t(getLE16(b + 4)), int32_t(getLE16(b + 6))};
    const size_t n = r.body.size() - 8;
    if (n > 0) {
        if (rect.right < rect.left || rect.bottom < rect.top) {
            error_ = path_ + ": region with a negative size at offset " + std::to_string(r.offset);
            return 0;
        }
        frame_.regions.push_back({rect, frame_.storage.size(), n, r.offset + kOwnRegionHeader});
        frame_.storage.insert(frame_.storage.end(), b + 8, b + 8 + n);
    }
    if (r.flag != 0) {
        pendingAdvance_ = r.flag;
        awaitingCursor_ = true;
    }
    return 1;
}

int RecordingSource::nextOwn()
{
    auto emit = [this]() {
        gathering_ = false;
        awaitingCursor_ = false;
        ticks_ += pendingAdvance_;
        pendingAdvance_ = 0;
        return Frame;
    };
    for (;;) {
        OwnRecord& r = holding_ ? held_ : record_;
        if (!holding_ && !own_->next(record_)) {
            // The last frame counts when its closing region record was read.
            if (awaitingCursor_)
                return emit();
            return End;
        }
        holding_ = false;
        switch (r.type) {
        case OwnRecordSound:
            if (r.body.empty())
                continue;
            soundBytes_.assign(r.body.begin() + 1, r.body.end()); // after the reserved byte
            soundSize_ = r.length - 1;
            if (sound_.present)
                return Sound;
            continue;
        case OwnRecordCursor:
            if (r.body.size() >= kCursorPositionBytes) {
                frame_.cursor = true;
                frame_.cursorX = static_cast<int32_t>(getLE16(r.body.data()));
                frame_.cursorY = static_cast<int32_t>(getLE16(r.body.data() + 2));
                frame_.cursorPicture.assign(r.body.begin() + kCursorPositionBytes, r.body.end());
            }
            if (awaitingCursor_)
                return emit();
            continue;
        default: // a region record
            if (awaitingCursor_) {
                // The frame had no cursor record; this region starts the next.
                held_ = std::move(r);
                holding_ = true;
                return emit();
            }
            if (!takeOwnRegion(r))
                return End;
            continue;
        }
    }
}

int RecordingSource::seek(uint64_t offset, uint32_t tick)
{
    gathering_ = awaitingCursor_ = holding_ = false;
    pendingAdvance_ = 0;
    error_.clear();
    ticks_ = tick;
    if (avi_)
        return avi_->seekToChunk(offset);
    if (own_)
        return own_->seek(offset);
    return 0;
}

} // namespace quillet
