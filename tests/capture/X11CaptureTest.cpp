// The X11 screen on a real server: run under scripts/test-env.sh, at depth 24
// and again with --depth 16.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/x11/X11Composition.h"
#include "capture/x11/X11Screen.h"

namespace quillet {
namespace {

// A second connection that draws and moves the pointer, as another program would.
class Painter {
public:
    Painter() : display_(XOpenDisplay(nullptr))
    {
        if (display_) {
            root_ = DefaultRootWindow(display_);
            gc_ = XCreateGC(display_, root_, 0, nullptr);
            XSetSubwindowMode(display_, gc_, IncludeInferiors);
        }
    }
    ~Painter()
    {
        if (display_) {
            XFreeGC(display_, gc_);
            XCloseDisplay(display_);
        }
    }
    bool ok() const { return display_ != nullptr; }
    int depth() const { return DefaultDepth(display_, DefaultScreen(display_)); }
    // `pixel` is the server's pixel value at its depth.
    void fill(int x, int y, int w, int h, unsigned long pixel)
    {
        XSetForeground(display_, gc_, pixel);
        XFillRectangle(display_, root_, gc_, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
        settle();
    }
    void movePointer(int x, int y)
    {
        XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
        settle();
    }
    // The grabber's connection learns of a change by an event; give the
    // server a moment to deliver it after our requests were processed.
    void settle()
    {
        XSync(display_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }

private:
    Display* display_ = nullptr;
    Window root_ = 0;
    GC gc_{};
};

bool haveDisplay() { return std::getenv("DISPLAY") != nullptr && *std::getenv("DISPLAY") != '\0'; }

#define REQUIRE_DISPLAY()                                                                                              \
    if (!haveDisplay())                                                                                                \
    GTEST_SKIP() << "needs an X server (run under scripts/test-env.sh)"

// A colour as the server's pixel value and as the frame stores it.
struct Colour {
    unsigned long server;
    uint32_t frame;
};
Colour colour(int depth, uint8_t r, uint8_t g, uint8_t b)
{
    if (depth == 16) {
        const unsigned long v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        return {v, static_cast<uint32_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))};
    }
    const unsigned long v = (static_cast<unsigned long>(r) << 16) | (g << 8) | b;
    return {v, static_cast<uint32_t>(v)};
}

uint32_t capturePixel(const FrameGrabber& g, int x, int y)
{
    const PixelView p = g.capturePicture();
    uint32_t v = 0;
    std::memcpy(&v, p.row(y) + x * p.bytesPerPixel(), p.bytesPerPixel());
    return p.bitsPerPixel == 32 ? (v & 0xFFFFFF) : v;
}

int dirtyCount(const FrameGrabber& g)
{
    int n = 0;
    for (int i = 0; i < g.tileCount(); ++i)
        n += g.changeList()[i] == Rect{} ? 0 : 1;
    return n;
}

TEST(X11Capture, ScreenReportsItsDepthAndExtensions)
{
    REQUIRE_DISPLAY();
    X11Screen screen;
    ASSERT_EQ(screen.open(), 1);
    EXPECT_TRUE(screen.usesSharedMemory());
    EXPECT_TRUE(screen.tracksDamage());
    EXPECT_TRUE(screen.tracksPointerMoves());
    EXPECT_EQ(screen.bitsPerPixel(), screen.depth() == 16 ? 16 : 32);
    EXPECT_EQ(screen.physicalWidth(), 1920);
    EXPECT_FALSE(screen.compositionActive()) << "no compositing manager on the test display";
    EXPECT_FALSE(compositionEnabled());
    EXPECT_FALSE(disableComposition());
    EXPECT_FALSE(compositionEnabled(":12345")) << "unreachable display";
}

TEST(X11Capture, CapturesKnownPixelsAndOnlyTheChangedTile)
{
    REQUIRE_DISPLAY();
    Painter painter;
    ASSERT_TRUE(painter.ok());
    const int depth = painter.depth();
    const Colour grey = colour(depth, 0x40, 0x40, 0x40);
    const Colour odd = colour(depth, 0x12, 0x34, 0x56);
    const Colour red = colour(depth, 0xFF, 0, 0);
    painter.fill(0, 0, 1920, 1080, grey.server);
    painter.fill(1000, 300, 20, 20, odd.server); // inside tile 6
    painter.movePointer(40, 40);                 // mouse square in tile 0

    X11Screen screen;
    ASSERT_EQ(screen.open(), 1);
    FrameGrabber g(screen);
    ASSERT_EQ(g.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true), 1);
    EXPECT_EQ(g.bitsPerPixel(), depth == 16 ? 16 : 32);
    ASSERT_EQ(g.capture(false), 1);
    EXPECT_EQ(capturePixel(g, 5, 5), grey.frame);
    EXPECT_EQ(capturePixel(g, 1010, 310), odd.frame);
    EXPECT_EQ(capturePixel(g, 1919, 1079), grey.frame);
    g.scaleToOutput();
    g.mapAndShrink();

