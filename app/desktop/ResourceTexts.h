#pragma once

namespace quillet::desktop {

// The texts windows and menus carry before a language file is applied: the
// program's own (Chinese) texts, as a window's resource would hold them. A
// language file replaces them key by key ("T" + control id in the window's
// section, "M" + command id in section "COMMAND"); an empty or missing value
// keeps them.

// Resource captions, which are also the windows' language-file sections.
inline constexpr const char* kMainCaption = "Quillet";
inline constexpr const char* kSetupCaption = "Setup";
inline constexpr const char* kAboutCaption = "About";

// The text of a control of the window with the given resource caption; null
// when the control has none.
const char* resourceText(const char* caption, int controlId);
// The text of a menu command; null for an unknown command.
const char* resourceMenuText(int commandId);

// Every entry, for the language files' completeness check: key is
// "T<id>" with section = caption for controls, "M<id>" with section "COMMAND"
// for menu commands.
struct ResourceEntry {
    const char* section;
    int id;
    const char* text;
    bool menu;
};
const ResourceEntry* resourceEntries(int* count);

} // namespace quillet::desktop
