#include "engine/playback/OwnRecordReader.h"

#include <sys/stat.h>

#include "base/ByteOrder.h"
#include "engine/AudioFormats.h"
#include "engine/session/OwnRecordHeader.h"

namespace quillet {

namespace {

constexpr size_t kReadBuffer = 1 << 18;

bool knownType(uint8_t t)
{
    return t == OwnRecordRegion || t == OwnRecordRegionKey || t == OwnRecordCursor || t == OwnRecordSound;
}

} // namespace

OwnRecordReader::~OwnRecordReader()
{
    close();
}

void OwnRecordReader::close()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

bool OwnRecordReader::looksLikeOwnRecord(const uint8_t* first, size_t n)
{
    return n >= 4 && getLE16(first) == OwnRecordHeader::kMagic;
}

int OwnRecordReader::fail(uint64_t at, const std::string& what)
{
    error_ = path_ + ": " + what + " at offset " + std::to_string(at);
    return 0;
}

int OwnRecordReader::readAt(uint64_t pos, void* data, size_t n)
{
    if (pos > fileSize_ || n > fileSize_ - pos)
        return 0;
    if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0)
        return 0;
    return std::fread(data, 1, n, file_) == n;
}

int OwnRecordReader::open(const std::string& path)
{
    close();
    head_ = OwnRecordHead{};
    damaged_ = false;
    error_.clear();
    path_ = path;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        error_ = path + ": cannot be opened";
        return 0;
    }
    // Records are walked in file order: a large buffer keeps that to one
    // read per buffer, seeks inside it included.
    buffer_.resize(kReadBuffer);
    setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0) {
        error_ = path + ": cannot be read";
        return 0;
    }
    fileSize_ = static_cast<uint64_t>(st.st_size);

    uint8_t h[OwnRecordHeader::kFirstRecordOffset];
    if (fileSize_ < 20 || !readAt(0, h, 20) || getLE16(h) != OwnRecordHeader::kMagic)
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
    if (!file_ || damaged_)
        return 0;
    if (pos_ >= fileSize_)
        return 0;
    uint8_t h[4];
    if (fileSize_ - pos_ < sizeof h) {
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
    if (length > fileSize_ - pos_ - sizeof h) {
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
    if (!file_ || offset < firstRecord_ || offset > fileSize_)
        return fail(offset, "no record");
    pos_ = offset;
    damaged_ = false;
    return 1;
}

} // namespace quillet
