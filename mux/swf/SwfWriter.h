#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/OutputSink.h"
#include "mux/swf/SwfCharacter.h"
#include "mux/swf/SwfRecords.h"

namespace quillet {

// Writes an uncompressed SWF file (signature "FWS", version 9) straight
// through: tags go to a buffered file as they come, and Close() rewrites the
// header with the final file length and frame count and appends End.
//
// Every operation adds the bytes it writes to bytesAfterHeader(), also when
// no file is open (it then writes nothing), so the length a file would have
// can be known without one.
//
// Results: 1 success, 0 failure. A failed write is sticky (failed()).
// Not thread-safe: the recording lock serialises all calls.
class SwfWriter {
public:
    static constexpr uint8_t kVersion = 9;
    // Until Open: a 200 x 200 pixel stage at 12 frames per second.
    static constexpr int kDefaultSizePixels = 200;
    static constexpr uint16_t kDefaultFrameRate = 12 * 256;
    // SoundStreamHead2 for MP3 at 11025 Hz, 16-bit mono: the playback and
    // stream format bytes.
    static constexpr uint8_t kSoundPlaybackFormat = 0x06;
    static constexpr uint8_t kSoundStreamFormat = 0x26;

    SwfWriter() = default;
    SwfWriter(const SwfWriter&) = delete;
    SwfWriter& operator=(const SwfWriter&) = delete;

    // Creates the file ("wb"), sets the stage size (pixels) and frame rate,
    // writes the header; the frame count starts at 0. Returns 0 when already
    // open or the file cannot be created.
    int Open(const char* path, float width, float height, int frameRate);
    // The header at the current position, with length = bytesAfterHeader +
    // RECT size + 14, then FileAttributes (ActionScript 3); bytesAfterHeader
    // becomes 6.
    int WriteHeader();
    // colour as 0x00BBGGRR.
    int SetBackgroundColor(uint32_t bgr);
    int ShowFrame();
    // The character's definition tag; with `place` (and not a bitmap) also a
    // PlaceObject2 of the new character at `depth` with its matrix.
    int DefineCharacter(SwfCharacter& character, uint16_t depth, bool place);
    // A PlaceObject2 that moves the character at `depth` to its current
    // matrix; colorTransform may be null; ratio counts for morph shapes only.
    int PlaceCharacter(const SwfCharacter& character, uint16_t depth, const SwfColorTransform* colorTransform,
                       uint16_t ratio);
    int RemoveObject(uint16_t depth);
    int WriteSoundStreamHead(uint16_t samplesPerFrame);
    int WriteSoundBlock(const uint8_t* mp3, size_t length, uint16_t sampleCount);
    int WriteRaw(const uint8_t* data, size_t length);
    // Rewrites the header for the file as it stands, as if End followed now,
    // and hands everything to the system: a recording killed later still
    // plays up to here. The file position stays at the end.
    int Refresh();
    // Rewrites the header with the final length and frame count, appends End
    // and closes. Returns 0 when a write failed since Open (the file keeps
    // what was written).
    int Close();

    bool IsOpen() const { return file_.isOpen(); }
    bool Failed() const { return file_.error(); }
    uint16_t FrameCount() const { return frameCount_; }
    uint32_t BytesAfterHeader() const { return bytesAfterHeader_; }
    const SwfRect& FrameSize() const { return frameSize_; }
    uint16_t FrameRate() const { return frameRate_; }

private:
    int emit(const uint8_t* data, size_t length);
    int emit(const std::vector<uint8_t>& bytes) { return emit(bytes.data(), bytes.size()); }

    std::string path_;
    SwfRect frameSize_{0, kDefaultSizePixels * kTwipsPerPixel, 0, kDefaultSizePixels * kTwipsPerPixel};
    uint16_t frameRate_ = kDefaultFrameRate;
    uint16_t frameCount_ = 0;
    uint32_t bytesAfterHeader_ = 0;
    FileSink file_;
    std::vector<uint8_t> scratch_;
};

} // namespace quillet
