#pragma once
#include <QPoint>
#include <QPointF>
#include <QRect>

#include "engine/ScreenFrame.h"

namespace quillet::overlay {

// Between the physical screen pixels the recorder reads and the toolkit's
// scaled coordinates (QT_SCALE_FACTOR, a HiDPI desktop). The toolkit keeps
// each screen's top-left corner in physical pixels and scales distances from
// it by the screen's factor; a window's size scales by the factor of the
// screen its top-left corner is on.
//
// A scaled coordinate can only express every factor-th physical pixel, so
// rectangles are rounded outwards (cover) or inwards (inside) as needed.
struct ScreenScale {
    QPoint origin; // the screen's top-left, physical = scaled
    qreal factor = 1;
};

// The scale of the screen holding a physical (or, for scaleAtLogical, scaled) point.
ScreenScale scaleAtPhysical(int x, int y);
ScreenScale scaleAtLogical(const QPoint& p);

QPoint physicalPoint(const QPointF& logical);
// The scaled rectangle that covers `physical` (its size rounded up).
QRect coveringLogicalRect(const Rect& physical);
// The physical rectangle of a window placed at `logical`.
Rect physicalRect(const QRect& logical);
// A physical rectangle in the scaled coordinates of a window whose physical
// top-left is `windowOrigin`: rounded outwards.
QRect localCover(const Rect& physical, const QPoint& windowOrigin, qreal factor);

} // namespace quillet::overlay
