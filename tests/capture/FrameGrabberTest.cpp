#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"

namespace quillet {
namespace {

// A clock the test moves by hand, in ms.
struct ManualClock {
    uint64_t now = 100000;
    std::function<uint64_t()> fn()
    {
        return [this] { return now; };
    }
};

bool dirty(const Rect& r) { return !(r == Rect{}); }

int dirtyCount(const FrameGrabber& g)
{
    int n = 0;
    for (int i = 0; i < g.tileCount(); ++i)
        n += dirty(g.changeList()[i]) ? 1 : 0;
    return n;
}

// Output pixel (x, y from the top) as stored.
uint32_t outputPixel(FrameGrabber& g, int x, int y)
{
    const ScreenFrame& f = g.frame();
    uint32_t v = 0;
    std::memcpy(&v, f.rowFromTop(y) + x * (f.bitsPerPixel / 8), f.bitsPerPixel / 8);
    return v;
}

// A grabber over a screen with a first frame already taken and shrunk, the
// pointer parked in the top-left tile.
struct Fixture {
    SyntheticScreen screen;
    ManualClock clock;
    FrameGrabber grabber;
    explicit Fixture(int w = 1920, int h = 1080, uint8_t bpp = 32) : screen(w, h, bpp), grabber(screen, clock.fn())
    {
        screen.setPointer(40, 40);
    }
    void start(const Rect& area = {}, bool large = true)
    {
        ASSERT_EQ(grabber.init(area, FrameGrabber::kFlagLayeredWindows, large), 1);
        ASSERT_EQ(grabber.capture(true), 1);
        screen.resetCounters();
    }
};

TEST(FrameGrabberInit, OutputSizeRules)
{
    struct Case {
        int sw, sh;
        bool large;
        int w, h;
    } cases[] = {
        {1920, 1080, true, 1920, 1088}, // 1080 + 9 rounds down to 1088
        {2560, 1440, true, 1920, 1088}, {2560, 1440, false, 1600, 896}, {1024, 768, true, 1024, 768},
        {1366, 768, true, 1360, 768},   {1920, 1200, false, 1600, 1008},
    };
    for (const Case& c : cases) {
        SyntheticScreen screen(c.sw, c.sh);
        FrameGrabber g(screen);
        ASSERT_EQ(g.init(Rect{}, 0, c.large), 1);
        EXPECT_EQ(g.width(), c.w) << c.sw << "x" << c.sh;
        EXPECT_EQ(g.height(), c.h) << c.sw << "x" << c.sh;
        EXPECT_EQ(g.captureWidth(), c.sw);
        EXPECT_EQ(g.captureHeight(), c.sh);
        EXPECT_EQ(g.frameFormat().sizeImage, static_cast<uint32_t>(c.w * c.h * 4));
        EXPECT_EQ(g.frame().stride, c.w * 4);
    }
}

TEST(FrameGrabberInit, AreaIsScaledToPhysicalPixels)
{
    // Display scaling 2: a 1280 × 720 desktop on a 2560 × 1440 screen.
    SyntheticScreen screen(2560, 1440, 32, 1280, 720);
    FrameGrabber g(screen);
    ASSERT_EQ(g.init(Rect{100, 100, 420, 340}, 0, true), 1);
    EXPECT_EQ(g.width(), 320);
    EXPECT_EQ(g.height(), 240);
    EXPECT_EQ(g.captureWidth(), 640);
    EXPECT_EQ(g.captureHeight(), 480);
    EXPECT_EQ(g.captureArea(), (Rect{200, 200, 840, 680}));
}

TEST(FrameGrabberInit, AnAreaOverTheLimitIsScaledDownWhole)
{
    SyntheticScreen screen(2560, 1440);
    FrameGrabber g(screen);
    ASSERT_EQ(g.init(Rect{0, 0, 2400, 1008}, 0, true), 1);
    // 2400 x 1008 fits 1920 wide as 1920 x 806, rounded to 800 rows; all of
    // the area is read and scaled, none of it cropped.
    EXPECT_EQ(g.width(), 1920);
    EXPECT_EQ(g.height(), 800);
    EXPECT_EQ(g.captureWidth(), 2400);
    EXPECT_EQ(g.captureHeight(), 1008);
    EXPECT_EQ(g.captureArea(), (Rect{0, 0, 2400, 1008}));
    // The whole screen given as an area reads like the whole screen.
    FrameGrabber whole(screen);
    ASSERT_EQ(whole.init(Rect{0, 0, 2560, 1440}, 0, true), 1);
    EXPECT_EQ(whole.width(), 1920);
    EXPECT_EQ(whole.height(), 1088);
    EXPECT_EQ(whole.captureArea(), (Rect{0, 0, 2560, 1440}));
}

TEST(FrameGrabberInit, BadAreasAndFailuresAreRefusedOrCut)
{
    SyntheticScreen screen(1920, 1080);
    {
        FrameGrabber g(screen);
        EXPECT_EQ(g.init(Rect{500, 500, 504, 600}, 0, true), 0) << "4 pixels wide";
        EXPECT_EQ(g.init(Rect{3000, 0, 3100, 100}, 0, true), 0) << "off screen";
        EXPECT_FALSE(g.initialised());
    }
    {
        // Reaches past the right edge: cut to the screen.
        FrameGrabber g(screen);
        ASSERT_EQ(g.init(Rect{1800, 0, 2200, 200}, 0, true), 1);
        EXPECT_EQ(g.captureArea().right, 1920);
    }
    {
        screen.failNextOpen();
        FrameGrabber g(screen);
        EXPECT_EQ(g.init(Rect{}, 0, true), 0);
        EXPECT_EQ(g.capture(false), 0);
    }
    {
        SyntheticScreen eightBit(640, 480, 8);
        FrameGrabber g(eightBit);
        EXPECT_EQ(g.init(Rect{}, 0, true), 0);
    }
}

TEST(FrameGrabberInit, SecondInitChangesNothingAndReleaseAllowsANewOne)
{
    SyntheticScreen screen(1920, 1080);
    FrameGrabber g(screen);
    ASSERT_EQ(g.init(Rect{0, 0, 640, 480}, 0, true), 1);
    ASSERT_EQ(g.init(Rect{}, 0, true), 1);
    EXPECT_EQ(g.width(), 640);
    g.release();
    EXPECT_EQ(g.capture(true), 0);
    g.release();
    ASSERT_EQ(g.init(Rect{}, 0, true), 1);
    EXPECT_EQ(g.width(), 1920);
}

TEST(FrameGrabberCapture, FirstFrameHoldsTheWholeScreenBottomUp)
{
    Fixture f(640, 480);
    f.screen.fill(Rect{0, 0, 640, 480}, 0x203040);
    f.screen.fill(Rect{0, 0, 16, 16}, 0xFF0000);       // top-left
    f.screen.fill(Rect{624, 464, 640, 480}, 0x00FF00); // bottom-right
    ASSERT_EQ(f.grabber.init(Rect{}, 0, true), 1);
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(outputPixel(f.grabber, 0, 0), 0xFF0000u);
    EXPECT_EQ(outputPixel(f.grabber, 639, 479), 0x00FF00u);
    EXPECT_EQ(outputPixel(f.grabber, 300, 200), 0x203040u);
    // Stored first is the bottom row.
    uint32_t first = 0;
    std::memcpy(&first, f.grabber.frame().bits + 639 * 4, 4);
    EXPECT_EQ(first, 0x00FF00u);
    EXPECT_EQ(f.screen.rejectedCopies(), 0);
}

TEST(FrameGrabberCapture, FirstFrameIsWholeEvenRightAfterTheClockStarts)
{
    SyntheticScreen screen(640, 480);
    screen.fillUnreported(Rect{600, 400, 640, 480}, 0x123456); // no notification tells of it
    ManualClock clock;
    clock.now = 5; // less than any refresh interval since the clock's start
    FrameGrabber g(screen, clock.fn());
    ASSERT_EQ(g.init(Rect{}, 0, true), 1);
    ASSERT_EQ(g.capture(true), 1);
    EXPECT_EQ(screen.copiedPixels(), 640 * 480);
    EXPECT_EQ(outputPixel(g, 620, 450), 0x123456u);
}

TEST(FrameGrabberCapture, RememberedRectanglesOfAScaledFrameStayInPlace)
{
    Fixture f(2560, 1440);
    f.screen.setTracking(false);
    f.screen.setPointer(10, 10);
    f.start();
    f.screen.fillUnreported(Rect{2300, 1300, 2340, 1340}, 0xFFFFFF);
    f.clock.now += FrameGrabber::kFullRefreshGuessingMs + 1;
    ASSERT_EQ(f.grabber.capture(true), 1);
    // Changes again: found through the remembered rectangle, which must be
    // the screen place, not its smaller place in the scaled output.
    f.screen.fillUnreported(Rect{2300, 1300, 2340, 1340}, 0x0000FF);
    f.screen.resetCounters();
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_LT(f.screen.copiedPixels(), 2560 * 1440 / 20);
    EXPECT_EQ(outputPixel(f.grabber, 2320 * 1920 / 2560, 1320 * 1088 / 1440) & 0xFFFFFF, 0x0000FFu);
}

TEST(FrameGrabberCapture, StillScreenDirtiesOnlyTheMouseArea)
{
    Fixture f;
    f.start();
    ASSERT_EQ(f.grabber.capture(false), 1);
    // Pointer at (40, 40): the 32-pixel square around it lies in tile 0.
    EXPECT_EQ(dirtyCount(f.grabber), 1);
    EXPECT_EQ(f.grabber.changeList()[0], (Rect{0, 0, 79, 79}));
    // The notifications are exact: nothing is read from the screen.
    EXPECT_EQ(f.screen.copies(), 0);
    // Nothing differs from the reference: shrinking empties it.
    f.grabber.scaleToOutput();
    f.grabber.mapAndShrink();
    EXPECT_EQ(dirtyCount(f.grabber), 0);
}

TEST(FrameGrabberCapture, WithoutNotificationsTheMouseAreaIsCopied)
{
    Fixture f;
    f.screen.setTracking(false);
    f.start();
    f.screen.fillUnreported(Rect{50, 50, 60, 60}, 0xFFFFFF); // under the mouse
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.screen.copies(), 1);
    EXPECT_LE(f.screen.copiedPixels(), 72 * 72);
    EXPECT_EQ(f.grabber.tile(0).dirty, (Rect{48, 48, 63, 63}));
}

TEST(FrameGrabberCapture, ChangeInsideOneTileDirtiesOnlyThatTile)
{
    Fixture f(1024, 768); // unscaled, so output and capture rectangles agree
    f.start();
    f.screen.fill(Rect{400, 300, 420, 320}, 0xFFFFFF); // inside tile 5 (320..639, 240..479)
    ASSERT_EQ(f.grabber.capture(true), 1);
    for (int i = 0; i < f.grabber.tileCount(); ++i) {
        const FrameTile t = f.grabber.tile(i);
        if (i == 5)
            EXPECT_EQ(t.dirty, (Rect{400, 288, 423, 319}));
        else
            EXPECT_FALSE(t.isDirty()) << "tile " << i;
    }
    // The same change again is no change.
    f.screen.fill(Rect{400, 300, 420, 320}, 0xFFFFFF);
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(dirtyCount(f.grabber), 0);
}

TEST(FrameGrabberCapture, ThinLinesSurviveShrinking)
{
    Fixture f(640, 480);
    f.start();
    f.screen.fill(Rect{400, 300, 401, 400}, 0xFFFFFF); // one pixel wide
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.tile(3).dirty, (Rect{400, 288, 407, 399}));
    f.screen.fill(Rect{100, 100, 200, 101}, 0xFFFFFF); // one pixel high
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.tile(0).dirty, (Rect{96, 96, 199, 103}));
}

