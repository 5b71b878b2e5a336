#pragma once
#include <string>

namespace quillet {

// The four global hotkeys: their stored texts, what a text registers, and the
// editing rules of the hotkey window. No platform code: the key codes here
// are the virtual-key numbers of the stored format (letters and digits are
// their upper-case character codes, F n is 111 + n); a backend maps them to
// its own keys.

inline constexpr int kHotkeyCount = 4;
// Hotkey ids of the rows start, pause, stop, screen pen.
inline constexpr int kHotkeyFirstId = 2228;

enum HotkeyModifier : int { kHotkeyNoModifier = 0, kHotkeyAlt = 1, kHotkeyCtrl = 2, kHotkeyCtrlAlt = 3 };

struct HotkeyCode {
    int modifier = kHotkeyNoModifier;
    int keyCode = 0;
};

// The stored text of a row that has none: "F8", "F9", "F10", "F11".
std::string defaultHotkeyText(int row);
// The command a hotkey id runs (1000 start, 1001 pause, 1002 stop, 1010
// screen pen); 0 for any other id.
int hotkeyCommand(int hotkeyId);

// What a stored text registers. Returns 1 with *code filled, or 0 when the
// text registers nothing: a lower-case or other key after a prefix, an empty
// key, and without a prefix anything but F2..F12.
int parseHotkeyText(const std::string& text, HotkeyCode* code);

// The hotkey window's modifier lists: entry 0 empty, then "Ctrl+", "Alt+",
// "Ctrl+Alt+".
inline constexpr int kModifierEntryCount = 4;
const char* modifierEntryText(int entry);

// One row of the hotkey window: the modifier list's entry (-1: no
// selection) and the key box's text.
struct HotkeyRow {
    int entry = -1;
    std::string key;
};

// How a stored text shows in the window: the part after the last "+" in the
// key box and the list entry named by the part up to it (exactly one of the
// entries' texts, else entry 0); without "+" the whole text with entry 0; an
// empty text leaves the box empty and the list without selection.
HotkeyRow splitHotkeyText(const std::string& text);

// A key pressed in a row's key box. Letters and digits become the box text and
// move an empty modifier to "Ctrl+"; F2..F12 become "F2".."F12"; any other key
// changes nothing. Returns 1 when the row changed.
int keyIntoRow(int keyCode, HotkeyRow* row);

// OK in the hotkey window: each row's text is its modifier's text followed by
// its key box (a row with no modifier and a one-character key gets "Ctrl+",
// and its list moves to that entry). Returns 1 with texts[] filled, or 0
// when two rows end up with the same text (empty rows count as equal).
int composeHotkeyTexts(HotkeyRow rows[kHotkeyCount], std::string texts[kHotkeyCount]);

} // namespace quillet
