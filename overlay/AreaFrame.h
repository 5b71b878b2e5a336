#pragma once
#include <QTimer>

#include "overlay/AreaGeometry.h"
#include "overlay/OverlayWindow.h"

namespace quillet::overlay {

// The frame around the recorded area: a window whose only visible part is a
// ring of kFrameRing pixels outside the area (a shaped window, so it needs
// no compositor), never inside the recorded picture.
//
// While editable it is green with a dashed outline and eight handles: the
// side strips and the handles resize it, the rest of the ring moves it, and
// each finished move or resize reports areaChanged(). While a recording runs
// it is not editable: a plain ring that ignores the mouse.
class AreaFrame : public OverlayWindow {
    Q_OBJECT
public:
    explicit AreaFrame(QWidget* parent = nullptr);

    // Puts the frame around `area` (physical pixels) and makes it editable.
    void setRect(const Rect& area);
    // Puts the frame around `area` without changing whether it is editable.
    void moveTo(const Rect& area);
    void setEditable(bool editable);
    bool editable() const { return editable_; }
    // The framed area, physical pixels.
    const Rect& area() const { return area_; }

signals:
    // The user moved or resized the frame; area() is the new area.
    void areaChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void place(const Rect& area);
    void updateCursor(DragZone zone);

    Rect area_{};
    bool editable_ = false;
    DragZone dragZone_ = DragZone::None;
    QPoint dragStart_;  // physical pointer position at the press
    Rect dragWindow_{}; // window rectangle at the press
    // Other programs' windows mapped later would cover the frame: it goes
    // back on top now and then.
    QTimer raiseTimer_;
};

} // namespace quillet::overlay
