// The coding half of ScreenCodec: the walk over one region, unit
// classification, block codes, the DCT part and the H.264 picture.
#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "video/screen/ScreenCodecState.h"

namespace quillet {

namespace {

using screen::BlockCode;
using screen::kBlockBytes;

// More distinct Y values than this make a unit a DCT unit.
constexpr int kDistinctLimit = 24;
// A difference of more than this between neighbouring Y samples is a sharp
// step (an edge of text or a line rather than a photograph).
constexpr int kSharpStep = 120;

// Distinct Y values over the unit's blocks, counting no further than 25.
int distinctY(const uint8_t* const blocks[4])
{
    uint64_t seen[4] = {0, 0, 0, 0};
    int n = 0;
    for (int b = 0; b < 4; ++b) {
        if (blocks[b] == nullptr)
            continue;
        for (int i = 0; i < 64; ++i) {
            const uint8_t v = blocks[b][i];
            const uint64_t bit = uint64_t(1) << (v & 63);
            if ((seen[v >> 6] & bit) == 0) {
                seen[v >> 6] |= bit;
                if (++n > kDistinctLimit)
                    return kDistinctLimit + 1;
            }
        }
    }
    return n;
}

int sharpSteps(const uint8_t y[64])
{
    int n = 0;
    for (int l = 1; l < 64; ++l) {
        const int d = int(y[l]) - int(y[l - 1]);
        n += d > kSharpStep || d < -kSharpStep;
        if (l >= 8) {
            const int e = int(y[l]) - int(y[l - 8]);
            n += e > kSharpStep || e < -kSharpStep;
        }
    }
    return n;
}

// Whether a unit with few distinct values still goes with its DCT
// neighbours (only while the frame shows video-like content): smooth parts of
// a video picture should not be cut out of it as raw blocks.
bool followsDctNeighbours(const uint8_t* const blocks[4], int distinct, bool aboveDct, bool leftDct, bool topRow)
{
    if (!aboveDct && !leftDct)
        return false;
    int allowance;
    if (distinct == 2 || distinct == 3 || !leftDct)
        allowance = 0;
    else if (aboveDct)
        allowance = 6;
    else if (topRow)
        allowance = 4;
    else
        allowance = 2;
    int steps = 0;
    for (int b = 0; b < 4; ++b) {
        if (blocks[b] == nullptr)
            continue;
        steps += sharpSteps(blocks[b]);
        if (steps > allowance)
            return false;
    }
    return true;
}

// Copies a converted block into the upright I420 picture at (x, y).
void copyToPicture(const uint8_t block[kBlockBytes], I420Picture& picture, int32_t x, int32_t y)
{
    const int32_t w = picture.width();
    for (int r = 0; r < 8; ++r)
        std::memcpy(picture.y() + size_t(y + r) * size_t(w) + size_t(x), block + r * 8, 8);
    const int32_t cw = w / 2;
    for (int r = 0; r < 4; ++r) {
        uint8_t* u = picture.u() + size_t(y / 2 + r) * size_t(cw) + size_t(x / 2);
        uint8_t* v = picture.v() + size_t(y / 2 + r) * size_t(cw) + size_t(x / 2);
        const uint8_t* pairs = block + screen::kChromaAt + r * 8;
        for (int c = 0; c < 4; ++c) {
            u[c] = pairs[c * 2];
            v[c] = pairs[c * 2 + 1];
        }
    }
}

} // namespace

size_t ScreenCodec::region_capacity(const Rect& rect) const
{
    if (!s_)
        return 0;
    RegionBlocks rb;
    if (!region_blocks(rect, width_, height_, rb))
        return 2;
    return 2 + kMaxDctField + screen::RegionDeflater::bound(max_block_stream(rb.count()));
}

size_t ScreenCodec::code_region(const ScreenFrame& frame, uint8_t* out, size_t capacity, const Rect& rect)
{
    if (!s_ || mode_ != kCodeMode || frame.bits == nullptr || out == nullptr || capacity < 2 ||
        frame.width != width_ || frame.height != height_ || frame.bitsPerPixel != bitsPerPixel_)
        return 0;
    const size_t minStride = size_t(width_) * size_t(bitsPerPixel_ / 8);
    const size_t stride = frame.stride > 0 ? size_t(frame.stride) : minStride;
    if (stride < minStride)
        return 0;
    RegionBlocks rb;
    if (!region_blocks(rect, width_, height_, rb))
        return 0;

    State& s = *s_;
    screen::BlockSource source = screen::block_source(frame, layout16_);
    source.stride = stride;
    std::memcpy(source.masks, s.masks, 3);
    const bool naturalMode = natural != 0 && s.h264Open;

    const size_t blocks = rb.count();
    uint8_t* const work = s.work.data();
    putLE16(work, s.cache.pos());
    uint8_t* const codes = work + 2;
    std::memset(codes, 0, code_bytes(blocks));
    uint8_t* payload = codes + code_bytes(blocks);
    size_t index = 0;
    auto putCode = [&](BlockCode code) {
        codes[index >> 2] |= uint8_t(uint8_t(code) << (6 - 2 * (index & 3)));
        ++index;
    };

    const size_t dctRoom = std::min(capacity - 2, kMaxDctField - 2);
    s.dct.begin_scan(out + 2, dctRoom);
    bool anyDct = false;
    bool failed = false;
    s.cache.begin();
    std::fill(s.unitDct.begin(), s.unitDct.end(), 0);

    alignas(32) uint8_t conv[4][kBlockBytes];
    alignas(32) JpegMcuSamples samples;
    for (int32_t sx = 0; sx < rb.nx && !failed; sx += 2) {
        const int cols = std::min<int32_t>(2, rb.nx - sx);
        bool aboveDct = false;
        for (int32_t sy = 0; sy < rb.ny; sy += 2) {
            const int rows = std::min<int32_t>(2, rb.ny - sy);
            const uint8_t* present[4] = {nullptr, nullptr, nullptr, nullptr};
            for (int b = 0; b < 4; ++b) {
                const int qx = b >> 1;
                const int qy = b & 1;
                if (qx >= cols || qy >= rows)
                    continue;
                screen::convert_block(source, (rb.bx + sx + qx) * 8, (rb.by + sy + qy) * 8, conv[b]);
                present[b] = conv[b];
            }

            const int distinct = distinctY(present);
            const bool leftDct = s.unitDct[size_t(sy / 2)] != 0;
            bool dct = distinct > kDistinctLimit;
            if (!dct && naturalMode)
                dct = followsDctNeighbours(present, distinct, aboveDct, leftDct, sy == 0);
            s.unitDct[size_t(sy / 2)] = dct;
            aboveDct = dct;

            unsigned newDct = 0; // walk-order blocks coded 10
            for (int b = 0; b < 4; ++b) {
                if (present[b] == nullptr)
                    continue;
                const size_t position = s.position(rb.bx + sx + (b >> 1), rb.by + sy + (b & 1));
                if (s.cache.is_last_seen(present[b], position)) {
                    putCode(BlockCode::History);
                    *payload++ = uint8_t(s.cache.history(position).last());
                    continue;
                }
                const uint16_t sum = screen::block_checksum(present[b]);
                const screen::LookupResult found = s.cache.lookup(present[b], sum, position);
                if (found.code == BlockCode::History) {
                    putCode(BlockCode::History);
                    *payload++ = uint8_t(found.value);
                } else if (found.code == BlockCode::Slot) {
                    putCode(BlockCode::Slot);
                    putLE16(payload, found.value);
                    payload += 2;
                } else if (dct) {
                    putCode(BlockCode::Dct);
                    s.cache.store(present[b], sum, position);
                    newDct |= 1u << b;
                } else {
                    putCode(BlockCode::Raw);
                    s.cache.store(present[b], sum, position);
                    std::memcpy(payload, present[b], kBlockBytes);
                    payload += kBlockBytes;
                }
            }
            if (newDct == 0)
                continue;

            const int32_t ux = (rb.bx + sx) * 8;
            const int32_t uy = (rb.by + sy) * 8;
            if (naturalMode) {
                for (int b = 0; b < 4; ++b)
                    if (present[b] != nullptr)
                        copyToPicture(present[b], s.picture, ux + (b >> 1) * 8, uy + (b & 1) * 8);
                ++s.naturalCount;
                s.naturalAreas.push_back(Rect{ux, uy, ux + cols * 8 - 1, uy + rows * 8 - 1});
                continue;
            }
            screen::unit_samples(present, samples);
            unsigned luma = 0;
            for (int b = 0; b < 4; ++b)
                if ((newDct >> b) & 1)
                    luma |= 1u << screen::kMcuLumaOf[b];
            if (!s.dct.encode_mcu(samples, luma)) {
                failed = true; // the DCT part outgrew its 16-bit length or the output
                break;
            }
            anyDct = true;
        }
    }

    size_t dctBytes = 0;
    if (!failed && anyDct) {
        failed = !s.dct.end_scan();
        dctBytes = size_t(s.dct.cursor() - (out + 2));
    }
    size_t total = 0;
    if (!failed && 2 + dctBytes <= kMaxDctField) {
        const size_t c = 2 + dctBytes;
        const size_t streamBytes = size_t(payload - work);
        const size_t deflated = c < capacity ? s.deflater.deflate_region(work, streamBytes, out + c, capacity - c) : 0;
        if (deflated > 0) {
            putLE16(out, uint32_t(c));
            total = c + deflated;
        }
    }
    if (total == 0) {
        s.cache.rollback();
        return 0;
    }
    s.cache.commit();
    return total;
}

} // namespace quillet
