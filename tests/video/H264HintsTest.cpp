// Macroblock hints: the encoder tells the library which macroblocks did not
// change, and the library skips them. Right hints must leave the decoded
// pictures as good as without hints; a wrong hint must show up as a damaged
// block, which is what these checks look for.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/video/H264TestSupport.h"
#include "video/ColorConvert.h"
#include "video/H264Encoder.h"
#include "video/MacroblockHints.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kW = 320, kH = 192;
// Each 16 x 16 luma block of a decoded picture must come this close to the
// source; a block that still shows the previous picture's content lands near
// 10 dB on the moving box, coding noise at the fixed quantiser stays above 28.
constexpr double kMinBlockPsnr = 25.0;
// Luma PSNR of a whole decoded picture at the fixed quantisers.
constexpr double kMinPicturePsnr = 40.0;
// Without hints the library spends the first inter pictures refining the still
// background left by the key picture (about +4.5 dB here); with hints the still
// background keeps the key picture's quality. Neither may fall below the key
// picture by more than this.
constexpr double kMaxLossToKeyPictureDb = 0.5;

TEST(MacroblockHints, MarksEveryTouchedBlockAndClipsToThePicture)
{
    // 40 x 20 pixels: 3 x 2 macroblocks, the last column and row partial.
    ASSERT_EQ(macroblock_count(40, 20), 6u);
    uint8_t flags[6];
    const Rect changed[] = {
        {15, 0, 16, 0},       // straddles the first two columns of row 0
        {0, 0, 0, 5},         // right <= left: nothing
        {39, 19, 900, 900},   // reaches past the picture: clipped to the last block
        {-50, -50, -20, -20}, // wholly outside
    };
    EXPECT_EQ(mark_constant_macroblocks(40, 20, changed, 4, flags), 3u);
    const uint8_t c = kMacroblockConstant;
    const uint8_t expected[6] = {0, 0, c, c, c, 0};
    EXPECT_TRUE(std::equal(flags, flags + 6, expected));
    // No rectangles: everything unchanged.
    EXPECT_EQ(mark_constant_macroblocks(40, 20, nullptr, 0, flags), 0u);
    EXPECT_TRUE(std::all_of(flags, flags + 6, [&](uint8_t f) { return f == c; }));
    // Unusable arguments write nothing.
    flags[0] = 77;
    EXPECT_EQ(mark_constant_macroblocks(0, 20, changed, 1, flags), 0u);
    EXPECT_EQ(mark_constant_macroblocks(40, 20, nullptr, 1, flags), 0u);
    EXPECT_EQ(flags[0], 77);
    EXPECT_EQ(mark_constant_macroblocks(40, 20, changed, 1, nullptr), 0u);
}

// The lowest PSNR over the 16 x 16 blocks of two upright luma planes.
double worst_block_psnr(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height)
{
    double worst = 99.0;
    std::vector<uint8_t> ba(256), bb(256);
    for (int32_t by = 0; by < height; by += 16)
        for (int32_t bx = 0; bx < width; bx += 16) {
            for (int32_t y = 0; y < 16; ++y)
                for (int32_t x = 0; x < 16; ++x) {
                    ba[static_cast<size_t>(y * 16 + x)] = a[static_cast<size_t>(by + y) * width + bx + x];
                    bb[static_cast<size_t>(y * 16 + x)] = b[static_cast<size_t>(by + y) * width + bx + x];
                }
            worst = std::min(worst, testing::psnr(ba.data(), bb.data(), ba.size()));
        }
    return worst;
}

// The bounding box (upright, inclusive) of the pixels that differ between two
// bottom-up 32-bit frames, ignoring the fourth byte; right < left when none.
Rect difference(const Bytes& a, const Bytes& b)
{
    Rect r{kW, kH, -1, -1};
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const size_t at = (static_cast<size_t>(kH - 1 - y) * kW + x) * 4;
            if (a[at] != b[at] || a[at + 1] != b[at + 1] || a[at + 2] != b[at + 2])
                r = Rect{std::min(r.left, x), std::min(r.top, y), std::max(r.right, x), std::max(r.bottom, y)};
        }
    return r;
}

struct Coded {
    std::vector<testing::DecodedPicture> pictures;
    std::vector<size_t> changedMacroblocks;
    size_t bytes = 0;
    int errors = 0;
};

