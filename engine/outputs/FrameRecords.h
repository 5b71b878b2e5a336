#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScreenFrame.h"

// What one coded frame of the screen codec looks like inside its container,
// for the writers (AVI, own record file) and the reader alike. All values are
// little-endian.
//
// AVI frame packet (one chunk per frame):
//   byte 0        number of records, OR 0x20 when the frame is not a key frame
//   side data     records of u16 length (data + 10), u16 10000, three u16 0,
//                 then up to 64000 bytes of the codec's H.264 side data; a
//                 chunk shorter than 64000 bytes ends the side data (a full
//                 last chunk is followed by an empty one)
//   regions       records of u16 length (data + 10), u16 left, top, right,
//                 bottom (inclusive), then the coded region
//   cursor        only when it moved or changed shape: u16 x, u16 y, then the
//                 LZO1X-compressed 32 × 32 picture when the shape changed
//
// Own record file records (after the 218-byte head):
//   region        u16 length (data + 8), u8 108 (key frame) or 100, u8 frame
//                 ticks to advance (non-zero on the frame's last region
//                 record), u16 left, top, right, bottom, the coded region
//   cursor        u16 length (picture + 4, 0 when unchanged), u8 101, u8 0;
//                 when changed u16 x, u16 y and the compressed picture
//   sound         u16 length (data + 1), u8 102, u8 1, u8 0, MP3 bytes
// Every own-file record is its length field plus 4 bytes long.
namespace quillet::records {

constexpr uint8_t kAviNotKeyFrame = 0x20;
// The record count shares byte 0 with the not-key bit, so a packet holds at
// most 31 records.
constexpr int kAviMaxRecords = 31;
constexpr size_t kAviRecordHeader = 10;
constexpr uint16_t kAviSideDataMarker = 10000;
constexpr size_t kSideDataChunk = 64000;
// Largest coded region either container takes (its record length is 16-bit).
constexpr size_t kMaxRegionBytes = 65500;
constexpr size_t kCursorPositionBytes = 4;

constexpr size_t kOwnRecordHeader = 4; // length, type, advance / flag
constexpr size_t kOwnRegionHeader = 12;
constexpr size_t kOwnSoundHeader = 5;
// A sound record's length field counts the reserved byte too.
constexpr size_t kMaxOwnSoundBytes = 0xFFFF - 1;

} // namespace quillet::records

namespace quillet {

// Builds one AVI frame packet. Regions are added as they are coded, side data
// after them, the cursor last; finish() lays them out in packet order.
class AviPacketBuilder {
public:
    void begin();
    // Room for one coded region of up to `capacity` bytes; commitRegion then
    // takes `length` of them as the next region record. Returns 0 when the
    // region is too large for its record or the packet has no record left.
    uint8_t* regionSpace(size_t capacity);
    int commitRegion(const Rect& rect, size_t length);
    // The codec's side data, cut into chunks. Returns 0 (and adds nothing)
    // when the chunks would take the packet past its record limit.
    int addSideData(const uint8_t* data, size_t length);
    // The cursor trailer; picture may be empty (a move only).
    void setCursor(int32_t x, int32_t y, const uint8_t* picture, size_t pictureLength);
    // The finished packet.
    size_t finish(bool keyFrame);
    const uint8_t* data() const { return packet_.data(); }
    int records() const { return regionCount_ + sideChunks_; }

private:
    std::vector<uint8_t> regions_;
    std::vector<uint8_t> side_;
    std::vector<uint8_t> cursor_;
    std::vector<uint8_t> packet_;
    size_t pendingAt_ = 0;
    int regionCount_ = 0;
    int sideChunks_ = 0;
    bool hasCursor_ = false;
};

// One region record as a reader finds it.
struct CodedRegion {
    Rect rect; // inclusive
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// An AVI frame packet taken apart. Pointers point into the packet.
struct AviFramePacket {
    bool keyFrame = false;
    std::vector<CodedRegion> regions;
    std::vector<uint8_t> sideData; // the chunks joined
    bool cursor = false;
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    const uint8_t* cursorPicture = nullptr; // null when only the position changed
    size_t cursorPictureSize = 0;
};

// Takes a packet apart. Returns 1, or 0 with *badAt set to the offset inside
// the packet where a record does not fit and *why to what is wrong.
int parseAviFramePacket(const uint8_t* packet, size_t size, AviFramePacket& out, size_t* badAt, const char** why);

// Own record file: the record header of a region, a cursor and a sound record.
void putOwnRegionHeader(uint8_t* h, bool keyFrame, uint8_t advance, const Rect& rect, size_t dataLength);
void putOwnCursorHeader(uint8_t* h, bool changed, size_t pictureLength);
void putOwnSoundHeader(uint8_t* h, size_t dataLength);

} // namespace quillet
