#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <cstring>

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/LzoCompress.h"
#include "capture/synthetic/SyntheticScreen.h"

namespace quillet {
namespace {

CursorImage solidCursor(uint64_t serial, int w, int h, uint32_t argb, int hotX = 0, int hotY = 0)
{
    CursorImage c;
    c.serial = serial;
    c.width = w;
    c.height = h;
    c.hotX = hotX;
    c.hotY = hotY;
    c.argb.assign(static_cast<size_t>(w) * h, argb);
    return c;
}

// Picture pixel (x, y from the top) as 0xRRGGBB.
uint32_t pic(const CursorOverlay& o, int x, int y)
{
    const uint8_t* p = o.picture() + ((31 - y) * 32 + x) * 4;
    return p[0] | (p[1] << 8) | (p[2] << 16);
}
constexpr uint32_t kKeyBgr = CursorOverlay::kKeyRgb;

TEST(CursorOverlay, PositionSubtractsHotSpotAndParksOutsideTheArea)
{
    SyntheticScreen screen(1920, 1080);
    screen.setCursor(solidCursor(7, 8, 8, 0xFF000000, 2, 3));
    CursorOverlay o(screen);
    screen.setPointer(100, 100);
    EXPECT_EQ(o.updateForBurnIn(7), 1);
    EXPECT_EQ(o.x(), 98);
    EXPECT_EQ(o.y(), 97);
    EXPECT_EQ(o.updateForBurnIn(7), 0) << "still";

    o.setArea(Rect{200, 200, 600, 500});
    screen.setPointer(52, 303); // left of the area: parked at its right edge
    o.updateForBurnIn(7);
    EXPECT_EQ(o.x(), 399);
    EXPECT_EQ(o.y(), 100);
    screen.setPointer(902, 803); // right of and below it
    o.updateForBurnIn(7);
    EXPECT_EQ(o.x(), 399);
    EXPECT_EQ(o.y(), 299);
    screen.setPointer(252, 153); // above it
    o.updateForBurnIn(7);
    EXPECT_EQ(o.x(), 50);
    EXPECT_EQ(o.y(), 299);

    o.setArea(Rect{});
    o.setScale(1920, 2560);
    screen.setPointer(1282, 643);
    o.updateForBurnIn(7);
    EXPECT_EQ(o.x(), 960);
    EXPECT_EQ(o.y(), 480);
}

TEST(CursorOverlay, ChangedReportsMovesAndShapes)
{
    SyntheticScreen screen(800, 600);
    screen.setCursor(solidCursor(1, 4, 4, 0xFF000000));
    screen.setPointer(10, 10);
    CursorOverlay o(screen);
    EXPECT_EQ(o.changed(1), 1);
    EXPECT_EQ(o.pictureSize(), 4096);
    EXPECT_EQ(o.changed(1), 0) << "still mouse, same shape";
    EXPECT_EQ(o.changed(0), 0) << "no cursor read keeps the previous one";
    screen.setPointer(20, 10);
    EXPECT_EQ(o.changed(1), 1);
    EXPECT_EQ(o.pictureSize(), 0);
    EXPECT_EQ(o.x(), 20);
    screen.setCursor(solidCursor(2, 4, 4, 0xFFFFFFFF));
    EXPECT_EQ(o.changed(2), 1) << "new shape, same place";
    EXPECT_EQ(o.pictureSize(), 4096);
    o.resetPosition();
    EXPECT_EQ(o.changed(2), 1);
    EXPECT_EQ(o.pictureSize(), 4096);

    // A source that never knows the shape: positions only.
    CursorOverlay blind(screen);
    screen.setPointer(30, 30);
    EXPECT_EQ(blind.changed(0), 1);
    EXPECT_EQ(blind.pictureSize(), 0);
    EXPECT_EQ(blind.changed(0), 0);
}

TEST(CursorOverlay, PictureShowsCursorOverWhiteOnKeyColour)
{
    SyntheticScreen screen(800, 600);
    CursorImage c = solidCursor(3, 3, 2, 0xFFFF0000); // opaque red
    c.argb[1] = 0;                                    // transparent
    c.argb[2] = 0x80000000;                           // half-transparent black
    screen.setCursor(c);
    CursorOverlay o(screen);
    ASSERT_EQ(o.changed(3), 1);
    EXPECT_EQ(pic(o, 0, 0), 0xFF0000u);
    EXPECT_EQ(pic(o, 1, 0), kKeyBgr);
    EXPECT_EQ(pic(o, 2, 0), 0x7F7F7Fu);
    EXPECT_EQ(pic(o, 0, 1), 0xFF0000u);
    EXPECT_EQ(pic(o, 3, 0), kKeyBgr);
    EXPECT_EQ(pic(o, 31, 31), kKeyBgr);
}

TEST(CursorOverlay, ScaledPictureShrinksWithKeyStrips)
{
    SyntheticScreen screen(2560, 1440);
    screen.setCursor(solidCursor(4, 32, 32, 0xFF000000));
    CursorOverlay o(screen);
    o.setScale(1920, 2560);
    ASSERT_EQ(o.changed(4), 1);
    EXPECT_EQ(pic(o, 0, 0), 0u);
    EXPECT_EQ(pic(o, 23, 23), 0u);
    EXPECT_EQ(pic(o, 24, 0), kKeyBgr);
    EXPECT_EQ(pic(o, 0, 24), kKeyBgr);
    EXPECT_EQ(pic(o, 31, 31), kKeyBgr);
}

TEST(CursorOverlay, LargeCursorIsCutAroundItsHotSpot)
{
    SyntheticScreen screen(800, 600);
    CursorImage c = solidCursor(5, 64, 64, 0, 32, 32);
    c.argb[32 * 64 + 32] = 0xFFFFFFFF; // the hot spot pixel
    screen.setCursor(c);
    screen.setPointer(300, 200);
    CursorOverlay o(screen);
    ASSERT_EQ(o.changed(5), 1);
    EXPECT_EQ(o.x(), 284);
    EXPECT_EQ(o.y(), 184);
    EXPECT_EQ(pic(o, 16, 16), 0xFFFFFFu);
}

TEST(CursorOverlay, CompressedPictureDecodesToThePicture)
{
    SyntheticScreen screen(800, 600);
    screen.setCursor(solidCursor(6, 12, 20, 0xFF102030));
    CursorOverlay o(screen);
    ASSERT_EQ(o.changed(6), 1);
    std::vector<uint8_t> packed;
    ASSERT_EQ(o.compressedPicture(packed), 1);
    ASSERT_GE(packed.size(), 3u);
    EXPECT_LT(packed.size(), 4096u);
    EXPECT_EQ(packed[packed.size() - 3], 0x11);
    EXPECT_EQ(packed[packed.size() - 2], 0);
    EXPECT_EQ(packed[packed.size() - 1], 0);
    std::vector<uint8_t> back(4096);
    lzo_uint n = back.size();
    ASSERT_EQ(lzo1x_decompress_safe(packed.data(), packed.size(), back.data(), &n, nullptr), LZO_E_OK);
    ASSERT_EQ(n, 4096u);
    EXPECT_EQ(std::memcmp(back.data(), o.picture(), 4096), 0);
}

TEST(CursorOverlay, TinyInputsAreOneLiteralRun)
{
    const uint8_t five[] = {1, 2, 3, 4, 5};
    std::vector<uint8_t> out;
    ASSERT_EQ(lzo1x1Compress(five, sizeof five, out), 1);
    const std::vector<uint8_t> expected{17 + 5, 1, 2, 3, 4, 5, 0x11, 0, 0};
    EXPECT_EQ(out, expected);
}

TEST(CursorOverlay, SwfArrowIsOpaqueArgbWithTransparentKey)
{
    uint8_t arrow[CursorOverlay::kPictureBytes];
    arrowCursorPicture(arrow);
    std::vector<uint8_t> argb;
    swfCursorPicture(arrow, argb);
    ASSERT_EQ(argb.size(), 4096u);
    auto px = [&](int x, int y) {
        const uint8_t* p = &argb[(y * 32 + x) * 4];
        return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    };
    EXPECT_EQ(px(0, 0), 0xFF000000u); // black tip, top row first
    EXPECT_EQ(px(1, 2), 0xFFFFFFFFu); // white fill
    EXPECT_EQ(px(5, 0), 0u);          // transparent
    EXPECT_EQ(px(31, 31), 0u);
    int opaque = 0;
    for (int i = 0; i < 32 * 32; ++i) {
        const uint8_t a = argb[i * 4];
        EXPECT_TRUE(a == 0 || a == 255);
        opaque += a == 255;
    }
    EXPECT_GT(opaque, 80);
    EXPECT_LT(opaque, 200);
}

TEST(CursorOverlay, BurnInLeavesNoTraceAfterRestore)
{
    for (uint8_t bpp : {uint8_t{32}, uint8_t{16}}) {
        SyntheticScreen screen(640, 480, bpp);
        screen.setCursor(solidCursor(9, 2, 2, 0xFFFFFFFF));
        screen.setPointer(10, 10);
        FrameGrabber g(screen);
        ASSERT_EQ(g.init(Rect{}, 0, true), 1);
        ASSERT_EQ(g.capture(false), 1);
        CursorOverlay o(screen);
        o.setArea(g.captureArea());
        o.updateForBurnIn(9);
        ASSERT_EQ(o.burnIn(g), 1);
        ASSERT_EQ(g.scaleToOutput(), 1);
        const uint32_t white = bpp == 32 ? 0xFFFFFFu : 0x7FFFu;
        auto out = [&](int x, int y) {
            uint32_t v = 0;
            std::memcpy(&v, g.frame().rowFromTop(y) + x * (bpp / 8), bpp / 8);
            return v & 0xFFFFFF;
        };
        EXPECT_EQ(out(10, 10), white);
        EXPECT_EQ(out(11, 11), white);
        EXPECT_EQ(out(12, 10), 0u);
        ASSERT_EQ(o.restore(g), 1);
        EXPECT_EQ(o.restore(g), 0) << "nothing saved twice";
        ASSERT_EQ(g.scaleToOutput(), 1);
        EXPECT_EQ(out(10, 10), 0u);
        // Cursor near the corner: clipped, no write past the picture.
        screen.setPointer(639, 479);
        o.updateForBurnIn(9);
        ASSERT_EQ(o.burnIn(g), 1);
        ASSERT_EQ(o.restore(g), 1);
    }
}

} // namespace
} // namespace quillet
