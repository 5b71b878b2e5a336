#pragma once
#include <cstddef>
#include <cstdint>

#include "video/NalWriter.h"

// FLV video tags carrying H.264: the per-picture tag and the AVC sequence
// header tag. Each tag is written complete, followed by its 4-byte
// previous-tag-size field, so an FLV writer appends the bytes unchanged and an
// MP4 writer can take the length-prefixed NAL units from offset 16 on.
namespace quillet {

constexpr size_t kAvcTagHeaderSize = 11;
constexpr uint8_t kFlvVideoTagType = 0x09;
// Offset of the first 4-byte NAL length in a video tag.
constexpr size_t kFlvAvcNalOffset = 16;
// Tag bytes around the NAL units of a video tag: 11 header + 5 AVC packet
// header + 4 previous tag size; each NAL unit adds its own 4-byte length.
constexpr size_t kFlvAvcVideoTagOverhead = 20;
// The composition-time field carries 66, as players of our recordings expect.
constexpr uint32_t kFlvAvcCompositionTime = 0x42;

// Writes an 11-byte FLV tag header: type, data size (24 bits), timestamp bits
// 0-23 big-endian then bits 24-31, stream id 0.
void put_flv_tag_header(BoundedWriter& out, uint8_t type, uint32_t data_size, uint32_t timestamp_ms);

// One coded picture as an FLV video tag: frame type 1 (key) or 2, codec 7, AVC
// NAL unit packet, composition time 66, then every NAL unit as a 4-byte length
// and the serialised unit, then the previous tag size. With one NAL unit of
// serialised length c the result is c + 24. Returns the bytes written, or 0
// when nals is empty or the tag does not fit into capacity (nothing is
// written past the end).
size_t write_avc_video_tag(uint8_t* out, size_t capacity, uint32_t timestamp_ms, bool key_frame,
                           const NalView* nals, size_t count);

// The AVC sequence header tag: decoder configuration record with the fixed
// profile 66, compatibility 0xC0 and level 21 bytes (whatever the SPS says),
// length size 4, one SPS and one PPS, each serialised with its header byte and
// emulation prevention. With SPS length s and PPS length p the tag's data size
// is n = 16 + s + p and the result n + 15. Returns 0 when it does not fit or a
// parameter set is longer than 65535 bytes.
size_t write_avc_sequence_header_tag(uint8_t* out, size_t capacity, uint32_t timestamp_ms, const NalView& sps,
                                     const NalView& pps);

// Annex B access unit: every NAL unit with a 4-byte start code. Returns the
// bytes written, or 0 when it does not fit.
size_t write_annexb_access_unit(uint8_t* out, size_t capacity, const NalView* nals, size_t count);

} // namespace quillet
