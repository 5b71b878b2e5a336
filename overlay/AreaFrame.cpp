#include "overlay/AreaFrame.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include "overlay/ScreenMapping.h"

namespace quillet::overlay {
namespace {

const QColor kEditableGreen(0, 255, 0);
const QColor kHandleOutline(255, 0, 0);
const QColor kRecordingRing(128, 128, 128);
constexpr int kOutlineWidth = 4;
constexpr int kRaiseIntervalMs = 1000;

Qt::CursorShape cursorFor(DragZone z)
{
    switch (z) {
    case DragZone::Left:
    case DragZone::Right: return Qt::SizeHorCursor;
    case DragZone::Top:
    case DragZone::Bottom: return Qt::SizeVerCursor;
    case DragZone::TopLeft:
    case DragZone::BottomRight: return Qt::SizeFDiagCursor;
    case DragZone::TopRight:
    case DragZone::BottomLeft: return Qt::SizeBDiagCursor;
    default: return Qt::SizeAllCursor;
    }
}

} // namespace

AreaFrame::AreaFrame(QWidget* parent) : OverlayWindow(parent)
{
    setMouseTracking(true);
    raiseTimer_.setInterval(kRaiseIntervalMs);
    connect(&raiseTimer_, &QTimer::timeout, this, [this] {
        if (dragZone_ == DragZone::None)
            raise();
    });
}

void AreaFrame::setRect(const Rect& area)
{
    editable_ = true;
    place(area);
}

void AreaFrame::moveTo(const Rect& area) { place(area); }

void AreaFrame::setEditable(bool editable)
{
    editable_ = editable;
    if (!editable) {
        dragZone_ = DragZone::None;
        unsetCursor();
    }
    update();
}

void AreaFrame::place(const Rect& area)
{
    area_ = area;
    placePhysical(grown(area, kFrameRing));
    const auto ring = ringParts(area, kFrameRing);
    shapeTo(std::vector<Rect>(ring.begin(), ring.end()));
    update();
}

void AreaFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintPhysically(p);
    // The ring around the area; the window may reach a pixel further where
    // the toolkit scales.
    const Rect outer = grown(area_, kFrameRing);
    p.translate(outer.left - physicalGeometry().left, outer.top - physicalGeometry().top);
    const int w = rectWidth(outer), h = rectHeight(outer);
    if (!editable_) {
        p.fillRect(0, 0, w, h, kRecordingRing);
        return;
    }
    p.fillRect(0, 0, w, h, kEditableGreen);
    // Green dashes, 8 on and 4 off, with white between them.
    const QRectF outline(kOutlineWidth / 2.0, kOutlineWidth / 2.0, w - kOutlineWidth, h - kOutlineWidth);
    p.setPen(QPen(Qt::white, kOutlineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawRect(outline);
    QPen dashed(kEditableGreen, kOutlineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    dashed.setDashPattern({8.0 / kOutlineWidth, 4.0 / kOutlineWidth});
    p.setPen(dashed);
    p.drawRect(outline);
    p.setPen(QPen(kHandleOutline, 1));
    p.setBrush(Qt::white);
    for (const Rect& r : frameHandles(w, h))
        p.drawRect(r.left, r.top, rectWidth(r) - 1, rectHeight(r) - 1);
}

void AreaFrame::updateCursor(DragZone zone) { setCursor(cursorFor(zone)); }

void AreaFrame::mousePressEvent(QMouseEvent* event)
{
    if (!editable_ || event->button() != Qt::LeftButton)
        return;
    const QPoint at = pointerPhysical();
    dragWindow_ = grown(area_, kFrameRing);
    dragZone_ = frameZoneAt(dragWindow_, at.x(), at.y());
    if (dragZone_ == DragZone::None)
        return;
    dragStart_ = at;
}

void AreaFrame::mouseMoveEvent(QMouseEvent*)
{
    if (!editable_)
        return;
    if (dragZone_ == DragZone::None) {
        const QPoint at = pointerPhysical();
        updateCursor(frameZoneAt(grown(area_, kFrameRing), at.x(), at.y()));
        return;
    }
    const QPoint now = pointerPhysical();
    const Rect window = draggedRect(dragWindow_, dragZone_, now.x() - dragStart_.x(), now.y() - dragStart_.y(),
                                    kFrameMinimumWindow, Rect{});
    place(grown(window, -kFrameRing));
}

void AreaFrame::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragZone_ == DragZone::None || event->button() != Qt::LeftButton)
        return;
    dragZone_ = DragZone::None;
    emit areaChanged();
}

void AreaFrame::showEvent(QShowEvent* event)
{
    OverlayWindow::showEvent(event);
    raiseTimer_.start();
}

void AreaFrame::hideEvent(QHideEvent* event)
{
    raiseTimer_.stop();
    OverlayWindow::hideEvent(event);
}

} // namespace quillet::overlay