// Encodes the upright I420 pictures in planar mode, each with its list of
// changed areas, and decodes the stream.
Coded encode_and_decode(const std::vector<I420Picture>& pictures, const std::vector<std::vector<Rect>>& changes,
                        bool hints)
{
    Coded result;
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::I420);
    enc.use_macroblock_hints = hints ? 1 : 0;
    if (enc.open(kW, kH, 15) != 1)
        return result;
    testing::TestH264Decoder dec;
    Bytes out(H264Encoder::recommended_output_capacity(kW, kH));
    for (size_t i = 0; i < pictures.size(); ++i) {
        const size_t n =
            enc.encode_changed(pictures[i], changes[i].data(), changes[i].size(), out.data(), out.size(), 0);
        result.bytes += n;
        result.changedMacroblocks.push_back(enc.last_changed_macroblocks);
        if (n == 0 || !dec.decode(out.data(), n))
            ++result.errors;
    }
    if (!dec.flush())
        ++result.errors;
    result.errors += dec.errors;
    result.pictures = std::move(dec.pictures);
    return result;
}

class H264HintsTest : public ::testing::Test {
protected:
    // A still desktop with a box that moves by a few pixels per picture; the
    // changed area of each picture is the box's old and new place, measured.
    void SetUp() override
    {
        Bytes previous;
        for (int i = 0; i < kPictures; ++i) {
            const Bytes frame = testing::screen_frame(kW, kH, 4, i);
            I420Picture pic;
            ASSERT_EQ(pic.allocate(kW, kH), 1);
            pic.bottom_up = false;
            ASSERT_EQ(convert_to_i420(frame.data(), PixelLayout::Bgra32, kW, kH, true, pic.planes()), 1);
            pictures.push_back(std::move(pic));
            changes.push_back(previous.empty() ? std::vector<Rect>{} : std::vector<Rect>{difference(previous, frame)});
            previous = frame;
        }
    }
    static constexpr int kPictures = 12;
    std::vector<I420Picture> pictures;
    std::vector<std::vector<Rect>> changes;
};

TEST_F(H264HintsTest, RightHintsDecodeAsWellAsNoHints)
{
    const Coded hinted = encode_and_decode(pictures, changes, true);
    const Coded plain = encode_and_decode(pictures, changes, false);
    ASSERT_EQ(hinted.errors, 0);
    ASSERT_EQ(plain.errors, 0);
    ASSERT_EQ(hinted.pictures.size(), pictures.size());
    ASSERT_EQ(plain.pictures.size(), pictures.size());
    const size_t total = macroblock_count(kW, kH);
    const double keyWhole = testing::psnr(hinted.pictures[0].y.data(), pictures[0].y(), kW * kH);
    const double keyBlock = worst_block_psnr(hinted.pictures[0].y.data(), pictures[0].y(), kW, kH);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const double h = worst_block_psnr(hinted.pictures[i].y.data(), pictures[i].y(), kW, kH);
        const double p = worst_block_psnr(plain.pictures[i].y.data(), pictures[i].y(), kW, kH);
        const double whole = testing::psnr(hinted.pictures[i].y.data(), pictures[i].y(), kW * kH);
        EXPECT_GT(h, kMinBlockPsnr) << "picture " << i;
        EXPECT_GT(h, std::min(p, keyBlock) - kMaxLossToKeyPictureDb) << "picture " << i;
        EXPECT_GT(whole, kMinPicturePsnr) << "picture " << i;
        EXPECT_GT(whole, keyWhole - kMaxLossToKeyPictureDb) << "picture " << i;
        EXPECT_GT(testing::psnr(plain.pictures[i].y.data(), pictures[i].y(), kW * kH), kMinPicturePsnr) << i;
        EXPECT_GT(testing::psnr(hinted.pictures[i].u.data(), pictures[i].u(), kW * kH / 4), 34.0) << i;
        EXPECT_GT(testing::psnr(hinted.pictures[i].v.data(), pictures[i].v(), kW * kH / 4), 34.0) << i;
        // The first picture is whole; later ones hand over only the box's blocks.
        if (i == 0)
            EXPECT_EQ(hinted.changedMacroblocks[i], total);
        else
            EXPECT_LT(hinted.changedMacroblocks[i], total / 4) << i;
        EXPECT_EQ(plain.changedMacroblocks[i], total);
    }
    // Skipped blocks cost next to nothing.
    EXPECT_LT(hinted.bytes, plain.bytes);
}