TEST(FrameGrabberCapture, FullRefreshFollowsTheInterval)
{
    Fixture f(640, 480);
    f.start();
    f.screen.fillUnreported(Rect{500, 400, 520, 420}, 0x00FFFF); // missed by the notifications
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(dirtyCount(f.grabber), 0);
    EXPECT_EQ(f.grabber.fullRefreshInterval(), FrameGrabber::kFullRefreshTrackedMs);
    f.clock.now += FrameGrabber::kFullRefreshTrackedMs; // not yet past it
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(dirtyCount(f.grabber), 0);
    f.clock.now += 1;
    f.screen.resetCounters();
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.screen.copiedPixels(), 640 * 480);
    EXPECT_EQ(f.grabber.tile(3).dirty, (Rect{496, 400, 519, 423}));
    EXPECT_EQ(dirtyCount(f.grabber), 1);
}

TEST(FrameGrabberCapture, WithoutNotificationsRememberedRectanglesAreCopied)
{
    Fixture f(640, 480);
    f.screen.setTracking(false);
    f.start();
    EXPECT_EQ(f.grabber.fullRefreshInterval(), FrameGrabber::kFullRefreshGuessingMs);
    // Something changes in tile 3 and is caught by the next full copy.
    f.screen.fillUnreported(Rect{500, 400, 520, 420}, 0x00FFFF);
    f.clock.now += FrameGrabber::kFullRefreshGuessingMs + 1;
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.tile(3).dirty, (Rect{496, 400, 519, 423}));
    // It changes again: the remembered rectangle is copied without a refresh.
    f.screen.fillUnreported(Rect{500, 400, 520, 420}, 0xFF00FF);
    f.screen.resetCounters();
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.tile(3).dirty, (Rect{496, 400, 519, 423}));
    EXPECT_LT(f.screen.copiedPixels(), 640 * 480 / 10);
    EXPECT_EQ(outputPixel(f.grabber, 510, 410), f.screen.stored(0xFF00FF));
}

