#include "engine/outputs/FrameRecords.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "engine/session/OwnRecordHeader.h"

namespace quillet {

using namespace records;

namespace {

void putRecordHeader(uint8_t* h, size_t dataLength, uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    putLE16(h + 0, static_cast<uint32_t>(dataLength + kAviRecordHeader));
    putLE16(h + 2, a);
    putLE16(h + 4, b);
    putLE16(h + 6, c);
    putLE16(h + 8, d);
}

} // namespace

void AviPacketBuilder::begin()
{
    regions_.clear();
    side_.clear();
    cursor_.clear();
    regionCount_ = 0;
    sideChunks_ = 0;
    hasCursor_ = false;
}

uint8_t* AviPacketBuilder::regionSpace(size_t capacity)
{
    pendingAt_ = regions_.size();
    regions_.resize(pendingAt_ + kAviRecordHeader + capacity);
    return regions_.data() + pendingAt_ + kAviRecordHeader;
}

int AviPacketBuilder::commitRegion(const Rect& rect, size_t length)
{
    if (length == 0 || length > kMaxRegionBytes || records() >= kAviMaxRecords ||
        pendingAt_ + kAviRecordHeader + length > regions_.size()) {
        regions_.resize(pendingAt_);
        return 0;
    }
    putRecordHeader(regions_.data() + pendingAt_, length, static_cast<uint32_t>(rect.left),
                    static_cast<uint32_t>(rect.top), static_cast<uint32_t>(rect.right),
                    static_cast<uint32_t>(rect.bottom));
    regions_.resize(pendingAt_ + kAviRecordHeader + length);
    ++regionCount_;
    return 1;
}

int AviPacketBuilder::addSideData(const uint8_t* data, size_t length)
{
    if (length == 0)
        return 1;
    // A last chunk of exactly 64000 bytes needs an empty one behind it.
    const int chunks = static_cast<int>(length / kSideDataChunk) + 1;
    if (records() + chunks > kAviMaxRecords)
        return 0;
    size_t at = 0;
    for (int i = 0; i < chunks; ++i) {
        const size_t n = std::min(kSideDataChunk, length - at);
        const size_t o = side_.size();
        side_.resize(o + kAviRecordHeader + n);
        putRecordHeader(side_.data() + o, n, kAviSideDataMarker, 0, 0, 0);
        if (n)
            std::memcpy(side_.data() + o + kAviRecordHeader, data + at, n);
        at += n;
    }
    sideChunks_ += chunks;
    return 1;
}

void AviPacketBuilder::setCursor(int32_t x, int32_t y, const uint8_t* picture, size_t pictureLength)
{
    cursor_.resize(kCursorPositionBytes + pictureLength);
    putLE16(cursor_.data(), static_cast<uint32_t>(std::clamp(x, 0, 0xFFFF)));
    putLE16(cursor_.data() + 2, static_cast<uint32_t>(std::clamp(y, 0, 0xFFFF)));
    if (pictureLength)
        std::memcpy(cursor_.data() + kCursorPositionBytes, picture, pictureLength);
    hasCursor_ = true;
}

size_t AviPacketBuilder::finish(bool keyFrame)
{
    packet_.resize(1 + side_.size() + regions_.size() + (hasCursor_ ? cursor_.size() : 0));
    packet_[0] = static_cast<uint8_t>(records() | (keyFrame ? 0 : kAviNotKeyFrame));
    uint8_t* p = packet_.data() + 1;
    if (!side_.empty())
        std::memcpy(p, side_.data(), side_.size());
    p += side_.size();
    if (!regions_.empty())
        std::memcpy(p, regions_.data(), regions_.size());
    p += regions_.size();
    if (hasCursor_)
        std::memcpy(p, cursor_.data(), cursor_.size());
    return packet_.size();
}

int parseAviFramePacket(const uint8_t* packet, size_t size, AviFramePacket& out, size_t* badAt, const char** why)
{
    out = AviFramePacket{};
    auto bad = [&](size_t at, const char* what) {
        *badAt = at;
        *why = what;
        return 0;
    };
    if (size < 1)
        return bad(0, "empty frame packet");
    out.keyFrame = (packet[0] & kAviNotKeyFrame) == 0;
    const int count = packet[0] & ~kAviNotKeyFrame & 0xFF;
    size_t at = 1;
    bool sideOpen = true; // side data records come first, until a short chunk
    for (int i = 0; i < count; ++i) {
        if (size - at < kAviRecordHeader)
            return bad(at, "record header past the end of the frame");
        const size_t length = getLE16(packet + at);
        if (length < kAviRecordHeader)
            return bad(at, "record shorter than its header");
        if (length > size - at)
            return bad(at, "record length past the end of the frame");
        const uint8_t* h = packet + at;
        const size_t n = length - kAviRecordHeader;
        const bool side = sideOpen && getLE16(h + 2) == kAviSideDataMarker && getLE16(h + 4) == 0 &&
                          getLE16(h + 6) == 0 && getLE16(h + 8) == 0;
        if (side) {
            out.sideData.insert(out.sideData.end(), h + kAviRecordHeader, h + length);
            if (n < kSideDataChunk)
                sideOpen = false;
        } else {
            sideOpen = false;
            CodedRegion r;
            r.rect = Rect{int32_t(getLE16(h + 2)), int32_t(getLE16(h + 4)), int32_t(getLE16(h + 6)),
                          int32_t(getLE16(h + 8))};
            r.data = h + kAviRecordHeader;
            r.size = n;
            if (r.rect.right < r.rect.left || r.rect.bottom < r.rect.top)
                return bad(at, "region with a negative size");
            out.regions.push_back(r);
        }
        at += length;
    }
    if (at < size) {
        if (size - at < kCursorPositionBytes)
            return bad(at, "cursor record shorter than its position");
        out.cursor = true;
        out.cursorX = static_cast<int32_t>(getLE16(packet + at));
        out.cursorY = static_cast<int32_t>(getLE16(packet + at + 2));
        at += kCursorPositionBytes;
        if (at < size) {
            out.cursorPicture = packet + at;
            out.cursorPictureSize = size - at;
        }
    }
    return 1;
}

void putOwnRegionHeader(uint8_t* h, bool keyFrame, uint8_t advance, const Rect& rect, size_t dataLength)
{
    putLE16(h + 0, static_cast<uint32_t>(dataLength + 8));
    h[2] = keyFrame ? OwnRecordRegionKey : OwnRecordRegion;
    h[3] = advance;
    putLE16(h + 4, static_cast<uint32_t>(rect.left));
    putLE16(h + 6, static_cast<uint32_t>(rect.top));
    putLE16(h + 8, static_cast<uint32_t>(rect.right));
    putLE16(h + 10, static_cast<uint32_t>(rect.bottom));
}

void putOwnCursorHeader(uint8_t* h, bool changed, size_t pictureLength)
{
    putLE16(h + 0, changed ? static_cast<uint32_t>(pictureLength + kCursorPositionBytes) : 0u);
    h[2] = OwnRecordCursor;
    h[3] = 0;
}

void putOwnSoundHeader(uint8_t* h, size_t dataLength)
{
    putLE16(h + 0, static_cast<uint32_t>(dataLength + 1));
    h[2] = OwnRecordSound;
    h[3] = 1;
    h[4] = 0; // reserved
}

} // namespace quillet
