#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/AudioFormats.h"

namespace quillet {

// The head of the program's own record file: a 20-byte header, the 44-byte
// video format, the 30-byte audio target format when sound is recorded, and a
// reserved area up to offset 218 that holds the key-frame index. Records start
// at offset 218. All fields little-endian.
class OwnRecordHeader {
public:
    static constexpr uint16_t kMagic = 0x524B; // bytes "K", "R"
    static constexpr uint16_t kFirstRecordOffset = 218;
    static constexpr uint16_t kHeaderSize = 20;
    static constexpr size_t kVideoFormatSize = 44; // 40-byte bitmap block + 4 zero bytes
    static constexpr uint32_t kVideoCompression = 22;

    // Lays out the whole head for a recording. width and height are the output
    // size; fps the frame rate; audio is null without sound.
    void build(int width, int height, int framesPerSecond, const AudioTargetFormat* audio);

    // The duration field, written at stop: framesCounted * 1000 / fps.
    void setDuration(uint32_t framesCounted, int framesPerSecond);

    // Enters the file offset of the k-th key frame (k from 1). Returns 0 when the
    // reserved area has no room for entry k: indexing then stops and the
    // records after offset 218 are never touched.
    int setKeyFrameOffset(uint32_t k, uint32_t fileOffset);
    // Number of index entries the reserved area holds: 37 without sound, 30 with.
    uint32_t indexCapacity() const;

    // Offset at which the format blocks end (the value at offset 14).
    uint16_t formatEnd() const { return formatEnd_; }
    const uint8_t* bytes() const { return bytes_; }
    static constexpr size_t size() { return kFirstRecordOffset; }

private:
    uint8_t bytes_[kFirstRecordOffset] = {};
    uint16_t formatEnd_ = 0;
};

// Record type bytes of the own record file.
enum OwnRecordType : uint8_t {
    OwnRecordRegion = 100,
    OwnRecordCursor = 101,
    OwnRecordSound = 102,
    OwnRecordRegionKey = 108,
};

} // namespace quillet