TEST(FrameGrabberCapture, ReportedRectanglesAddToRememberedOnesInTheSameTile)
{
    Fixture f(640, 480);
    f.screen.setTracking(false);
    f.start();
    f.screen.fillUnreported(Rect{330, 250, 340, 260}, 0x0000FF);
    f.clock.now += FrameGrabber::kFullRefreshGuessingMs + 1;
    ASSERT_EQ(f.grabber.capture(true), 1); // remembered: near (330, 250) in tile 3
    f.screen.fillUnreported(Rect{330, 250, 340, 260}, 0x00FF00);
    f.screen.fillUnreported(Rect{600, 450, 610, 460}, 0xFF0000);
    f.grabber.addChangedRect(Rect{600, 450, 609, 459});
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(outputPixel(f.grabber, 335, 255), f.screen.stored(0x00FF00));
    EXPECT_EQ(outputPixel(f.grabber, 605, 455), f.screen.stored(0xFF0000));
    EXPECT_EQ(f.grabber.tile(3).dirty, (Rect{320, 240, 615, 463}));
}

TEST(FrameGrabberCapture, CopiesAreBatchedUnderComposition)
{
    for (bool composition : {false, true}) {
        Fixture f(640, 480);
        f.screen.setComposition(composition);
        f.screen.setPointer(600, 40); // mouse square in tile 1
        f.start();
        f.screen.fill(Rect{300, 100, 340, 120}, 0x111111); // tiles 0 and 1, side by side
        f.screen.fill(Rect{10, 400, 20, 410}, 0x222222);   // tile 2, far away
        ASSERT_EQ(f.grabber.capture(false), 1);
        EXPECT_EQ(f.grabber.compositionActive(), composition);
        // Without batching: tiles 0, 1 (change plus mouse) and 2 each copied.
        // With it: tiles 0 and 1 touch and share one copy.
        EXPECT_EQ(f.screen.copies(), composition ? 2 : 3);
        EXPECT_EQ(f.screen.rejectedCopies(), 0);
    }
}

