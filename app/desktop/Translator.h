#pragma once
#include <string>

class QMenu;
class QWidget;

namespace quillet {
class Language;
}

namespace quillet::desktop {

// Replaces window and menu texts from the active language file.
//
// A window is translated under its current caption: that caption names the
// file's section, "Title" there replaces the caption and "T" + number each
// numbered control's text. Edits (and lists) keep their contents. A window
// with an empty caption is left alone, and an empty value keeps the text the
// window had, so a half-finished language file never blanks a window.
//
// A menu item is translated by "M" + its command number in section "COMMAND";
// an item that opens a nested menu by "M" + its position in the section named
// by the prefix, after its nested menu was translated with prefix + "_" + the
// position.
class Translator {
public:
    explicit Translator(const Language& language) : language_(language) {}

    void translateWindow(QWidget* window) const;
    void translateMenu(QMenu* menu, const std::string& prefix) const;

private:
    const Language& language_;
};

} // namespace quillet::desktop
