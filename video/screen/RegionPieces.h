#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "video/screen/ScreenCodec.h"

// Codes a rectangle as one region, or, when that does not fit a record, as
// pieces: a region that code_region() refuses is halved along its longer
// side on the 16-pixel grid (its DCT part or its bytes were too many) and
// each half is tried again. Failed attempts leave no trace in the codec, so
// the pieces decode in the order they are handed out.
namespace quillet {

// One coded piece: its rectangle (inclusive) and bytes, valid during the call.
using RegionPieceSink = std::function<void(const Rect& rect, const uint8_t* data, size_t length)>;

// Codes rect with at most max_bytes per piece (a record of the AVI output
// holds 65500), using buffer as room (grown as needed). Returns the number
// of pieces handed to sink; 0 when the rectangle is empty or a piece of a
// single 16 x 16 unit still did not fit.
int code_region_pieces(ScreenCodec& codec, const ScreenFrame& frame, const Rect& rect, size_t max_bytes,
                       std::vector<uint8_t>& buffer, const RegionPieceSink& sink);

} // namespace quillet
