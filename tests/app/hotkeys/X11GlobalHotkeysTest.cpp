#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/hotkeys/x11/X11GlobalHotkeys.h"

namespace quillet {
namespace {

// Presses keys through XTEST on a connection of its own, as another program's
// user would.
class Keyboard {
public:
    Keyboard() : d_(XOpenDisplay(nullptr)) {}
    ~Keyboard()
    {
        if (d_)
            XCloseDisplay(d_);
    }
    bool ok() const { return d_ != nullptr; }
    void tap(KeySym sym, std::vector<KeySym> held = {})
    {
        for (KeySym h : held)
            key(h, true);
        key(sym, true);
        key(sym, false);
        for (KeySym h : held)
            key(h, false);
        XSync(d_, False);
    }
    void key(KeySym sym, bool down) { XTestFakeKeyEvent(d_, XKeysymToKeycode(d_, sym), down, CurrentTime); }

private:
    Display* d_;
};

std::vector<int> pump(X11GlobalHotkeys& keys, std::vector<int>& got)
{
    for (int i = 0; i < 20; ++i) {
        keys.processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<int> out = got;
    got.clear();
    return out;
}

TEST(X11GlobalHotkeys, GrabsReportPressesAndRefuseKeysHeldElsewhere)
{
    if (!std::getenv("DISPLAY") || !std::getenv("QUILLET_TEST_ENV"))
        GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)";
    Keyboard keyboard;
    ASSERT_TRUE(keyboard.ok());

    // Another program holds F9.
    X11GlobalHotkeys other;
    ASSERT_EQ(other.open(), 1);
    ASSERT_EQ(other.registerKey(1, HotkeyCode{0, 120}), 1);

    X11GlobalHotkeys keys;
    ASSERT_EQ(keys.open(), 1);
    EXPECT_GE(keys.connectionFd(), 0);
    std::vector<int> got;
    keys.onPressed([&](int id) { got.push_back(id); });
    EXPECT_EQ(keys.registerKey(2228, HotkeyCode{0, 119}), 1);            // F8
    EXPECT_EQ(keys.registerKey(2229, HotkeyCode{0, 120}), 0) << "F9 is held by the other client";
    EXPECT_EQ(keys.registerKey(2230, HotkeyCode{kHotkeyCtrl, 'Q'}), 1); // Ctrl+Q
    EXPECT_EQ(keys.registerKey(2231, HotkeyCode{kHotkeyCtrl, 'Q'}), 0) << "the same key twice";
    EXPECT_EQ(keys.registerKey(2228, HotkeyCode{kHotkeyAlt, 'W'}), 0) << "the same id twice";
    EXPECT_EQ(keys.registerKey(2231, HotkeyCode{0, 200}), 0) << "no such key";

    keyboard.tap(XK_F8);
    EXPECT_EQ(pump(keys, got), std::vector<int>{2228});
    keyboard.tap(XK_q, {XK_Control_L});
    EXPECT_EQ(pump(keys, got), std::vector<int>{2230});
    keyboard.tap(XK_q); // without Ctrl it is an ordinary key
    EXPECT_TRUE(pump(keys, got).empty());
    keyboard.tap(XK_F8, {XK_Shift_L}); // another combination
    EXPECT_TRUE(pump(keys, got).empty());

    // With CapsLock on the key still works.
    keyboard.tap(XK_Caps_Lock);
    keyboard.tap(XK_F8);
    keyboard.tap(XK_Caps_Lock);
    EXPECT_EQ(pump(keys, got), std::vector<int>{2228});

    // Held down with auto-repeat: one press.
    keyboard.key(XK_F8, true);
    keyboard.key(XK_F8, true);
    keyboard.key(XK_F8, true);
    keyboard.key(XK_F8, false);
    keyboard.tap(XK_Escape);
    EXPECT_EQ(pump(keys, got), std::vector<int>{2228});

    // Released keys are free for others.
    keys.unregisterAll();
    X11GlobalHotkeys third;
    ASSERT_EQ(third.open(), 1);
    EXPECT_EQ(third.registerKey(5, HotkeyCode{0, 119}), 1);
}

} // namespace
} // namespace quillet
