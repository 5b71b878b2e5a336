#include "engine/playback/OwnRecordReader.h"

#include "base/ByteOrder.h"
#include "engine/AudioFormats.h"
#include "engine/session/OwnRecordHeader.h"

namespace quillet {

namespace {

bool knownType(uint8_t t)
{
    return t == OwnRecordRegion || t == OwnRecordRegionKey || t == OwnRecordCursor || t == OwnRecordSound;
}

} // namespace

void OwnRecordReader::close()
{
    file_.close();
}

bool OwnRecordReader::looksLikeOwnRecord(const uint8_t* first, size_t n)
{
    return n >= 4 && getLE16(first) == OwnRecordHeader::kMagic;
}

int OwnRecordReader::fail(uint64_t at, const std::string& what)
{
    error_ = file_.damageAt(at, what);
    return 0;
}

int OwnRecordReader::open(const std::string& path)
{
    close();
    head_ = OwnRecordHead{};
    damaged_ = false;
    error_.clear();
    if (!file_.open(path, &error_))
        return 0;

    uint8_t h[OwnRecordHeader::kFirstRecordOffset];
    if (file_.size() < 20 || !readAt(0, h, 20) || getLE16(h) != OwnRecordHeader::kMagic)
        return fail(0, "not a recording of this program");
    const uint32_t first = getLE16(h + 2);
    const uint32_t headerSize = getLE16(h + 12);
    const uint32_t formatEnd = getLE16(h + 14);
    if (headerSize != OwnRecordHeader::kHeaderSize)
        return fail(12, "unknown header size");
    if (first < headerSize + OwnRecordHeader::kVideoFormatSize || formatEnd > first || formatEnd > sizeof h)
        return fail(2, "head of impossible size");
    const size_t headBytes = first > sizeof h ? sizeof h : first;
    if (!readAt(0, h, headBytes))
        return fail(0, "file cut inside its head");
    head_.framesPerSecond = h[4];
    head_.sound = h[6] != 0;
    head_.durationMs = getLE32(h + 8);
    head_.formatEnd = static_cast<uint16_t>(formatEnd);
    const uint8_t* v = h + headerSize;
    if (getLE32(v) != 40)
        return fail(headerSize, "unknown video format");
    head_.width = static_cast<int32_t>(getLE32(v + 4));
    head_.height = static_cast<int32_t>(getLE32(v + 8));
    head_.compression = getLE32(v + 16);
    if (head_.width <= 0 || head_.height <= 0 || head_.width > 0xFFFF || head_.height > 0xFFFF)
        return fail(headerSize + 4, "picture size out of range");
    if (head_.framesPerSecond <= 0)
        return fail(4, "frame rate of 0");
    const size_t audioAt = headerSize + OwnRecordHeader::kVideoFormatSize;
    if (head_.sound) {
        if (formatEnd < audioAt + AudioTargetFormat::kRecordSize)
            return fail(14, "sound format missing");
        head_.audioFormat.assign(h + audioAt, h + audioAt + AudioTargetFormat::kRecordSize);
    }
    // Index entry k sits at formatEnd + 4k; entries never set stay 0.
    for (size_t at = formatEnd + 4; at + 4 <= headBytes; at += 4) {
        const uint32_t off = getLE32(h + at);
        if (off == 0)
            break;
        head_.keyFrameOffsets.push_back(off);
    }
    firstRecord_ = first;
    pos_ = first;
    return 1;
}

int OwnRecordReader::next(OwnRecord& record)
{
    if (!file_.isOpen() || damaged_)
        return 0;
    if (pos_ >= file_.size())
        return 0;
    uint8_t h[4];
    if (file_.size() - pos_ < sizeof h) {
        damaged_ = true;
        return fail(pos_, "file cut inside a record header");
    }
    if (!readAt(pos_, h, sizeof h)) {
        damaged_ = true;
        return fail(pos_, "record header cannot be read");
    }
    const uint32_t length = getLE16(h);
    if (!knownType(h[2])) {
        damaged_ = true;
        return fail(pos_, "record of unknown type " + std::to_string(h[2]));
    }
    if (length > file_.size() - pos_ - sizeof h) {
        damaged_ = true;
        return fail(pos_, "record length past the end of the file");
    }
    record.type = h[2];
    record.flag = h[3];
    record.offset = pos_;
    record.length = length;
    const size_t keep = length < bodyLimit_ ? length : bodyLimit_;
    record.body.resize(keep);
    if (keep && !readAt(pos_ + sizeof h, record.body.data(), keep)) {
        damaged_ = true;
        return fail(pos_, "record cannot be read");
    }
    pos_ += sizeof h + length;
    return 1;
}

int OwnRecordReader::seek(uint64_t offset)
{
    if (!file_.isOpen() || offset < firstRecord_ || offset > file_.size())
        return fail(offset, "no record");
    pos_ = offset;
    damaged_ = false;
    return 1;
}

} // namespace quillet
