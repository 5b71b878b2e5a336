#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "overlay/x11/X11DesktopBackend.h"

namespace quillet {
namespace {

// Windows of another client, made with plain Xlib.
class OtherClient {
public:
    OtherClient() : d(XOpenDisplay(nullptr)) {}
    ~OtherClient()
    {
        if (d)
            XCloseDisplay(d);
    }
    Window window(Window parent, int x, int y, unsigned w, unsigned h, unsigned long rgb, bool map = true)
    {
        XSetWindowAttributes a{};
        a.background_pixel = rgb;
        a.override_redirect = True;
        const Window win = XCreateWindow(d, parent ? parent : DefaultRootWindow(d), x, y, w, h, 0, CopyFromParent,
                                         InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
        if (map)
            XMapWindow(d, win);
        XSync(d, False);
        return win;
    }
    void cardinals(Window w, const char* property, std::vector<long> values)
    {
        const Atom a = XInternAtom(d, property, False);
        XChangeProperty(d, w, a, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(values.data()),
                        static_cast<int>(values.size()));
        XSync(d, False);
    }
    Display* d;
};

void settle(X11DesktopBackend& b)
{
    for (int i = 0; i < 20; ++i) {
        b.processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class X11DesktopBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY") || !std::getenv("QUILLET_TEST_ENV"))
            GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)";
        ASSERT_TRUE(other_.d);
        ASSERT_EQ(backend_.open(), 1);
    }
    OtherClient other_;
    X11DesktopBackend backend_;
};

TEST_F(X11DesktopBackendTest, WindowUnderAPointWithFramesAndShadows)
{
    const Window plain = other_.window(0, 100, 100, 200, 150, 0x112233);
    // A window manager's frame with the application's window inside it.
    const Window frame = other_.window(0, 400, 100, 220, 180, 0x445566);
    const Window client = other_.window(frame, 10, 30, 200, 140, 0x778899);
    other_.cardinals(client, "WM_STATE", {1, 0});
    // A window that draws its own shadow, 20 left and right, 10 above, 30 below.
    const Window shadowed = other_.window(0, 700, 100, 240, 200, 0xAABBCC);
    other_.cardinals(shadowed, "WM_STATE", {1, 0});
    other_.cardinals(shadowed, "_GTK_FRAME_EXTENTS", {20, 20, 10, 30});
    const Window hidden = other_.window(0, 1000, 100, 200, 200, 0xFFFFFF, false);

    DesktopBackend::Window w;
    ASSERT_EQ(backend_.windowAt(150, 150, {}, &w), 1);
    EXPECT_EQ(w.id, plain);
    EXPECT_EQ(w.rect, (Rect{100, 100, 300, 250}));
    ASSERT_EQ(backend_.windowAt(415, 135, {}, &w), 1) << "inside the client";
    EXPECT_EQ(w.id, frame);
    EXPECT_EQ(w.rect, (Rect{400, 100, 620, 280})) << "the frame counts";
    ASSERT_EQ(backend_.windowAt(800, 200, {}, &w), 1);
    EXPECT_EQ(w.rect, (Rect{720, 110, 920, 270})) << "the shadow does not";
    EXPECT_EQ(backend_.windowAt(705, 200, {}, &w), 0) << "in the shadow only the desktop is there";
    EXPECT_EQ(backend_.windowAt(1100, 200, {}, &w), 0) << "unmapped windows are not there";
    EXPECT_EQ(backend_.windowAt(150, 150, {plain}, &w), 0) << "the program's own windows are left out";

    // A window on top of another wins.
    const Window top = other_.window(0, 150, 120, 50, 50, 0x00FF00);
    ASSERT_EQ(backend_.windowAt(160, 130, {}, &w), 1);
    EXPECT_EQ(w.id, top);

    Rect r;
    EXPECT_EQ(backend_.windowRect(plain, &r), 1);
    EXPECT_EQ(r, (Rect{100, 100, 300, 250}));
    EXPECT_EQ(backend_.windowRect(hidden, &r), 0);
    XDestroyWindow(other_.d, plain);
    XSync(other_.d, False);
    EXPECT_EQ(backend_.windowRect(plain, &r), 0) << "a vanished window is an answer, not a crash";
}

TEST_F(X11DesktopBackendTest, FollowsAWindowUntilItCloses)
{
    const Window w = other_.window(0, 100, 100, 320, 240, 0x3366CC);
    std::vector<Rect> moves;
    int gone = 0;
    backend_.moved = [&](const Rect& r) { moves.push_back(r); };
    backend_.gone = [&] { ++gone; };
    backend_.follow(w);
    XMoveWindow(other_.d, w, 300, 200);
    XSync(other_.d, False);
    settle(backend_);
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back(), (Rect{300, 200, 620, 440}));
    XResizeWindow(other_.d, w, 400, 300);
    XSync(other_.d, False);
    settle(backend_);
    EXPECT_EQ(moves.back(), (Rect{300, 200, 700, 500}));
    XDestroyWindow(other_.d, w);
    XSync(other_.d, False);
    settle(backend_);
    EXPECT_EQ(gone, 1);

