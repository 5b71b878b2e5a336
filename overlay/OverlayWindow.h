#pragma once
#include <QWidget>
#include <functional>
#include <vector>

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

    // Where the pointer was at the mouse event being handled, physical screen
    // pixels. Widget events carry positions rounded to the toolkit's scaled
    // pixels; this is taken from the window's own event, before that rounding.
    QPoint pointerPhysical() const { return pointer_; }
    // A physical screen rectangle in window-local coordinates, rounded outwards.
    QRect toLocal(const Rect& physical) const;
    // Makes the painter draw in physical pixels relative to the window.
    void paintPhysically(QPainter& painter) const;

    // The native window to leave out of window picks (0 before it exists).
    unsigned long nativeId() const;

    // Shows only `parts` (physical screen rectangles) of the window. Where the
    // toolkit scales, its masks cannot follow every physical pixel: the shape
    // is then given to the desktop directly when a shaper is set, else the
    // parts are rounded inwards (never showing more than asked).
    void shapeTo(const std::vector<Rect>& parts);
    using NativeShaper = std::function<void(unsigned long id, const std::vector<Rect>& windowRelative)>;
    static void setNativeShaper(NativeShaper shaper);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Rect physical_{};
    QPoint pointer_;
    bool watching_ = false;
    qreal factor_ = 1;
};

} // namespace quillet::overlay