TEST(FrameGrabberCapture, ScaledFrameTracksChangesWithoutLeftovers)
{
    Fixture f(2560, 1440);
    f.screen.setPointer(2500, 1400);
    f.start();
    ASSERT_EQ(f.grabber.width(), 1920);
    ASSERT_EQ(f.grabber.height(), 1088);
    f.screen.fill(Rect{1000, 700, 1100, 760}, 0xFFFFFF);
    ASSERT_EQ(f.grabber.capture(true), 1);
    // The change maps to about x 750..825, y 529..574 of the output.
    Rect box{1 << 20, 1 << 20, -1, -1};
    for (int i = 0; i < f.grabber.tileCount(); ++i) {
        const Rect d = f.grabber.tile(i).dirty;
        if (!dirty(d))
            continue;
        box = Rect{std::min(box.left, d.left), std::min(box.top, d.top), std::max(box.right, d.right),
                   std::max(box.bottom, d.bottom)};
    }
    EXPECT_LE(box.left, 748);
    EXPECT_GE(box.right, 826);
    EXPECT_LE(box.top, 528);
    EXPECT_GE(box.bottom, 575);
    EXPECT_GT(box.left, 700);
    EXPECT_EQ(outputPixel(f.grabber, 790, 550) & 0xFFFFFF, 0xFFFFFFu);
    // A full refresh finds nothing the reference missed, so every pixel the
    // scaler touched was handed on.
    f.clock.now += FrameGrabber::kFullRefreshTrackedMs + 1;
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(dirtyCount(f.grabber), 0);
}

