// The decoding half of ScreenCodec: inflates a region's block stream and
// follows its codes through the same walk, ring and histories as the coder,
// checking every read against the data it came in.
#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "video/screen/ScreenCodecState.h"

namespace quillet {

namespace {

using screen::BlockCode;
using screen::kBlockBytes;

// Samples of a block from the upright I420 picture the H.264 side data
// decoded to; grey where there is no such picture.
void blockFromPicture(const I420Picture* picture, int32_t x, int32_t y, uint8_t out[kBlockBytes])
{
    if (picture == nullptr || picture->empty() || x + 8 > picture->width() || y + 8 > picture->height()) {
        std::memset(out, 128, kBlockBytes);
        return;
    }
    const int32_t w = picture->width();
    for (int r = 0; r < 8; ++r)
        std::memcpy(out + r * 8, picture->y() + size_t(y + r) * size_t(w) + size_t(x), 8);
    const int32_t cw = w / 2;
    for (int r = 0; r < 4; ++r) {
        const uint8_t* u = picture->u() + size_t(y / 2 + r) * size_t(cw) + size_t(x / 2);
        const uint8_t* v = picture->v() + size_t(y / 2 + r) * size_t(cw) + size_t(x / 2);
        uint8_t* pairs = out + screen::kChromaAt + r * 8;
        for (int c = 0; c < 4; ++c) {
            pairs[c * 2] = u[c];
            pairs[c * 2 + 1] = v[c];
        }
    }
}

} // namespace

int ScreenCodec::decode_region(const Rect& rect, const uint8_t* data, size_t length, ScreenPicture& picture)
{
    if (!s_)
        return 0;
    State& s = *s_;
    auto fail = [&](ScreenDataPart part, size_t offset, const char* why) {
        s.error = ScreenCodecError{why, part, offset};
        s.broken = true;
        return 0;
    };
    if (mode_ == kCodeMode)
        return fail(ScreenDataPart::Call, 0, "the codec is set up for coding, not decoding");
    if (s.broken)
        return fail(ScreenDataPart::Call, 0, "an earlier region failed; decoding resumes at the next key frame");
    if (picture.width != width_ || picture.height != height_ ||
        picture.pixels.size() < size_t(width_) * size_t(height_) * 4)
        return fail(ScreenDataPart::Call, 0, "the picture does not have the codec's size");
    if (rect.right < rect.left || rect.bottom < rect.top)
        return fail(ScreenDataPart::Call, 0, "the region's rectangle is empty");
    RegionBlocks rb;
    if (!region_blocks(rect, width_, height_, rb))
        return fail(ScreenDataPart::Call, 0, "the region's rectangle lies outside the picture");
    if (data == nullptr || length < 2)
        return fail(ScreenDataPart::Region, 0, "the region is shorter than its 2-byte DCT length");
    const size_t c = getLE16(data);
    if (c < 2)
        return fail(ScreenDataPart::Region, 0, "the DCT length field is below 2");
    if (c > length)
        return fail(ScreenDataPart::Region, 0, "the DCT part runs past the end of the region");

    const size_t blocks = rb.count();
    const size_t streamCapacity = max_block_stream(blocks);
    size_t produced = 0;
    size_t failedAt = 0;
    if (!s.inflater.inflate_region(data + c, length - c, s.work.data(), streamCapacity, &produced, &failedAt))
        return fail(ScreenDataPart::Region, c + failedAt, s.inflater.reason());

    const uint8_t* const stream = s.work.data();
    const size_t codeBytes = code_bytes(blocks);
    if (produced < 2 + codeBytes)
        return fail(ScreenDataPart::BlockStream, produced, "the block stream ends inside its block codes");
    const uint32_t pos = getLE16(stream);
    screen::BlockCache& cache = s.cache;
    if (pos >= cache.capacity())
        return fail(ScreenDataPart::BlockStream, 0, "the cache position is not below the capacity");
    if (s.posKnown && pos != cache.pos())
        return fail(ScreenDataPart::BlockStream, 0,
                    "the cache position does not follow on from the previous region (a region is missing)");
    cache.set_pos(pos);
    s.posKnown = true;

    const bool dctPart = c > 2;
    if (dctPart)
        s.dctReader.begin(data + 2, c - 2);
    const uint8_t* const codes = stream + 2;
    const uint8_t* p = codes + codeBytes;
    const uint8_t* const end = stream + produced;
    size_t index = 0;

    alignas(32) uint8_t temp[4][kBlockBytes];
    screen::McuPixels mcu;
    for (int32_t sx = 0; sx < rb.nx; sx += 2) {
        const int cols = std::min<int32_t>(2, rb.nx - sx);
        for (int32_t sy = 0; sy < rb.ny; sy += 2) {
            const int rows = std::min<int32_t>(2, rb.ny - sy);
            // Per block of the unit: what it shows once the unit is complete.
            bool present[4] = {false, false, false, false};
            bool paint[4] = {false, false, false, false};
            uint8_t lossy[4] = {0, 0, 0, 0};
            int sameAs[4] = {-1, -1, -1, -1}; // a 01 block equal to a new 10 block of this unit
            uint32_t slotOf[4] = {0, 0, 0, 0};
            unsigned newDct = 0;
            for (int b = 0; b < 4; ++b) {
                const int qx = b >> 1;
                const int qy = b & 1;
                if (qx >= cols || qy >= rows)
                    continue;
                present[b] = true;
                const size_t position = s.position(rb.bx + sx + qx, rb.by + sy + qy);
                const BlockCode code = BlockCode((codes[index >> 2] >> (6 - 2 * (index & 3))) & 3);
                ++index;
                const size_t at = size_t(p - stream);
                switch (code) {
                case BlockCode::Slot: {
                    if (end - p < 2)
                        return fail(ScreenDataPart::BlockStream, at, "a slot number runs past the end of the block stream");
                    const uint32_t slot = getLE16(p);
                    p += 2;
                    if (slot >= cache.capacity())
                        return fail(ScreenDataPart::BlockStream, at, "a slot number is not below the cache capacity");
                    if (!cache.slot_usable(slot))
                        return fail(ScreenDataPart::BlockStream, at,
                                    "a slot number points at a block not stored since the key frame");
                    cache.enter_slot(slot, position);
                    for (int e = 0; e < b; ++e)
                        if (((newDct >> e) & 1) && slotOf[e] == slot)
                            sameAs[b] = e;
                    if (sameAs[b] < 0)
                        std::memcpy(temp[b], cache.slot(slot), kBlockBytes);
                    lossy[b] = cache.lossy(slot);
                    paint[b] = true;
                    break;
                }
                case BlockCode::History: {
                    if (end - p < 1)
                        return fail(ScreenDataPart::BlockStream, at, "a history index runs past the end of the block stream");
                    const int i = *p++;
                    if (i >= screen::kHistoryEntries)
                        return fail(ScreenDataPart::BlockStream, at, "a history index is 8 or more");
                    screen::PositionHistory& h = cache.history(position);
                    const screen::HistoryEntry e = h.entry[i];
                    if (!cache.live(e))
                        return fail(ScreenDataPart::BlockStream, at,
                                    "a history index points at an empty entry or a block overwritten since");
                    std::memcpy(temp[b], cache.slot(e.slot), kBlockBytes);
                    lossy[b] = cache.lossy(e.slot);
                    // The entry written last is what this position shows already.
                    paint[b] = i != h.last();
                    if (paint[b])
                        cache.repeat_entry(position, i);
                    break;
                }
                case BlockCode::Raw: {
                    if (size_t(end - p) < size_t(kBlockBytes))
                        return fail(ScreenDataPart::BlockStream, at, "a raw block runs past the end of the block stream");
                    std::memcpy(temp[b], p, kBlockBytes);
                    p += kBlockBytes;
                    const uint32_t slot = cache.store_decoded(temp[b], position);
                    cache.lossy(slot) = 0;
                    paint[b] = true;
                    break;
                }
                case BlockCode::Dct: {
                    // Its samples are known once the unit's macroblock is read;
                    // the slot is taken now, in the coder's order.
                    std::memset(temp[b], 128, kBlockBytes);
                    slotOf[b] = cache.store_decoded(temp[b], position);
                    cache.lossy(slotOf[b]) = 1;
                    newDct |= 1u << b;
                    lossy[b] = 1;
                    paint[b] = true;
                    break;
                }
                }
            }

            const int32_t ux = (rb.bx + sx) * 8;
            const int32_t uy = (rb.by + sy) * 8;
            if (newDct != 0) {
                if (dctPart) {
                    unsigned luma = 0;
                    for (int b = 0; b < 4; ++b)
                        if ((newDct >> b) & 1)
                            luma |= 1u << screen::kMcuLumaOf[b];
                    if (!s.dctReader.decode_mcu(mcu, luma))
                        return fail(ScreenDataPart::Region, 2 + s.dctReader.offset(), s.dctReader.reason());
                }
                for (int b = 0; b < 4; ++b) {
                    if (((newDct >> b) & 1) == 0)
                        continue;
                    if (dctPart)
                        screen::unit_block(mcu, b, temp[b]);
                    else
                        blockFromPicture(s.naturalSource, ux + (b >> 1) * 8, uy + (b & 1) * 8, temp[b]);
                    std::memcpy(cache.slot(slotOf[b]), temp[b], kBlockBytes);
                }
                for (int b = 0; b < 4; ++b)
                    if (sameAs[b] >= 0)
                        std::memcpy(temp[b], temp[sameAs[b]], kBlockBytes);
            }
            for (int b = 0; b < 4; ++b) {
                if (!present[b])
                    continue;
                const int32_t x = ux + (b >> 1) * 8;
                const int32_t y = uy + (b & 1) * 8;
                s.positionLossy[s.position(x / 8, y / 8)] = lossy[b];
                if (paint[b])
                    screen::paint_block(temp[b], picture, x, y);
            }
        }
    }
    if (p != end)
        return fail(ScreenDataPart::BlockStream, size_t(p - stream), "the block stream is longer than its codes need");
    return 1;
}

} // namespace quillet
