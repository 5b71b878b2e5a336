#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScreenFrame.h"
#include "video/I420Picture.h"

struct x264_t;

namespace quillet {

// What open() prepares the encoder for; the values are the mode numbers the
// recording code stores.
enum class H264InputMode : int32_t {
    Bgr24 = -1,  // 24-bit bottom-up frames, output as FLV video tags
    Bgra32 = -4, // 32-bit bottom-up frames (16-bit ones after expansion), FLV tags
    I420 = -2,   // I420Picture, output as Annex B with SPS/PPS before every IDR
};

// H.264 encoder on x264 for screen recordings.
//
// Calling order: construct -> set_input_mode -> set_bitrate -> open ->
// sequence_header_tag (pixel modes, once) -> encode per picture -> close.
// Not thread-safe: one thread at a time uses an instance.
//
// Buffers: every output buffer belongs to the caller, who passes its capacity.
// A result that does not fit is not written (nothing goes past the capacity)
// and the call returns 0. recommended_output_capacity() is always enough.
// Input frames and pictures are only read during the call.
//
// Coding: constant quantiser 26 (I pictures 23), Baseline-compatible (CAVLC,
// no B pictures, one reference), an IDR picture at least every 10 x fps
// pictures, no look-ahead: every encode() returns the picture just handed in.
class H264Encoder {
public:
    H264Encoder() = default;
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Chosen before open(); persists across opens. Bgr24 after construction.
    void set_input_mode(H264InputMode mode) { mode_ = mode; }
    H264InputMode input_mode() const { return mode_; }

    // bitrate = ((width + height) / 560)^2 * c in kbit/s, truncated and clamped
    // to 50..512. Callers pass c = (width + height) * q / 1120 (see
    // h264BitrateKbps). Persists across opens; 150 after construction. The
    // value reaches the library, but with the constant quantiser it does not
    // steer the coding.
    void set_bitrate(int32_t width, int32_t height, int32_t c);
    int16_t bitrate() const { return bitrate_; }

    // Closes any open encoder, resets frame_counter, and opens the library for
    // width x height pictures at fps frames per second (the byte is read as a
    // signed value and its magnitude used). Returns 1, or 0 for sizes the
    // library refuses (zero, negative, odd) or fps 0; the encoder is then closed.
    int open(int32_t width, int32_t height, uint8_t fps);

    // Pixel modes: encodes one bottom-up frame of exactly width x height pixels
    // (frame_bytes must be at least width * height * 3 or 4) and writes one
    // complete FLV video tag with its previous-tag size (see FlvAvcTags.h).
    // The tag timestamp is timestamp_ms.
    // Returns the bytes written, or 0 when the encoder is closed, is in planar
    // mode, the input is unusable, the library produced nothing, or the tag
    // did not fit (the next picture is then coded as an IDR picture so that
    // the stream stays decodable without the lost one).
    size_t encode(const uint8_t* frame, size_t frame_bytes, uint8_t* out, size_t out_capacity, uint32_t timestamp_ms);

    // Pixel modes, for frames of which only parts changed since the previous
    // call: converts just the rectangles in `changed` (upright coordinates,
    // inclusive right and bottom, as FrameTile::dirty; rectangles with
    // right <= left are skipped) into the encoder's kept picture, then encodes
    // as above. Every pixel that differs from the previous call's frame must
    // lie inside a rectangle, including the cursor's old and new places when
    // it is drawn into the frame. The first picture after open() and the one
    // after a failed call are converted whole whatever `changed` says.
    // With use_macroblock_hints set, every macroblock that no rectangle touches
    // is handed to the library as unchanged, which codes it as skipped without
    // analysing it; a rectangle left out therefore hides its change twice over.
    size_t encode_changed(const uint8_t* frame, size_t frame_bytes, const Rect* changed, size_t count, uint8_t* out,
                          size_t out_capacity, uint32_t timestamp_ms);

