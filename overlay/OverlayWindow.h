#pragma once
#include <QWidget>

#include "engine/ScreenFrame.h"

class QPainter;

namespace quillet::overlay {

// A borderless window over the screen, placed and painted in physical
// pixels. It bypasses the window manager (the overlays must stand exactly
// where they are put and above the other windows) and never takes the focus.
// A scaled desktop cannot place a window on every physical pixel: the window
// then covers the rectangle asked for, rounded outwards.
class OverlayWindow : public QWidget {
    Q_OBJECT
public:
    explicit OverlayWindow(QWidget* parent = nullptr);

    // Places the window over `physical`. Returns the physical rectangle the
    // window really covers.
    Rect placePhysical(const Rect& physical);
    // What the window covers now, physical pixels.
    const Rect& physicalGeometry() const { return physical_; }
    qreal scaleFactor() const { return factor_; }

    // A window-local point in physical screen pixels.
    QPoint toPhysical(const QPointF& local) const;
    // A physical screen rectangle in window-local coordinates, rounded outwards.
    QRect toLocal(const Rect& physical) const;
    // Makes the painter draw in physical pixels relative to the window.
    void paintPhysically(QPainter& painter) const;

    // The native window to leave out of window picks (0 before it exists).
    unsigned long nativeId() const;

private:
    Rect physical_{};
    qreal factor_ = 1;
};

} // namespace quillet::overlay
