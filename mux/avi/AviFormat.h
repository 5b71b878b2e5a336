#pragma once
#include <cstddef>
#include <cstdint>

// Layout constants of the AVI files Quillet writes and reads: RIFF chunk
// identifiers, the sizes of the fixed header records, the index flags and the
// OpenDML (AVI 2.0) index records. All values are little-endian on disk.
namespace quillet::avi {

constexpr uint32_t fourcc(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kJunk = fourcc("JUNK");
constexpr uint32_t kAviForm = fourcc("AVI ");
constexpr uint32_t kAvixForm = fourcc("AVIX"); // continuation RIFF of an OpenDML file
constexpr uint32_t kHdrl = fourcc("hdrl");
constexpr uint32_t kAvih = fourcc("avih");
constexpr uint32_t kStrl = fourcc("strl");
constexpr uint32_t kStrh = fourcc("strh");
constexpr uint32_t kStrf = fourcc("strf");
constexpr uint32_t kIndx = fourcc("indx");
constexpr uint32_t kOdml = fourcc("odml");
constexpr uint32_t kDmlh = fourcc("dmlh");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kIdx1 = fourcc("idx1");
constexpr uint32_t kVids = fourcc("vids");
constexpr uint32_t kAuds = fourcc("auds");

// Chunk identifiers of the two streams: compressed video of stream 0, wave
// bytes of stream 1, and their standard index chunks.
constexpr uint32_t kVideoChunk = fourcc("00dc");
constexpr uint32_t kAudioChunk = fourcc("01wb");
constexpr uint32_t kVideoIndexChunk = fourcc("ix00");
constexpr uint32_t kAudioIndexChunk = fourcc("ix01");

// The stream code of the screen codec.
constexpr uint32_t kScreenCodec = fourcc("QVS2");

constexpr size_t kChunkHeader = 8;   // identifier, size
constexpr size_t kListHeader = 12;   // "LIST" or "RIFF", size, type
constexpr size_t kAvihSize = 56;
constexpr size_t kStrhSize = 56;
constexpr size_t kBitmapInfoSize = 40;
constexpr size_t kWaveFormatBase = 18; // WAVEFORMATEX before its extra bytes
constexpr size_t kDmlhSize = 248;
constexpr size_t kIdx1EntrySize = 16;

// avih flags: the file has an idx1 index; chunks of the streams alternate.
constexpr uint32_t kAvihHasIndex = 0x10;
constexpr uint32_t kAvihIsInterleaved = 0x100;
// idx1 flag of a sample that decodes without earlier ones.
constexpr uint32_t kIndexKeyFrame = 0x10;

// OpenDML indexes: a super index ("indx" in each stream list) points at the
// standard index chunks ("ix00", "ix01") that lie in the movi lists.
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr size_t kIndexHeaderSize = 24;     // both index kinds
constexpr size_t kSuperIndexEntrySize = 16; // offset u64, size u32, duration u32
constexpr size_t kStdIndexEntrySize = 8;    // offset u32, size u32
// Bit 31 of a standard index entry's size: not a key frame.
constexpr uint32_t kStdIndexDeltaFrame = 0x80000000u;

} // namespace quillet::avi