TEST_F(H264HintsTest, ChangeHiddenByAWrongHintIsCaught)
{
    // Picture 6 is handed over whole, but its hint claims nothing changed:
    // the library keeps the previous picture's blocks where the box moved.
    std::vector<std::vector<Rect>> wrong = changes;
    wrong[6].clear();
    const Coded coded = encode_and_decode(pictures, wrong, true);
    ASSERT_EQ(coded.errors, 0); // the stream itself is sound
    ASSERT_EQ(coded.pictures.size(), pictures.size());
    EXPECT_EQ(coded.changedMacroblocks[6], 0u);
    EXPECT_GT(worst_block_psnr(coded.pictures[5].y.data(), pictures[5].y(), kW, kH), kMinBlockPsnr);
    EXPECT_LT(worst_block_psnr(coded.pictures[6].y.data(), pictures[6].y(), kW, kH), kMinBlockPsnr);
}

// Skipped blocks keep the previous picture's reconstruction, and the
// deblocking filter runs again over their edges with each coded neighbour.
// A region that changes in every picture must not smear the still detail
// around it over a long run.
TEST(H264Hints, StillDetailBesideAFlickeringRegionStaysSharp)
{
    constexpr int kPictures = 90;
    const Rect flicker{96, 48, 127, 79}; // macroblock-aligned, inside the text window
    const Bytes frame = testing::screen_frame(kW, kH, 4, 0);
    std::vector<I420Picture> pictures;
    std::vector<std::vector<Rect>> changes;
    uint32_t seed = 5;
    for (int i = 0; i < kPictures; ++i) {
        I420Picture pic;
        ASSERT_EQ(pic.allocate(kW, kH), 1);
        pic.bottom_up = false;
        ASSERT_EQ(convert_to_i420(frame.data(), PixelLayout::Bgra32, kW, kH, true, pic.planes()), 1);
        for (int32_t y = flicker.top; y <= flicker.bottom; ++y)
            for (int32_t x = flicker.left; x <= flicker.right; ++x) {
                seed = seed * 1103515245u + 12345u;
                pic.y()[static_cast<size_t>(y) * kW + x] = static_cast<uint8_t>(16 + ((seed >> 16) % 220));
            }
        pictures.push_back(std::move(pic));
        changes.push_back(i == 0 ? std::vector<Rect>{} : std::vector<Rect>{flicker});
    }
    const Coded coded = encode_and_decode(pictures, changes, true);
    ASSERT_EQ(coded.errors, 0);
    ASSERT_EQ(coded.pictures.size(), static_cast<size_t>(kPictures));
    // The ring of macroblocks around the flickering region, whose edges the
    // filter touches: each block's PSNR at the end against the first picture's.
    auto ring_psnr = [&](size_t i, int32_t bx, int32_t by) {
        Bytes a, b;
        for (int32_t y = by; y < by + 16; ++y)
            for (int32_t x = bx; x < bx + 16; ++x) {
                a.push_back(coded.pictures[i].y[static_cast<size_t>(y) * kW + x]);
                b.push_back(pictures[i].y()[static_cast<size_t>(y) * kW + x]);
            }
        return testing::psnr(a.data(), b.data(), a.size());
    };
    int checked = 0;
    for (int32_t by = flicker.top - 16; by <= flicker.bottom + 1; by += 16)
        for (int32_t bx = flicker.left - 16; bx <= flicker.right + 1; bx += 16) {
            if (bx >= flicker.left && bx <= flicker.right && by >= flicker.top && by <= flicker.bottom)
                continue;
            ++checked;
            EXPECT_GT(ring_psnr(kPictures - 1, bx, by), ring_psnr(0, bx, by) - 1.0) << bx << "," << by;
            EXPECT_GT(ring_psnr(kPictures - 1, bx, by), kMinBlockPsnr) << bx << "," << by;
        }
    EXPECT_EQ(checked, 12);
}

