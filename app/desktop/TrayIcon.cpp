#include "app/desktop/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "app/desktop/CommandIds.h"
#include "app/desktop/Icons.h"

namespace quillet::desktop {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), icon_(new QSystemTrayIcon(this))
{
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // StatusNotifier hosts report a plain click ("Activate") where an
        // XEmbed tray reports the double click: both show the window.
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            emit callback(0, kTrayLeftDoubleClick);
        else if (reason == QSystemTrayIcon::Context)
            emit callback(0, kTrayRightButtonUp);
    });
}

TrayIcon::~TrayIcon()
{
    icon_->hide();
}

void TrayIcon::setMenu(QMenu* menu)
{
    icon_->setContextMenu(menu);
}

void TrayIcon::setTip(const QString& tip)
{
    icon_->setToolTip(tip.left(kMaxTipChars));
}

void TrayIcon::setIcon(int iconId)
{
    iconId_ = iconId;
    if (iconId == 0) {
        icon_->hide();
        return;
    }
    icon_->setIcon(programIcon(iconId));
    icon_->show();
}

void TrayIcon::changeIcon(int iconId)
{
    if (!isShown() || iconId == iconId_)
        return;
    iconId_ = iconId;
    icon_->setIcon(programIcon(iconId));
}

bool TrayIcon::isShown() const
{
    return icon_->isVisible();
}

} // namespace quillet::desktop
