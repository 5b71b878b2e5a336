#pragma once
#include <functional>
#include <string>

#include "app/hotkeys/HotkeyText.h"

namespace quillet {

// System-wide keys that reach this program while another one has the focus.
// One backend per desktop (X11 grabs the keys on the root window).
//
// Threads: everything on the thread that owns the program's windows.
class GlobalHotkeys {
public:
    virtual ~GlobalHotkeys() = default;

    // Registers one key under `id`. Returns 1, or 0 when the key cannot be had:
    // another program holds it, the id or the key is already registered here,
    // or the desktop has no such key. A refusal changes nothing else.
    virtual int registerKey(int id, const HotkeyCode& code) = 0;
    // Releases every registered key.
    virtual void unregisterAll() = 0;

    // Called with the id of each registered key that is pressed.
    void onPressed(std::function<void(int id)> handler) { pressed_ = std::move(handler); }

protected:
    void pressed(int id)
    {
        if (pressed_)
            pressed_(id);
    }

private:
    std::function<void(int)> pressed_;
};

// The hotkey settings as stored: "use" and the texts of "k1".."k4".
struct HotkeyStore {
    bool use = true;
    std::string texts[kHotkeyCount];
};

// Registration at start-up: with "use" on, each row whose text parses is
// registered under its id. shown[] receives the texts shown behind the tool
// tips and tray entries: the stored ones, also for rows that could not be
// registered; all empty with "use" off. `refused`, when given, hears the text
// of each row whose key could not be had. Returns the number registered.
int registerStoredHotkeys(GlobalHotkeys& keys, const HotkeyStore& stored, std::string shown[kHotkeyCount],
                          const std::function<void(const std::string&)>& refused = {});

} // namespace quillet
