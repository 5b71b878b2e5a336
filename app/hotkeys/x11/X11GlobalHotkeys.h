#pragma once
#include <memory>
#include <vector>

#include "app/hotkeys/GlobalHotkeys.h"

struct _XDisplay;

namespace quillet {

class X11ErrorTrap;

// Global hotkeys on X11: each key is grabbed on the root window, also with
// CapsLock and NumLock on (the server compares modifiers exactly), over a
// connection of its own. A key that another client has grabbed is refused
// (the server answers BadAccess, which is trapped, not fatal).
//
// The owner watches connectionFd() for input and then calls processEvents(),
// which reports presses through GlobalHotkeys::onPressed. A key held down
// reports once, not once per auto-repeat.
class X11GlobalHotkeys final : public GlobalHotkeys {
public:
    X11GlobalHotkeys();
    ~X11GlobalHotkeys() override;
    X11GlobalHotkeys(const X11GlobalHotkeys&) = delete;
    X11GlobalHotkeys& operator=(const X11GlobalHotkeys&) = delete;

    // Connects to `displayName` (nullptr: $DISPLAY). Returns 1, or 0 when
    // the display cannot be opened.
    int open(const char* displayName = nullptr);
    void close();
    // -1 before open().
    int connectionFd() const;
    // Reads every event that has arrived; call when connectionFd() is readable
    // (and it is harmless at any other time).
    void processEvents();

    int registerKey(int id, const HotkeyCode& code) override;
    void unregisterAll() override;

private:
    struct Grab {
        int id;
        HotkeyCode code;
        unsigned keycode;
        unsigned modifiers;
        bool held;
    };
    void readModifierMasks();
    int grab(Grab& g);
    void ungrab(const Grab& g);

    _XDisplay* display_ = nullptr;
    std::unique_ptr<X11ErrorTrap> trap_;
    unsigned long root_ = 0;
    unsigned altMask_ = 0;
    unsigned numLockMask_ = 0;
    std::vector<Grab> grabs_;
};

} // namespace quillet