    // Still screen: only the square around the mouse is looked at, and it
    // holds no change.
    ASSERT_EQ(g.capture(false), 1);
    EXPECT_EQ(dirtyCount(g), 1);
    EXPECT_EQ(g.changeList()[0], (Rect{0, 0, 79, 79}));
    g.scaleToOutput();
    g.mapAndShrink();
    EXPECT_EQ(dirtyCount(g), 0);

    painter.fill(1100, 400, 30, 10, red.server);
    ASSERT_EQ(g.capture(false), 1);
    EXPECT_EQ(capturePixel(g, 1110, 405), red.frame);
    EXPECT_EQ(g.changeList()[6], (Rect{1088, 400, 1135, 415}));
    EXPECT_EQ(dirtyCount(g), 2) << "the changed tile and the mouse tile";
    g.scaleToOutput();
    g.mapAndShrink();
    EXPECT_EQ(dirtyCount(g), 1);
    const Rect d = g.tile(6).dirty; // 1080 rows scale to 1088, so rows move a little
    EXPECT_LE(d.left, 1100);
    EXPECT_GE(d.right, 1129);
    EXPECT_LE(d.top, 400);
    EXPECT_GE(d.bottom, 409);
    EXPECT_LT(d.bottom - d.top, 48);
}

class X11AreaCapture : public ::testing::TestWithParam<bool> {};

TEST_P(X11AreaCapture, MatchesTheScreen)
{
    REQUIRE_DISPLAY();
    const bool plain = GetParam();
    Painter painter;
    ASSERT_TRUE(painter.ok());
    const int depth = painter.depth();
    const Colour blue = colour(depth, 0, 0, 0xFF);
    const Colour green = colour(depth, 0, 0xFF, 0);
    painter.fill(0, 0, 1920, 1080, blue.server);
    painter.fill(333, 222, 7, 9, green.server);
    X11Screen screen;
    ASSERT_EQ(screen.open(), 1);
    if (plain)
        screen.forcePlainCopies();
    FrameGrabber g(screen);
    ASSERT_EQ(g.init(Rect{320, 200, 960, 680}, 0, true), 1);
    EXPECT_EQ(screen.usesSharedMemory(), !plain);
    ASSERT_EQ(g.width(), 640);
    ASSERT_EQ(g.height(), 480);
    ASSERT_EQ(g.capture(true), 1);
    // Unscaled: the output frame is the screen area, bottom row stored first.
    auto out = [&](int x, int y) {
        uint32_t v = 0;
        std::memcpy(&v, g.frame().rowFromTop(y) + x * (g.bitsPerPixel() / 8), g.bitsPerPixel() / 8);
        return g.bitsPerPixel() == 32 ? (v & 0xFFFFFF) : v;
    };
    EXPECT_EQ(out(13, 22), green.frame);
    EXPECT_EQ(out(19, 30), green.frame);
    EXPECT_EQ(out(20, 30), blue.frame);
    EXPECT_EQ(out(639, 479), blue.frame);

    // A change inside the area arrives through the same path.
    painter.fill(900, 600, 5, 5, green.server);
    ASSERT_EQ(g.capture(true), 1);
    EXPECT_EQ(out(582, 402), green.frame);
    EXPECT_EQ(g.tile(3).dirty, (Rect{576, 400, 591, 407}));
}

INSTANTIATE_TEST_SUITE_P(SharedOrPlain, X11AreaCapture, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PlainXGetImage" : "SharedMemory"; });

TEST(X11Capture, PointerAndCursorFollowTheServer)
{
    REQUIRE_DISPLAY();
    Painter painter;
    ASSERT_TRUE(painter.ok());
    X11Screen screen;
    ASSERT_EQ(screen.open(), 1);
    painter.movePointer(500, 400);
    int32_t x = 0;
    int32_t y = 0;
    ASSERT_EQ(screen.pointerPosition(x, y), 1);
    EXPECT_EQ(x, 500);
    EXPECT_EQ(y, 400);
    painter.movePointer(701, 333);
    ASSERT_EQ(screen.pointerPosition(x, y), 1);
    EXPECT_EQ(x, 701);
    EXPECT_EQ(y, 333);

    const uint64_t serial = screen.cursorSerial();
    EXPECT_NE(serial, 0u);
    CursorImage image;
    ASSERT_EQ(screen.cursorImage(image), 1);
    ASSERT_GT(image.width, 0);
    ASSERT_EQ(image.argb.size(), static_cast<size_t>(image.width * image.height));

    CursorOverlay overlay(screen);
    ASSERT_EQ(overlay.changed(serial), 1);
    EXPECT_EQ(overlay.pictureSize(), 4096);
    EXPECT_EQ(overlay.x(), 701 - image.hotX);
    EXPECT_EQ(overlay.y(), 333 - image.hotY);
    int covered = 0;
    for (int i = 0; i < 32 * 32; ++i) {
        const uint8_t* p = overlay.picture() + i * 4;
        covered += !(p[0] == 128 && p[1] == 128 && p[2] == 0);
    }
    EXPECT_GT(covered, 10) << "the cursor shows in the picture";
    EXPECT_LT(covered, 32 * 32);
    EXPECT_EQ(overlay.changed(screen.cursorSerial()), 0) << "nothing moved";
}

} // namespace
} // namespace quillet
