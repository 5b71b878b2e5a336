#include "overlay/OverlayWindow.h"

#include <QPainter>
#include <cmath>

#include "overlay/ScreenMapping.h"

namespace quillet::overlay {

OverlayWindow::OverlayWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

Rect OverlayWindow::placePhysical(const Rect& physical)
{
    const QRect logical = coveringLogicalRect(physical);
    factor_ = scaleAtLogical(logical.topLeft()).factor;
    physical_ = physicalRect(logical);
    setGeometry(logical);
    return physical_;
}

QPoint OverlayWindow::toPhysical(const QPointF& local) const
{
    return QPoint(physical_.left + static_cast<int>(std::floor(local.x() * factor_)),
                  physical_.top + static_cast<int>(std::floor(local.y() * factor_)));
}

QRect OverlayWindow::toLocal(const Rect& physical) const
{
    return localCover(physical, QPoint(physical_.left, physical_.top), factor_);
}

void OverlayWindow::paintPhysically(QPainter& painter) const
{
    painter.scale(1 / factor_, 1 / factor_);
}

unsigned long OverlayWindow::nativeId() const
{
    return testAttribute(Qt::WA_WState_Created) ? static_cast<unsigned long>(winId()) : 0;
}

} // namespace quillet::overlay
