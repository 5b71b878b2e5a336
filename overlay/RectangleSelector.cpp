#include "overlay/RectangleSelector.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "overlay/ScreenMapping.h"

namespace quillet::overlay {
namespace {

constexpr int kButtonWidth = 70, kButtonHeight = 30;
// Buttons sit side by side around the selection's centre.
constexpr int kOkOffset = -75, kCancelOffset = 5;
constexpr int kDimAlpha = 128;
constexpr int kNoticeMs = 2500;
const QColor kTrackerColour(0, 120, 215);

} // namespace

RectangleSelector::RectangleSelector(const Texts& texts, QWidget* parent) : OverlayWindow(parent), texts_(texts)
{
    // Above another modal window (the settings window may have opened it),
    // this one takes the input.
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus, false); // it takes Escape and Return
    setMouseTracking(true);
    ok_ = new QPushButton(texts_.ok, this);
    cancel_ = new QPushButton(texts_.cancel, this);
    ok_->hide();
    cancel_->hide();
    connect(ok_, &QPushButton::clicked, this, &RectangleSelector::accept);
    connect(cancel_, &QPushButton::clicked, this, &RectangleSelector::cancel);
    notice_ = new QLabel(texts_.tooSmall, this);
    notice_->setStyleSheet(QStringLiteral("QLabel { background: rgb(255, 255, 225); color: black; "
                                          "border: 1px solid black; padding: 6px; }"));
    notice_->hide();
    noticeTimer_.setSingleShot(true);
    noticeTimer_.setInterval(kNoticeMs);
    connect(&noticeTimer_, &QTimer::timeout, notice_, &QLabel::hide);
}

int RectangleSelector::open(const Rect& screen, const DesktopBackend::Picture& picture)
{
    if (picture.width <= 0 || picture.height <= 0)
        return 0;
    frozen_ = QImage(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.width, picture.height,
                     picture.width * 4, QImage::Format_RGB32)
                  .copy();
    dimmed_ = frozen_.copy();
    {
        QPainter p(&dimmed_);
        p.fillRect(dimmed_.rect(), QColor(0, 0, 0, kDimAlpha));
    }
    hasSelection_ = false;
    banding_ = false;
    trackZone_ = DragZone::None;
    placePhysical(screen);
    show();
    raise();
    grabKeyboard();
    return 1;
}

void RectangleSelector::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintPhysically(p);
    p.drawImage(0, 0, dimmed_);
    if (!hasSelection_ && !banding_)
        return;
    const Rect& g = physicalGeometry();
    const QRect sel(selection_.left - g.left, selection_.top - g.top, rectWidth(selection_), rectHeight(selection_));
    p.drawImage(sel.topLeft(), frozen_, sel);
    p.setPen(QPen(kTrackerColour, 1, banding_ ? Qt::DashLine : Qt::SolidLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(sel.adjusted(0, 0, -1, -1));
    if (banding_)
        return;
    p.setBrush(kTrackerColour);
    for (const Rect& h : trackerHandles(selection_))
        p.drawRect(h.left - g.left, h.top - g.top, rectWidth(h) - 1, rectHeight(h) - 1);
}

void RectangleSelector::placeButtons()
{
    if (!hasSelection_) {
        ok_->hide();
        cancel_->hide();
        return;
    }
    const int cx = selection_.left + rectWidth(selection_) / 2;
    const int cy = selection_.top + rectHeight(selection_) / 2;
    // Sizes as the toolkit scales its buttons, so that their texts fit.
    const int f = static_cast<int>(scaleFactor() + 0.5);
    const int w = kButtonWidth * f, h = kButtonHeight * f;
    const int top = cy - h / 2;
    ok_->setGeometry(toLocal(Rect{cx + kOkOffset * f, top, cx + kOkOffset * f + w, top + h}));
    cancel_->setGeometry(toLocal(Rect{cx + kCancelOffset * f, top, cx + kCancelOffset * f + w, top + h}));
    ok_->show();
    cancel_->show();
    ok_->raise();
    cancel_->raise();
}

void RectangleSelector::refuse()
{
    hasSelection_ = false;
    placeButtons();
    notice_->setText(texts_.tooSmall);
    notice_->adjustSize();
    notice_->move((width() - notice_->width()) / 2, (height() - notice_->height()) / 2);
    notice_->show();
    notice_->raise();
    noticeTimer_.start();
}

void RectangleSelector::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = pointerPhysical();
    notice_->hide();
    if (hasSelection_) {
        trackZone_ = trackerZoneAt(selection_, at.x(), at.y());
        if (trackZone_ != DragZone::None) {
            trackStart_ = at;
            trackRect_ = selection_;
            return;
        }
    }
    // A press outside the selection starts a new one.
    hasSelection_ = false;
    placeButtons();
    banding_ = true;
    bandStart_ = at;
    selection_ = spannedRect(at.x(), at.y(), at.x(), at.y());
    update();
}

void RectangleSelector::mouseMoveEvent(QMouseEvent*)
{
    const QPoint at = pointerPhysical();
    if (banding_) {
        selection_ = spannedRect(bandStart_.x(), bandStart_.y(), at.x(), at.y());
        update();
        return;
    }
    if (trackZone_ != DragZone::None) {
        selection_ = draggedRect(trackRect_, trackZone_, at.x() - trackStart_.x(), at.y() - trackStart_.y(),
                                 kDragMinimum, physicalGeometry());
        placeButtons();
        update();
        return;
    }
    const DragZone hover = hasSelection_ ? trackerZoneAt(selection_, at.x(), at.y()) : DragZone::None;
    switch (hover) {
    case DragZone::None: setCursor(Qt::CrossCursor); break;
    case DragZone::Move: setCursor(Qt::SizeAllCursor); break;
    case DragZone::Left:
    case DragZone::Right: setCursor(Qt::SizeHorCursor); break;
    case DragZone::Top:
    case DragZone::Bottom: setCursor(Qt::SizeVerCursor); break;
    case DragZone::TopLeft:
    case DragZone::BottomRight: setCursor(Qt::SizeFDiagCursor); break;
    case DragZone::TopRight:
    case DragZone::BottomLeft: setCursor(Qt::SizeBDiagCursor); break;
    }
}

void RectangleSelector::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        if (hasSelection_)
            accept();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (banding_) {
        banding_ = false;
        const QPoint at = pointerPhysical();
        selection_ = spannedRect(bandStart_.x(), bandStart_.y(), at.x(), at.y());
        if (bigEnough(selection_, kDragMinimum)) {
            hasSelection_ = true;
            placeButtons();
        } else {
            refuse();
        }
        update();
        return;
    }
    trackZone_ = DragZone::None;
}

void RectangleSelector::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        cancel();
    else if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && hasSelection_)
        accept();
}

void RectangleSelector::accept()
{
    if (hasSelection_)
        close(true);
}

void RectangleSelector::cancel()
{
    if (hasSelection_ || banding_) {
        hasSelection_ = false;
        banding_ = false;
        trackZone_ = DragZone::None;
        placeButtons();
        update();
        return;
    }
    close(false);
}

void RectangleSelector::close(bool accepted)
{
    releaseKeyboard();
    hide();
    frozen_ = QImage();
    dimmed_ = QImage();
    if (accepted)
        emit this->accepted(selection_);
    else
        emit cancelled();
}

} // namespace quillet::overlay
