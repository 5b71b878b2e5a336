#include "overlay/OverlayWindow.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <cmath>

#include "overlay/ScreenMapping.h"

namespace quillet::overlay {
namespace {

OverlayWindow::NativeShaper& nativeShaper()
{
    static OverlayWindow::NativeShaper shaper;
    return shaper;
}

int floorDiv(int v, qreal f) { return static_cast<int>(std::floor(v / f)); }
int ceilDiv(int v, qreal f) { return static_cast<int>(std::ceil(v / f)); }

} // namespace

void OverlayWindow::setNativeShaper(NativeShaper shaper) { nativeShaper() = std::move(shaper); }

void OverlayWindow::shapeTo(const std::vector<Rect>& parts)
{
    if (factor_ != 1 && nativeShaper() && nativeId()) {
        std::vector<Rect> relative;
        for (const Rect& r : parts)
            relative.push_back(Rect{r.left - physical_.left, r.top - physical_.top, r.right - physical_.left,
                                    r.bottom - physical_.top});
        nativeShaper()(nativeId(), relative);
        return;
    }
    QRegion region;
    for (const Rect& r : parts) {
        const int left = ceilDiv(r.left - physical_.left, factor_), top = ceilDiv(r.top - physical_.top, factor_);
        const int right = floorDiv(r.right - physical_.left, factor_);
        const int bottom = floorDiv(r.bottom - physical_.top, factor_);
        if (right > left && bottom > top)
            region += QRect(left, top, right - left, bottom - top);
    }
    setMask(region);
}

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

QRect OverlayWindow::toLocal(const Rect& physical) const
{
    return localCover(physical, QPoint(physical_.left, physical_.top), factor_);
}

bool OverlayWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            pointer_ = physicalPoint(static_cast<QMouseEvent*>(event)->globalPosition());
            break;
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OverlayWindow::showEvent(QShowEvent* event)
{
    if (!watching_ && windowHandle()) {
        windowHandle()->installEventFilter(this);
        watching_ = true;
    }
    QWidget::showEvent(event);
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
