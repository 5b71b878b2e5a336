#pragma once
#include <QString>

class QWidget;
class QMenu;
class QAction;

namespace quillet::desktop {

// Controls carry their number (the language file's "T" + number) as a
// property, so a window can be translated and tested by number.
void setControlId(QWidget* control, int id);
int controlIdOf(const QWidget* control);
// The control with that number among the window's descendants, or null.
QWidget* findControl(const QWidget* window, int id);

// A menu item for a command: its number travels as the action's data, its
// text is the command's resource text until the menu is translated.
QAction* addCommandItem(QMenu* menu, int commandId);
int commandIdOf(const QAction* action);
// The item of a command in a menu, or null.
QAction* findCommandItem(const QMenu* menu, int commandId);

QString fromUtf8(const std::string& text);

} // namespace quillet::desktop