TEST(FrameGrabberCapture, OddWidthAndEdgeAreasStayOnScreen)
{
    {
        Fixture f(1366, 768);
        f.start();
        f.screen.fill(Rect{1355, 700, 1366, 768}, 0xFFFFFF);
        ASSERT_EQ(f.grabber.capture(true), 1);
        EXPECT_EQ(f.screen.rejectedCopies(), 0);
    }
    {
        Fixture f(1920, 1080);
        f.start(Rect{1905, 500, 1918, 600}); // rounding pushes the capture past the edge
        EXPECT_EQ(f.grabber.captureArea().right, 1920);
        f.screen.fill(Rect{1910, 520, 1920, 540}, 0xFFFFFF);
        ASSERT_EQ(f.grabber.capture(true), 1);
        f.clock.now += FrameGrabber::kFullRefreshTrackedMs + 1;
        ASSERT_EQ(f.grabber.capture(true), 1);
        EXPECT_EQ(f.screen.rejectedCopies(), 0);
    }
}

TEST(FrameGrabberCapture, SixteenBitFrames)
{
    Fixture f(640, 480, 16);
    f.start();
    f.screen.fill(Rect{100, 100, 132, 116}, 0xFF8000);
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.bitsPerPixel(), 16);
    EXPECT_EQ(f.grabber.frame().stride, 640 * 2);
    EXPECT_EQ(outputPixel(f.grabber, 110, 105), (31u << 10) | (16u << 5));
    EXPECT_EQ(f.grabber.tile(0).dirty, (Rect{96, 96, 135, 119}));
}

