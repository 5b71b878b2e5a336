#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "video/screen/ScreenCodec.h"

// Decodes a "QVS2" recording frame by frame into one picture that each frame
// updates in place: region records through ScreenCodec in decoding mode, and
// the H.264 side data with libavcodec, whose picture supplies the units the
// coder sent there. Lives in its own library (quillet_video_screen_decode)
// so that the coder does not depend on a decoder library.
//
// Per frame, in the order the AVI packet stores them: reset() when the frame
// is a key frame, decode_side_data() for the frame's side data (all of its
// chunks joined into one buffer), then decode_region() for each region
// record in order. The own record file carries no side data.
//
// Every read is bounds-checked: damaged input gives 0 and last_error() with
// the reason and the offset, never a read outside the data. After a region
// error the picture keeps what was decoded, and the decoder waits for the
// next key frame: until reset() every further decode_region() fails. Side
// data that does not decode only costs the units it carries, which keep
// showing the last picture that did.
//
// The picture is the decoder's memory of the screen: a block that a region
// codes as unchanged is not painted again. Draw anything else (the cursor)
// on a copy.
// Not thread-safe.
namespace quillet {

class ScreenDecoder {
public:
    ScreenDecoder();
    ~ScreenDecoder();
    ScreenDecoder(const ScreenDecoder&) = delete;
    ScreenDecoder& operator=(const ScreenDecoder&) = delete;

    // Frames of width x height pixels (1 .. 65535 each). Allocates the
    // picture (black) and resets. Returns 1 or 0.
    int init(int32_t width, int32_t height);

    // At every key frame, before its data.
    void reset();

    // One region record's rectangle (inclusive, picture coordinates) and its
    // coded bytes. Returns 1 or 0.
    int decode_region(const Rect& rect, const uint8_t* data, size_t length);
    // One frame's side data: an H.264 Annex B access unit. Returns 1 or 0.
    int decode_side_data(const uint8_t* data, size_t length);

    // The decoded picture (bottom-up BGRX, see ScreenPicture.h).
    const ScreenPicture& picture() const { return picture_; }
    ScreenPicture& picture() { return picture_; }
    const ScreenCodecError& last_error() const;
    // See ScreenCodec::lossy_blocks().
    const uint8_t* lossy_blocks() const;

    int32_t width() const { return picture_.width; }
    int32_t height() const { return picture_.height; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    ScreenPicture picture_;
};

} // namespace quillet
