#include "app/hotkeys/x11/X11GlobalHotkeys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "capture/x11/X11ErrorTrap.h"

namespace quillet {
namespace {

// The stored key codes: letters and digits are their characters, F n is 111 + n.
constexpr int kFunctionKeyBase = 111;
constexpr int kHighestFunctionKey = 35; // X names F1..F35

KeySym keysymFor(int keyCode)
{
    if (keyCode >= 'A' && keyCode <= 'Z')
        return XK_a + (keyCode - 'A');
    if (keyCode >= '0' && keyCode <= '9')
        return XK_0 + (keyCode - '0');
    const int n = keyCode - kFunctionKeyBase;
    if (n >= 1 && n <= kHighestFunctionKey)
        return XK_F1 + (n - 1);
    return NoSymbol;
}

// The modifier bit that a key symbol is mapped to; 0 when none.
unsigned maskOf(Display* d, KeySym sym)
{
    const KeyCode code = XKeysymToKeycode(d, sym);
    if (code == 0)
        return 0;
    unsigned mask = 0;
    if (XModifierKeymap* map = XGetModifierMapping(d)) {
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (map->modifiermap[m * map->max_keypermod + k] == code)
                    mask = 1u << m;
        XFreeModifiermap(map);
    }
    return mask;
}

} // namespace

X11GlobalHotkeys::X11GlobalHotkeys() = default;

X11GlobalHotkeys::~X11GlobalHotkeys() { close(); }

int X11GlobalHotkeys::open(const char* displayName)
{
    close();
    Display* d = XOpenDisplay(displayName);
    if (!d)
        return 0;
    display_ = d;
    trap_ = std::make_unique<X11ErrorTrap>(d);
    root_ = DefaultRootWindow(d);
    // Auto-repeat then shows as presses without releases in between, so a
    // held key can be told from a pressed one.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(d, True, &supported);
    readModifierMasks();
    return 1;
}

void X11GlobalHotkeys::close()
{
    if (!display_)
        return;
    unregisterAll();
    trap_->sync();
    trap_.reset();
    XCloseDisplay(display_);
    display_ = nullptr;
}

int X11GlobalHotkeys::connectionFd() const { return display_ ? ConnectionNumber(display_) : -1; }

void X11GlobalHotkeys::readModifierMasks()
{
    altMask_ = maskOf(display_, XK_Alt_L);
    if (altMask_ == 0 || altMask_ == ControlMask || altMask_ == LockMask || altMask_ == ShiftMask)
        altMask_ = Mod1Mask;
    numLockMask_ = maskOf(display_, XK_Num_Lock);
    if (numLockMask_ == altMask_ || numLockMask_ == ControlMask)
        numLockMask_ = 0;
}

int X11GlobalHotkeys::grab(Grab& g)
{
    const KeySym sym = keysymFor(g.code.keyCode);
    g.keycode = sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
    if (g.keycode == 0)
        return 0;
    g.modifiers = 0;
    if (g.code.modifier & kHotkeyCtrl)
        g.modifiers |= ControlMask;
    if (g.code.modifier & kHotkeyAlt)
        g.modifiers |= altMask_;

    trap_->sync();
    XGrabKey(display_, static_cast<int>(g.keycode), g.modifiers, root_, False, GrabModeAsync, GrabModeAsync);
    if (trap_->sync() != 0)
        return 0; // another client holds it (BadAccess): nothing was grabbed
    // With CapsLock or NumLock on the server sees other modifiers; the key must
    // still work. A variant held elsewhere only loses that variant.
    const unsigned extras[] = {LockMask, numLockMask_, LockMask | numLockMask_};
    for (unsigned extra : extras)
        if (extra != 0)
            XGrabKey(display_, static_cast<int>(g.keycode), g.modifiers | extra, root_, False, GrabModeAsync,
                     GrabModeAsync);
    trap_->sync();
    return 1;
}

void X11GlobalHotkeys::ungrab(const Grab& g)
{
    const unsigned extras[] = {0, LockMask, numLockMask_, LockMask | numLockMask_};
    for (unsigned extra : extras)
        XUngrabKey(display_, static_cast<int>(g.keycode), g.modifiers | extra, root_);
}

int X11GlobalHotkeys::registerKey(int id, const HotkeyCode& code)
{
    if (!display_)
        return 0;
    for (const Grab& g : grabs_)
        if (g.id == id || (g.code.keyCode == code.keyCode && g.code.modifier == code.modifier))
            return 0;
    Grab g{id, code, 0, 0, false};
    if (!grab(g))
        return 0;
    grabs_.push_back(g);
    processEvents(); // the syncs may have queued events the fd will not announce again
    return 1;
}

void X11GlobalHotkeys::unregisterAll()
{
    if (!display_)
        return;
    for (const Grab& g : grabs_)
        ungrab(g);
    grabs_.clear();
    trap_->sync();
}

void X11GlobalHotkeys::processEvents()
{
    if (!display_)
        return;
    while (XPending(display_) > 0) {
        XEvent e;
        XNextEvent(display_, &e);
        if (e.type == MappingNotify) {
            // The keyboard's layout changed: keys and modifiers may have moved.
            XRefreshKeyboardMapping(&e.xmapping);
            if (e.xmapping.request == MappingKeyboard || e.xmapping.request == MappingModifier) {
                for (const Grab& g : grabs_)
                    ungrab(g);
                readModifierMasks();
                for (Grab& g : grabs_)
                    grab(g);
            }
            continue;
        }
        if (e.type != KeyPress && e.type != KeyRelease)
            continue;
        const unsigned relevant = ControlMask | altMask_;
        for (Grab& g : grabs_) {
            if (g.keycode != e.xkey.keycode || (e.xkey.state & relevant) != g.modifiers)
                continue;
            if (e.type == KeyRelease) {
                g.held = false;
            } else if (!g.held) {
                g.held = true;
                pressed(g.id);
            }
        }
    }
}

} // namespace quillet