TEST(FrameGrabberCapture, ScaledSixteenBitFramesKeepThinColourLines)
{
    Fixture f(1920, 1080, 16); // scaled to 1920 × 1088: columns stay where they are
    f.screen.fill(Rect{0, 0, 1920, 1080}, 0xFFFFFF);
    f.screen.fill(Rect{31, 0, 32, 1080}, 0xFF0000);
    f.start();
    const uint32_t white = f.screen.stored(0xFFFFFF);
    EXPECT_EQ(outputPixel(f.grabber, 31, 500), f.screen.stored(0xFF0000));
    EXPECT_EQ(outputPixel(f.grabber, 30, 500), white);
    EXPECT_EQ(outputPixel(f.grabber, 32, 500), white);
    // A later change goes through the same path.
    f.screen.fill(Rect{600, 0, 601, 1080}, 0x0000FF);
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(outputPixel(f.grabber, 600, 700), f.screen.stored(0x0000FF));
    EXPECT_EQ(outputPixel(f.grabber, 601, 700), white);
}

TEST(FrameGrabberCapture, AreaCaptureUsesAreaRelativeTiles)
{
    Fixture f(1920, 1080);
    f.screen.setPointer(5, 5); // outside the area
    f.start(Rect{400, 300, 1040, 780});
    f.screen.fill(Rect{410, 310, 420, 320}, 0x00FF00);
    f.screen.fill(Rect{100, 100, 200, 200}, 0xFF0000); // outside: ignored
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.tile(0).dirty, (Rect{0, 0, 23, 23}));
    EXPECT_EQ(dirtyCount(f.grabber), 1);
    EXPECT_EQ(outputPixel(f.grabber, 15, 15), 0x00FF00u);
}

// A followed window moved: the area keeps its size, is read whole at its new
// place, and never leaves the screen.
TEST(FrameGrabberCapture, MovedAreaIsReadWholeAtItsNewPlace)
{
    Fixture f(1920, 1080);
    f.screen.setPointer(5, 5);
    f.screen.fill(Rect{0, 0, 1920, 1080}, 0x202020);
    f.screen.fill(Rect{1000, 600, 1320, 840}, 0x0000FF);
    f.start(Rect{400, 300, 720, 540});
    EXPECT_EQ(outputPixel(f.grabber, 10, 10), 0x202020u);

    f.grabber.moveArea(1000, 600);
    EXPECT_EQ(f.grabber.captureArea(), (Rect{400, 300, 720, 540})) << "applied by the next frame";
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.captureArea(), (Rect{1000, 600, 1320, 840}));
    EXPECT_EQ(outputPixel(f.grabber, 0, 0), 0x0000FFu);
    EXPECT_EQ(outputPixel(f.grabber, 319, 239), 0x0000FFu);
    EXPECT_EQ(f.screen.copiedPixels(), 320 * 240) << "the whole area, once";
    f.screen.fill(Rect{1010, 610, 1020, 620}, 0xFF0000);
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(outputPixel(f.grabber, 15, 15), 0xFF0000u) << "changes are tracked at the new place";

    f.grabber.moveArea(1800, -50);
    ASSERT_EQ(f.grabber.capture(true), 1);
    EXPECT_EQ(f.grabber.captureArea(), (Rect{1600, 0, 1920, 240})) << "kept on the screen";
    EXPECT_EQ(f.grabber.width(), 320);
}

// addChangedRect comes from another thread while frames are taken.
TEST(FrameGrabberCapture, ChangedRectanglesFromAnotherThread)
{
    Fixture f(640, 480);
    f.start();
    std::atomic<bool> stop{false};
    std::thread ui([&] {
        while (!stop)
            f.grabber.addChangedRect(Rect{10, 10, 50, 50});
    });
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(f.grabber.capture(true), 1);
    stop = true;
    ui.join();
    f.grabber.addChangedRect(Rect{10, 10, 50, 50});
    ASSERT_EQ(f.grabber.capture(false), 1);
    EXPECT_EQ(f.grabber.changeList()[0], (Rect{0, 0, 79, 79}));
}

} // namespace
} // namespace quillet
