#include "app/hotkeys/GlobalHotkeys.h"

namespace quillet {

int registerStoredHotkeys(GlobalHotkeys& keys, const HotkeyStore& stored, std::string shown[kHotkeyCount],
                          const std::function<void(const std::string&)>& refused)
{
    int registered = 0;
    for (int row = 0; row < kHotkeyCount; ++row) {
        shown[row].clear();
        if (!stored.use)
            continue;
        const std::string& text = stored.texts[row];
        if (text.empty())
            continue;
        shown[row] = text;
        HotkeyCode code;
        if (!parseHotkeyText(text, &code))
            continue; // an unusable text is simply absent
        if (keys.registerKey(kHotkeyFirstId + row, code))
            ++registered;
        else if (refused)
            refused(text);
    }
    return registered;
}

} // namespace quillet
