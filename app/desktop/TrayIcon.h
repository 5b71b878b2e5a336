#pragma once
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace quillet::desktop {

// The notification-area icon. It works with an XEmbed tray and with a
// StatusNotifier host alike (the toolkit picks what the desktop offers, and
// docks again when the tray restarts). Right click shows the menu handed to
// setMenu, which its owner refills each time it opens; a double click is
// reported as the tray callback (0, 515).
class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxTipChars = 128;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    void setMenu(QMenu* menu);
    void setTip(const QString& tip);
    // Shows the icon with that number; 0 removes it.
    void setIcon(int iconId);
    // Changes the picture only while an icon is shown (the status blink).
    void changeIcon(int iconId);
    bool isShown() const;

signals:
    // The tray callback: (first, second) as the main window dispatches it.
    void callback(int first, int second);

private:
    QSystemTrayIcon* icon_;
    int iconId_ = 0;
};

} // namespace quillet::desktop
