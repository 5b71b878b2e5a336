#pragma once
#include <QDialog>

#include "app/hotkeys/HotkeyText.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quillet {
class Language;
class SettingsFile;
}

namespace quillet::desktop {

// The hotkey window ("hotKey"): hotkeys on or off and, per action, a
// modifier list and a key box that takes the key pressed in it. OK stores
// "use" at once, then the four texts unless two are the same; the running
// program keeps its keys until the next start.
class HotkeyWindow : public QDialog {
    Q_OBJECT
public:
    HotkeyWindow(const Language& language, SettingsFile& settings, QWidget* parent = nullptr);

    void accept() override;

    // What the window shows in a row (for tests).
    HotkeyRow row(int i) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void initialise();
    void enableRows(bool on);
    void restoreDefaults();
    void showRow(int i, const HotkeyRow& row);

    const Language& language_;
    SettingsFile& settings_;
    QCheckBox* use_ = nullptr;
    QComboBox* lists_[kHotkeyCount] = {};
    QLineEdit* boxes_[kHotkeyCount] = {};
};

// The key code of the stored format for a key the toolkit reports (0: none
// that a key box takes).
int hotkeyCodeOfKey(int qtKey, bool keypad);

} // namespace quillet::desktop
