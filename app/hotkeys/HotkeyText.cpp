#include "app/hotkeys/HotkeyText.h"

#include <cstdlib>
#include <cstring>

namespace quillet {
namespace {

constexpr const char* kEntries[kModifierEntryCount] = {"", "Ctrl+", "Alt+", "Ctrl+Alt+"};
constexpr int kCommands[kHotkeyCount] = {1000, 1001, 1002, 1010};
// F n is stored as the number n; its key code is this plus n.
constexpr int kFunctionKeyBase = 111;
constexpr int kF2 = 113, kF12 = 123;

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool isLetterOrDigit(int c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

} // namespace

std::string defaultHotkeyText(int row)
{
    return row >= 0 && row < kHotkeyCount ? "F" + std::to_string(row + 8) : std::string();
}

int hotkeyCommand(int hotkeyId)
{
    const int row = hotkeyId - kHotkeyFirstId;
    return row >= 0 && row < kHotkeyCount ? kCommands[row] : 0;
}

int parseHotkeyText(const std::string& text, HotkeyCode* code)
{
    int modifier = kHotkeyNoModifier;
    size_t keyAt = 0;
    if (startsWith(text, "Ctrl+Alt+")) {
        modifier = kHotkeyCtrlAlt;
        keyAt = 9;
    } else if (startsWith(text, "Ctrl+")) {
        modifier = kHotkeyCtrl;
        keyAt = 5;
    } else if (startsWith(text, "Alt+")) {
        modifier = kHotkeyAlt;
        keyAt = 4;
    }

    if (modifier != kHotkeyNoModifier) {
        const char c = keyAt < text.size() ? text[keyAt] : '\0';
        int key = 0;
        if (c == 'F' && keyAt + 1 < text.size())
            key = kFunctionKeyBase + std::atoi(text.c_str() + keyAt + 1); // no range check: Ctrl+F13 is 124
        else if (isLetterOrDigit(c))
            key = c; // a lone F is the letter key
        else
            return 0;
        code->modifier = modifier;
        code->keyCode = key;
        return 1;
    }

    // Without a modifier only a function key other than F1 may be global.
    if (text.empty() || text[0] != 'F')
        return 0;
    const int n = std::atoi(text.c_str() + 1);
    if (n < 2 || n > 12)
        return 0;
    code->modifier = kHotkeyNoModifier;
    code->keyCode = kFunctionKeyBase + n;
    return 1;
}

const char* modifierEntryText(int entry)
{
    return entry >= 0 && entry < kModifierEntryCount ? kEntries[entry] : "";
}

HotkeyRow splitHotkeyText(const std::string& text)
{
    HotkeyRow row;
    if (text.empty())
        return row;
    const size_t plus = text.rfind('+');
    if (plus == std::string::npos) {
        row.entry = 0;
        row.key = text;
        return row;
    }
    const std::string prefix = text.substr(0, plus + 1);
    row.key = text.substr(plus + 1);
    row.entry = 0;
    for (int i = 1; i < kModifierEntryCount; ++i)
        if (prefix == kEntries[i])
            row.entry = i;
    return row;
}

int keyIntoRow(int keyCode, HotkeyRow* row)
{
    if (isLetterOrDigit(keyCode)) {
        row->key = std::string(1, static_cast<char>(keyCode));
        if (row->entry == 0)
            row->entry = 1; // a plain letter would take the key from every program
        return 1;
    }
    if (keyCode >= kF2 && keyCode <= kF12) {
        row->key = "F" + std::to_string(keyCode % 16 + 1);
        return 1;
    }
    return 0;
}

int composeHotkeyTexts(HotkeyRow rows[kHotkeyCount], std::string texts[kHotkeyCount])
{
    for (int i = 0; i < kHotkeyCount; ++i) {
        std::string prefix = modifierEntryText(rows[i].entry);
        if (prefix.empty() && rows[i].key.size() == 1) {
            rows[i].entry = 1;
            prefix = kEntries[1];
        }
        texts[i] = prefix + rows[i].key;
    }
    for (int i = 1; i < kHotkeyCount; ++i)
        for (int j = 0; j < i; ++j)
            if (texts[i] == texts[j])
                return 0;
    return 1;
}

} // namespace quillet