TEST(H264Hints, PixelModeHandsOverOnlyTheChangedBlocksAfterTheFirstPicture)
{
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::Bgra32);
    ASSERT_EQ(enc.open(kW, kH, 10), 1);
    Bytes out(H264Encoder::recommended_output_capacity(kW, kH));
    const Bytes f0 = testing::screen_frame(kW, kH, 4, 0), f1 = testing::screen_frame(kW, kH, 4, 1);
    // The box (rows 64..101) moves from x 0..52 to 6..58: this rectangle
    // marks 4 x 3 macroblocks, of which only the left and right columns
    // really change; the red middle stays red.
    const Rect moved{0, 64, 58, 101};
    ASSERT_EQ(difference(f0, f1), moved);
    ASSERT_GT(enc.encode_changed(f0.data(), f0.size(), &moved, 1, out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.last_changed_macroblocks, enc.macroblocks());
    ASSERT_GT(enc.encode_changed(f1.data(), f1.size(), &moved, 1, out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.last_changed_macroblocks, 6u);
    // A rectangle over pixels that did not change costs nothing.
    ASSERT_GT(enc.encode_changed(f1.data(), f1.size(), &moved, 1, out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.last_changed_macroblocks, 0u);
    // A forced key picture is analysed whole.
    enc.force_keyframe = 1;
    ASSERT_GT(enc.encode_changed(f0.data(), f0.size(), &moved, 1, out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.last_changed_macroblocks, enc.macroblocks());
    // After a refused call the library's reference is unknown: no hints.
    EXPECT_EQ(enc.encode_changed(f1.data(), 3, &moved, 1, out.data(), out.size(), 0), 0u);
    ASSERT_GT(enc.encode_changed(f1.data(), f1.size(), &moved, 1, out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.last_changed_macroblocks, enc.macroblocks());
}

// Pictures identical to the previous one are handed over as P pictures,
// sparing the library's scene analysis. The stream must come out byte for
// byte as when the library decides every type itself, across still runs,
// moving content, a scene cut and the end of a key-frame interval.
TEST(H264Hints, StillPictureShortcutChangesNoByte)
{
    Bytes noise(static_cast<size_t>(kW) * kH * 4);
    uint32_t seed = 12345;
    for (uint8_t& b : noise) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    // 2 pictures a second: a key picture every 20.
    constexpr int kCount = 48;
    std::vector<Bytes> frames;
    for (int i = 0; i < kCount; ++i) {
        if (i >= 12 && i < 16)
            frames.push_back(noise); // a new scene, then still
        else
            frames.push_back(testing::screen_frame(kW, kH, 4, (i >= 5 && i < 10) || i > 40 ? i : 0));
    }
    struct Run {
        std::vector<Bytes> units;
        std::vector<int> keys;
        uint32_t still = 0;
    };
    auto run = [&](uint8_t shortcut) {
        Run r;
        H264Encoder enc;
        enc.set_input_mode(H264InputMode::Bgra32);
        enc.use_still_picture_shortcut = shortcut;
        if (enc.open(kW, kH, 2) != 1)
            return r;
        Bytes out(H264Encoder::recommended_output_capacity(kW, kH));
        for (int i = 0; i < kCount; ++i) {
            const Rect whole{0, 0, kW - 1, kH - 1};
            const Rect d = i == 0 ? whole : difference(frames[i - 1], frames[i]);
            const size_t count = d.right < d.left ? 0 : 1;
            const size_t n = enc.encode_changed(frames[i].data(), frames[i].size(), &d, count, out.data(),
                                                out.size(), static_cast<uint32_t>(i * 500));
            r.units.emplace_back(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
            if (enc.last_was_keyframe)
                r.keys.push_back(i);
        }
        r.still = enc.still_pictures;
        return r;
    };
    const Run on = run(1), off = run(0);
    ASSERT_EQ(on.units.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_FALSE(on.units[i].empty()) << i;
        EXPECT_TRUE(on.units[i] == off.units[i]) << "picture " << i;
    }
    EXPECT_EQ(on.keys, off.keys);
    // The library's own decisions are all there: the first picture, the cut to
    // the new scene and back, and the interval counted from the last cut.
    EXPECT_EQ(on.keys, (std::vector<int>{0, 12, 16, 36}));
    EXPECT_GE(on.still, 25u);
    EXPECT_EQ(off.still, 0u);
}

} // namespace
} // namespace quillet
