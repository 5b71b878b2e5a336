#include "engine/session/OwnRecordHeader.h"

#include <cstring>

#include "base/ByteOrder.h"

namespace quillet {

// The index slot right after the format blocks is not used; entry k is at
// formatEnd + 4k and must end before the reserved area's last 4 bytes (214).
constexpr uint32_t kIndexLimit = 214;

void OwnRecordHeader::build(int width, int height, int framesPerSecond, const AudioTargetFormat* audio)
{
    std::memset(bytes_, 0, sizeof bytes_);
    uint8_t* p = bytes_;
    putLE16(p + 0, kMagic);
    putLE16(p + 2, kFirstRecordOffset);
    p[4] = static_cast<uint8_t>(framesPerSecond);
    p[5] = 0;
    p[6] = audio ? 1 : 0;
    p[7] = 0;
    putLE32(p + 8, 0); // duration, written at stop
    putLE16(p + 12, kHeaderSize);
    putLE32(p + 16, 0);

    uint8_t* v = p + kHeaderSize;
    putLE32(v + 0, 40);                    // size of the bitmap block
    putLE32(v + 4, static_cast<uint32_t>(width));
    putLE32(v + 8, static_cast<uint32_t>(height));
    putLE16(v + 12, 1);                    // planes
    putLE16(v + 14, 16);                   // bits per pixel
    putLE32(v + 16, kVideoCompression);
    putLE32(v + 20, static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 2); // image size
    // v + 24 .. v + 43: four zero fields and 4 zero bytes

    size_t end = kHeaderSize + kVideoFormatSize;
    if (audio) {
        audio->serialize(p + end);
        end += AudioTargetFormat::kRecordSize;
    }
    formatEnd_ = static_cast<uint16_t>(end);
    putLE16(p + 14, formatEnd_);
}

void OwnRecordHeader::setDuration(uint32_t framesCounted, int framesPerSecond)
{
    const uint32_t fps = framesPerSecond < 1 ? 1u : static_cast<uint32_t>(framesPerSecond);
    putLE32(bytes_ + 8, static_cast<uint32_t>(static_cast<uint64_t>(framesCounted) * 1000 / fps));
}

uint32_t OwnRecordHeader::indexCapacity() const
{
    return formatEnd_ >= kIndexLimit ? 0 : (kIndexLimit - formatEnd_) / 4;
}

int OwnRecordHeader::setKeyFrameOffset(uint32_t k, uint32_t fileOffset)
{
    if (k == 0 || k > indexCapacity())
        return 0;
    putLE32(bytes_ + formatEnd_ + 4 * k, fileOffset);
    return 1;
}

} // namespace quillet
