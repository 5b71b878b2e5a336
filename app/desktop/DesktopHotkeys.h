#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "app/hotkeys/HotkeyText.h"

class QSocketNotifier;

namespace quillet {
class SettingsFile;
class X11GlobalHotkeys;
}

namespace quillet::desktop {

// The main window's global hotkeys: read from the settings and registered
// once at start-up (edits take effect at the next start), each press handed
// on as its command number after the current event, so a press never runs
// inside another command's box.
class DesktopHotkeys : public QObject {
    Q_OBJECT
public:
    explicit DesktopHotkeys(std::function<void(int command)> run, QObject* parent = nullptr);
    ~DesktopHotkeys() override;

    // Registers the stored keys. A key another program holds is left out and
    // named on the console; the others work. Returns the number registered.
    int registerStored(const SettingsFile& settings);
    // The texts shown behind the tool tips and tray entries (empty with
    // hotkeys off).
    const std::string& text(int row) const { return texts_[row]; }

private:
    std::function<void(int)> run_;
    std::unique_ptr<X11GlobalHotkeys> keys_;
    QSocketNotifier* notifier_ = nullptr;
    std::string texts_[kHotkeyCount];
};

} // namespace quillet::desktop