    // Following ends with the window; a new one can be followed.
    const Window next = other_.window(0, 10, 10, 100, 100, 0x3366CC);
    moves.clear();
    backend_.follow(next);
    backend_.follow(0);
    XMoveWindow(other_.d, next, 50, 50);
    XSync(other_.d, False);
    settle(backend_);
    EXPECT_TRUE(moves.empty()) << "no longer followed";
}

TEST_F(X11DesktopBackendTest, MonitorsScreenCopiesAndThePointer)
{
    const std::vector<Rect> monitors = backend_.monitors();
    ASSERT_FALSE(monitors.empty());
    EXPECT_EQ(monitors.front(), backend_.screenRect()) << "one monitor on the plain test desktop";

    other_.window(0, 200, 300, 64, 32, 0xCC3311);
    DesktopBackend::Picture p;
    ASSERT_EQ(backend_.copyScreen(Rect{190, 290, 274, 342}, &p), 1);
    ASSERT_EQ(p.width, 84);
    ASSERT_EQ(p.height, 52);
    EXPECT_EQ(p.pixels[static_cast<size_t>(10) * 84 + 10] & 0xFFFFFF, 0xCC3311u);
    EXPECT_NE(p.pixels[0] & 0xFFFFFF, 0xCC3311u);

    std::vector<std::vector<int>> events;
    int escapes = 0;
    backend_.pointer = [&](DesktopBackend::PointerEvent e, int button, int32_t x, int32_t y) {
        events.push_back({static_cast<int>(e), button, x, y});
    };
    backend_.escape = [&] { ++escapes; };
    ASSERT_EQ(backend_.takePointer(), 1);
    XTestFakeMotionEvent(other_.d, -1, 640, 480, CurrentTime);
    XTestFakeButtonEvent(other_.d, 1, True, CurrentTime);
    XTestFakeButtonEvent(other_.d, 1, False, CurrentTime);
    const KeyCode esc = XKeysymToKeycode(other_.d, XK_Escape);
    XTestFakeKeyEvent(other_.d, esc, True, CurrentTime);
    XTestFakeKeyEvent(other_.d, esc, False, CurrentTime);
    XSync(other_.d, False);
    settle(backend_);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 2], (std::vector<int>{static_cast<int>(DesktopBackend::PointerEvent::Press), 1,
                                                           640, 480}));
    EXPECT_EQ(events.back(), (std::vector<int>{static_cast<int>(DesktopBackend::PointerEvent::Release), 1, 640, 480}));
    EXPECT_EQ(escapes, 1);
    backend_.releasePointer();

    // Released: another client may take the pointer.
    EXPECT_EQ(XGrabPointer(other_.d, DefaultRootWindow(other_.d), False, ButtonPressMask, GrabModeAsync,
                           GrabModeAsync, None, None, CurrentTime),
              GrabSuccess);
    XUngrabPointer(other_.d, CurrentTime);
    XSync(other_.d, False);
}

} // namespace
} // namespace quillet
