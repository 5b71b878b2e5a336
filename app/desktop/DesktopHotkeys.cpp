#include "app/desktop/DesktopHotkeys.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#include "app/core/SettingsFile.h"
#include "app/hotkeys/x11/X11GlobalHotkeys.h"

namespace quillet::desktop {

DesktopHotkeys::DesktopHotkeys(std::function<void(int)> run, QObject* parent)
    : QObject(parent), run_(std::move(run)), keys_(std::make_unique<X11GlobalHotkeys>())
{
}

DesktopHotkeys::~DesktopHotkeys() = default;

int DesktopHotkeys::registerStored(const SettingsFile& settings)
{
    HotkeyStore stored;
    stored.use = settings.hotKeysOn();
    for (int i = 0; i < kHotkeyCount; ++i)
        stored.texts[i] = settings.hotKey(i);
    if (!keys_->open()) {
        // No display for the keys: they are shown but cannot work.
        for (int i = 0; i < kHotkeyCount; ++i)
            texts_[i] = stored.use ? stored.texts[i] : std::string();
        return 0;
    }
    keys_->onPressed([this](int id) {
        const int command = hotkeyCommand(id);
        if (command)
            QTimer::singleShot(0, this, [this, command] { run_(command); });
    });
    const int registered = registerStoredHotkeys(*keys_, stored, texts_, [](const std::string& text) {
        std::fprintf(stderr, "quillet: the hotkey %s is taken by another program\n", text.c_str());
    });
    notifier_ = new QSocketNotifier(keys_->connectionFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { keys_->processEvents(); });
    keys_->processEvents();
    return registered;
}

} // namespace quillet::desktop
