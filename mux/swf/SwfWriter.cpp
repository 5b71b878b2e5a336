#include "mux/swf/SwfWriter.h"

namespace quillet {
namespace {

// FileAttributes, short form, length 4: the ActionScript 3 flag.
constexpr uint8_t kFileAttributes[6] = {0x44, 0x11, 0x08, 0x00, 0x00, 0x00};
// The header's fixed bytes besides the RECT, plus the End tag: signature,
// version, length, frame rate, frame count (12) and End (2).
constexpr uint32_t kHeaderAndEndBytes = 14;

} // namespace

int SwfWriter::emit(const uint8_t* data, size_t length)
{
    bytesAfterHeader_ += static_cast<uint32_t>(length);
    if (!file_.isOpen())
        return 1;
    return file_.write(data, length);
}

int SwfWriter::Open(const char* path, float width, float height, int frameRate)
{
    if (file_.isOpen() || path == nullptr)
        return 0;
    if (!file_.open(path))
        return 0;
    path_ = path;
    frameSize_ = SwfRect{0, toTwips(width), 0, toTwips(height)};
    frameRate_ = static_cast<uint16_t>(frameRate * 256);
    frameCount_ = 0;
    bytesAfterHeader_ = 0;
    return WriteHeader();
}

int SwfWriter::WriteHeader()
{
    scratch_.clear();
    scratch_.insert(scratch_.end(), {'F', 'W', 'S', kVersion});
    appendLE32(scratch_, bytesAfterHeader_ + static_cast<uint32_t>(frameSize_.byteSize()) + kHeaderAndEndBytes);
    {
        SwfBitWriter w(scratch_);
        frameSize_.write(w);
    }
    appendLE16(scratch_, frameRate_);
    appendLE16(scratch_, frameCount_);
    scratch_.insert(scratch_.end(), std::begin(kFileAttributes), std::end(kFileAttributes));
    const int ok = file_.isOpen() ? file_.write(scratch_.data(), scratch_.size()) : 1;
    bytesAfterHeader_ = sizeof kFileAttributes;
    return ok;
}

int SwfWriter::SetBackgroundColor(uint32_t bgr)
{
    const uint8_t tag[5] = {0x43, 0x02, uint8_t(bgr), uint8_t(bgr >> 8), uint8_t(bgr >> 16)};
    return emit(tag, sizeof tag);
}

int SwfWriter::ShowFrame()
{
    static constexpr uint8_t kTag[2] = {0x40, 0x00};
    ++frameCount_;
    return emit(kTag, sizeof kTag);
}

int SwfWriter::DefineCharacter(SwfCharacter& character, uint16_t depth, bool place)
{
    int ok = emit(character.data(), character.length());
    if (!place || character.type() == SwfCharacter::kBitmap)
        return ok;
    std::vector<uint8_t> body;
    body.push_back(0x02 | 0x04); // new character, matrix
    appendLE16(body, depth);
    appendLE16(body, character.id());
    {
        SwfBitWriter w(body);
        character.matrix().write(w);
    }
    scratch_.clear();
    appendSwfTagHeader(scratch_, kSwfTagPlaceObject2, static_cast<uint32_t>(body.size()), true);
    scratch_.insert(scratch_.end(), body.begin(), body.end());
    ok &= emit(scratch_);
    return ok;
}

int SwfWriter::PlaceCharacter(const SwfCharacter& character, uint16_t depth, const SwfColorTransform* colorTransform,
                              uint16_t ratio)
{
    const bool hasRatio = character.type() == SwfCharacter::kMorphShape;
    std::vector<uint8_t> body;
    body.push_back(static_cast<uint8_t>(0x01 | 0x04 | (colorTransform ? 0x08 : 0) | (hasRatio ? 0x10 : 0)));
    appendLE16(body, depth);
    {
        SwfBitWriter w(body);
        character.matrix().write(w);
        if (colorTransform)
            colorTransform->write(w);
    }
    if (hasRatio)
        appendLE16(body, ratio);
    scratch_.clear();
    appendSwfTagHeader(scratch_, kSwfTagPlaceObject2, static_cast<uint32_t>(body.size()), true);
    scratch_.insert(scratch_.end(), body.begin(), body.end());
    return emit(scratch_);
}

int SwfWriter::RemoveObject(uint16_t depth)
{
    const uint8_t tag[8] = {0x3F, 0x07, 2, 0, 0, 0, uint8_t(depth), uint8_t(depth >> 8)};
    return emit(tag, sizeof tag);
}

int SwfWriter::WriteSoundStreamHead(uint16_t samplesPerFrame)
{
    const uint8_t tag[8] = {0x46,          0x0B, kSoundPlaybackFormat, kSoundStreamFormat, uint8_t(samplesPerFrame),
                            uint8_t(samplesPerFrame >> 8), 0x00, 0x00};
    return emit(tag, sizeof tag);
}

int SwfWriter::WriteSoundBlock(const uint8_t* mp3, size_t length, uint16_t sampleCount)
{
    scratch_.clear();
    appendSwfTagHeader(scratch_, kSwfTagSoundStreamBlock, static_cast<uint32_t>(length + 4), true);
    appendLE16(scratch_, sampleCount);
    appendLE16(scratch_, 0); // seek samples
    int ok = emit(scratch_);
    ok &= emit(mp3, length);
    return ok;
}

int SwfWriter::WriteRaw(const uint8_t* data, size_t length) { return emit(data, length); }

int SwfWriter::Refresh()
{
    if (!file_.isOpen())
        return 0;
    const uint64_t end = file_.tell();
    const uint32_t counted = bytesAfterHeader_;
    int ok = file_.seek(0);
    ok &= WriteHeader();
    bytesAfterHeader_ = counted;
    ok &= file_.seek(end);
    ok &= file_.flush();
    return ok;
}

int SwfWriter::Close()
{
    if (!file_.isOpen())
        return 0;
    const uint64_t end = file_.tell();
    int ok = file_.seek(0);
    // The End tag is not written yet; the length already counts it.
    ok &= WriteHeader();
    ok &= file_.seek(end);
    static constexpr uint8_t kEnd[2] = {0x00, 0x00};
    ok &= file_.write(kEnd, sizeof kEnd);
    ok &= file_.close();
    return ok;
}

} // namespace quillet
