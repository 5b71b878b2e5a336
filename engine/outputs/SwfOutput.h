#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/outputs/MediaOutput.h"
#include "mux/swf/SwfCharacter.h"
#include "mux/swf/SwfPlayerShell.h"
#include "mux/swf/SwfWriter.h"
#include "video/BlockCoder.h"
#include "video/JpegEncoder.h"
#include "video/swf/SwfBlockCoder.h"

namespace quillet {

// SWF: the screen as bitmaps in the display list, with MP3 stream sound.
//
// Block mode (quality level 4, and the other levels when the file cannot
// carry its player): every changed rectangle becomes a bitmap drawn by a
// rectangle shape at its place; a key frame removes everything and places the
// whole screen again.
// Player mode (levels 0 to 3): the file starts with the player's tags and a
// size marker; each frame's changed 16x16 blocks go off stage as one lossless
// bitmap and one JPEG mosaic, and the player copies them into its picture.
//
// The cursor is a shape at depth 310 moved to the pointer. Sound: one stream
// block per captured buffer; a buffer that finds no frame shown since the
// previous one first shows one, so the sound keeps its place in time.
class SwfOutput final : public MediaOutput {
public:
    static constexpr uint16_t kCursorDepth = 310;
    // The size marker sits above the range key frames clear (1 .. 309).
    static constexpr uint16_t kSizeMarkerDepth = 311;
    static constexpr uint32_t kBackgroundBgr = 0x000A0A0A;
    // The recording stops before a character ID would pass these.
    static constexpr uint32_t kStopCharacterId = 0xFFFA;
    static constexpr uint32_t kLastCharacterId = 0xFFFF;
    // Players handle at most 16000 frames; recordings end before.
    static constexpr uint32_t kMaxFrames = 15998;
    static constexpr int kMaxSeconds = 300;
    // Block mode widens rectangles to at least this size.
    static constexpr int kMinRectSide = 16;
    // Level 2 adapts the JPEG quality by the bytes of each frame.
    static constexpr int kAdaptiveLevel = 2;
    static constexpr size_t kAdaptLowBytes = 10000;
    static constexpr size_t kAdaptHighBytes = 20000;
    static constexpr int kAdaptStep = 5;
    static constexpr int kAdaptMaxQuality = 85;
    static constexpr int kAdaptMinQuality = 20;
    static constexpr uint8_t kLosslessMarkBlue = 177;

    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return sound_; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t*, size_t, const uint32_t*, const uint32_t*, int) override {}
    void soundMp3(const uint8_t* data, size_t length, uint64_t endMs) override;
    uint32_t soundMp3Buffer(const uint8_t* data, size_t length, uint32_t pcmBytes, uint64_t endMs) override;
    uint32_t placedImageCount() const override { return depth_; }
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return writer_.Failed(); }

    // Replaces the built-in player shell for the next open (tests).
    void setPlayerShell(const SwfPlayerShell& shell)
    {
        shell_ = shell;
        shellSet_ = true;
    }
    bool playerMode() const { return playerMode_; }
    int jpegQuality() const { return jpegQuality_; }
    uint32_t nextCharacterId() const { return nextId_; }
    const SwfWriter& writer() const { return writer_; }

private:
    using CharacterList = std::vector<std::unique_ptr<SwfCharacter>>;

    uint16_t takeId() { return static_cast<uint16_t>(nextId_++); }
    void defineCursor();
    void writeSizeMarker();
    // The bitmap of one coded image and the shape that draws it at (x, y).
    void addPicture(CharacterList& list, const uint8_t* image, size_t length, uint16_t tag, int width, int height,
                    int x, int y);
    // Codes the frame; the characters come back in placement order. Returns
    // the coded bytes.
    size_t codeBlockMode(const ScreenFrame& frame, std::vector<Rect>& rects, bool& key, CharacterList& list);
    size_t codePlayerMode(const ScreenFrame& frame, const std::vector<Rect>& rects, bool key, uint32_t frameNumber,
                          CharacterList& list);
    void moveCursor(VideoFrameJob& job);

    SwfWriter writer_;
    SwfPlayerShell shell_;
    bool shellSet_ = false;
    bool sound_ = false;
    bool playerMode_ = false;
    bool jpegBlocks_ = false; // block mode codes JPEG bitmaps (levels 0 to 3)
    int width_ = 0, height_ = 0;
    int framesPerSecond_ = 12;
    int qualityLevel_ = 4;
    int jpegQuality_ = 90;
    uint32_t chunkSamples_ = 0;
    uint32_t nextId_ = 1;
    uint16_t depth_ = 1;
    int64_t runningOffset_ = 0;
    uint32_t framesSinceSound_ = 0; // guarded by the session lock
    std::unique_ptr<SwfShape> cursorShape_;
    bool cursorPlaced_ = false;

    BlockCoder blockCoder_;
    SwfBlockCoder playerCoder_;
    JpegEncoder jpeg_;
    std::vector<uint8_t> pixels_; // 24-bit copies for JPEG bitmaps
    std::vector<uint8_t> coded_;
};

} // namespace quillet