    // Planar mode: encodes an I420Picture of the opened size (flipped back when
    // its bottom_up flag is set) and writes an Annex B access unit with 4-byte
    // start codes; IDR access units begin with SPS and PPS. timestamp_ms is not
    // used. Returns as the pixel form does.
    size_t encode(const I420Picture& picture, uint8_t* out, size_t out_capacity, uint32_t timestamp_ms);
    // Planar mode for pictures of which only the areas in `changed` (as for
    // encode_changed) differ from the previous picture: the whole picture is
    // taken, and with use_macroblock_hints the macroblocks outside the areas
    // are handed to the library as unchanged. The first picture after open()
    // and the one after a failed call get no hints.
    size_t encode_changed(const I420Picture& picture, const Rect* changed, size_t count, uint8_t* out,
                          size_t out_capacity, uint32_t timestamp_ms);

    // Writes the FLV tag with the AVC sequence header of the open encoder
    // (FlvAvcTags.h); meant for the pixel modes, whose pictures carry no
    // parameter sets. Returns its length, or 0 when closed or it does not fit.
    size_t sequence_header_tag(uint8_t* out, size_t out_capacity, uint32_t timestamp_ms);

    // Closes the library encoder; always succeeds, safe to repeat.
    void close();

    bool is_open() const { return handle_ != nullptr; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // Output capacity that holds any coded picture of this size (the session's
    // packet buffer size): max(width * height * 3, 640000) + 30000 bytes.
    static size_t recommended_output_capacity(int32_t width, int32_t height);

    // Set before encode() to make that picture an IDR picture; every encode()
    // clears it.
    uint8_t force_keyframe = 0;
    // Set by every encode(): 1 when the access unit just written is an IDR picture.
    uint8_t last_was_keyframe = 0;
    // Reset to 0 by open(); advanced by its users, not by the encoder.
    uint32_t frame_counter = 0;
    // encode_changed() tells the library which macroblocks did not change.
    // On by default; off, the library analyses every macroblock (for
    // comparisons and measurements).
    uint8_t use_macroblock_hints = 1;
    // Macroblocks the last encode_changed() handed over as changed, and the
    // picture's total (whole pictures count all of them).
    size_t last_changed_macroblocks = 0;
    size_t macroblocks() const { return macroblock_flags_.size(); }
    // A picture identical to the previous one cannot be a scene cut, so the
    // library is told it is a P picture and spares its whole-picture scene
    // analysis; the coded bytes stay the same. Off: the library decides every
    // type itself (for comparisons).
    uint8_t use_still_picture_shortcut = 1;
    // Pictures handed to the library with a type chosen here since open().
    uint32_t still_pictures = 0;

private:
    // hints: give the library macroblock_flags_ with this picture.
    size_t encode_planes(uint8_t* out, size_t out_capacity, uint32_t timestamp_ms, bool hints);
    // Fills macroblock_flags_ from `changed`; false when hints are off, or
    // the previous picture is unknown to the library.
    bool prepare_hints(const Rect* changed, size_t count);
    // Around the update of picture_: keeps the macroblocks marked changed,
    // then marks those that came out identical as unchanged after all (a
    // window that repaints itself whole often shows mostly the same pixels).
    void save_marked_macroblocks();
    void unmark_equal_macroblocks();
    // Calls f(x, y, w, h, index, flag) for each marked macroblock's luma area
    // (clipped to the picture), index counting them from 0, flag its entry.
    template <typename F>
    void for_each_marked(F f);
    size_t refuse();

    H264InputMode mode_ = H264InputMode::Bgr24;
    int16_t bitrate_ = 150;
    int32_t width_ = 0;
    int32_t height_ = 0;
    x264_t* handle_ = nullptr;
    I420Picture picture_;          // the library's input, upright
    bool picture_current_ = false; // picture_ holds the previous pixel-mode frame
    bool previous_coded_ = false;  // the library coded the previous picture we handed in
    std::vector<uint8_t> macroblock_flags_; // one per macroblock, read by the library during encoding
    std::vector<uint8_t> saved_macroblocks_; // previous pixels of the marked ones, 384 bytes each
    std::vector<uint8_t> payload_; // NAL payloads with emulation prevention removed
    int64_t pts_ = 0;              // picture index: the library wants increasing timestamps
    int32_t keyframe_interval_ = 0; // the library's longest distance between IDR pictures
    int32_t since_idr_ = 0;         // pictures the library coded after the last IDR picture
};

} // namespace quillet
