#include "overlay/ScreenMapping.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace quillet::overlay {
namespace {

QRect nativeGeometry(const QScreen* s)
{
    const QRect g = s->geometry();
    const qreal f = s->devicePixelRatio();
    return QRect(g.topLeft(), QSize(qRound(g.width() * f), qRound(g.height() * f)));
}

ScreenScale scaleOf(const QScreen* s)
{
    return s ? ScreenScale{s->geometry().topLeft(), s->devicePixelRatio()} : ScreenScale{};
}

int floorDiv(int v, qreal f) { return static_cast<int>(std::floor(v / f)); }
int ceilDiv(int v, qreal f) { return static_cast<int>(std::ceil(v / f)); }

} // namespace

ScreenScale scaleAtPhysical(int x, int y)
{
    for (const QScreen* s : QGuiApplication::screens())
        if (nativeGeometry(s).contains(x, y))
            return scaleOf(s);
    return scaleOf(QGuiApplication::primaryScreen());
}

ScreenScale scaleAtLogical(const QPoint& p)
{
    for (const QScreen* s : QGuiApplication::screens())
        if (s->geometry().contains(p))
            return scaleOf(s);
    return scaleOf(QGuiApplication::primaryScreen());
}

QPoint physicalPoint(const QPointF& logical)
{
    const ScreenScale s = scaleAtLogical(logical.toPoint());
    return QPoint(static_cast<int>(std::floor((logical.x() - s.origin.x()) * s.factor)) + s.origin.x(),
                  static_cast<int>(std::floor((logical.y() - s.origin.y()) * s.factor)) + s.origin.y());
}

QRect coveringLogicalRect(const Rect& p)
{
    const ScreenScale s = scaleAtPhysical(p.left, p.top);
    const int left = floorDiv(p.left - s.origin.x(), s.factor) + s.origin.x();
    const int top = floorDiv(p.top - s.origin.y(), s.factor) + s.origin.y();
    const int right = ceilDiv(p.right - s.origin.x(), s.factor) + s.origin.x();
    const int bottom = ceilDiv(p.bottom - s.origin.y(), s.factor) + s.origin.y();
    return QRect(left, top, right - left, bottom - top);
}

Rect physicalRect(const QRect& logical)
{
    const ScreenScale s = scaleAtLogical(logical.topLeft());
    const int left = qRound((logical.left() - s.origin.x()) * s.factor) + s.origin.x();
    const int top = qRound((logical.top() - s.origin.y()) * s.factor) + s.origin.y();
    return Rect{left, top, left + qRound(logical.width() * s.factor), top + qRound(logical.height() * s.factor)};
}

QRect localCover(const Rect& p, const QPoint& windowOrigin, qreal factor)
{
    const int left = floorDiv(p.left - windowOrigin.x(), factor);
    const int top = floorDiv(p.top - windowOrigin.y(), factor);
    const int right = ceilDiv(p.right - windowOrigin.x(), factor);
    const int bottom = ceilDiv(p.bottom - windowOrigin.y(), factor);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace quillet::overlay
