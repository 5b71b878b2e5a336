#include "overlay/ScreenPen.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QToolButton>

#include "overlay/ScreenMapping.h"

namespace quillet::overlay {
namespace {

constexpr int kButtonWidth = 24, kButtonHeight = 22;
constexpr int kButtonCount = 2;
constexpr int kToolbarLeft = 6, kToolbarTop = -1;
const QColor kInk(255, 0, 0);

QIcon penIcon()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(250, 200, 60));
    const QPointF body[] = {{3, 11}, {11, 3}, {13, 5}, {5, 13}};
    p.drawPolygon(body, 4);
    p.setBrush(kInk);
    const QPointF tip[] = {{3, 11}, {5, 13}, {2, 14}};
    p.drawPolygon(tip, 3);
    return QIcon(pm);
}

QIcon closeIcon()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawLine(4, 4, 12, 12);
    p.drawLine(12, 4, 4, 12);
    return QIcon(pm);
}

QCursor penCursor()
{
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    const QPointF body[] = {{1, 22}, {4, 14}, {17, 1}, {22, 6}, {9, 19}};
    p.drawPolygon(body, 5);
    p.setBrush(kInk);
    const QPointF tip[] = {{1, 22}, {4, 14}, {9, 19}};
    p.drawPolygon(tip, 3);
    return QCursor(pm, 1, 22);
}

} // namespace

ScreenPen::ScreenPen(DesktopBackend& desktop, const Texts& texts, QWidget* parent)
    : OverlayWindow(parent), desktop_(desktop)
{
    setWindowTitle(QString::fromLatin1(kTitle));
    setMouseTracking(true);
    toolbar_ = new QWidget(this);
    penButton_ = new QToolButton(toolbar_);
    closeButton_ = new QToolButton(toolbar_);
    penButton_->setIcon(penIcon());
    closeButton_->setIcon(closeIcon());
    penButton_->setCheckable(true);
    for (int i = 0; i < kButtonCount; ++i) {
        QToolButton* b = i == 0 ? penButton_ : closeButton_;
        b->setAutoRaise(true);
        b->setGeometry(i * kButtonWidth, 0, kButtonWidth, kButtonHeight);
        b->setCursor(Qt::ArrowCursor);
    }
    setTexts(texts);
    connect(penButton_, &QToolButton::clicked, this, &ScreenPen::openOrToggle);
    connect(closeButton_, &QToolButton::clicked, this, &ScreenPen::closePen);

    // Toolbar size: the buttons side by side, one pixel taller than a button.
    const int toolbarWidth = kButtonWidth * kButtonCount;
    const int height = kButtonHeight + 1;
    const Rect primary = desktop_.monitors().front();
    const QRect monitor = coveringLogicalRect(primary);
    home_ = QRect(monitor.left() + monitor.width() / 2, monitor.top(), toolbarWidth + 11, height);
    placeToolbarHome();
    setGeometry(home_);
}

void ScreenPen::setTexts(const Texts& texts)
{
    penButton_->setToolTip(texts.pen);
    closeButton_->setToolTip(texts.close);
}

void ScreenPen::placeToolbarHome()
{
    toolbar_->setGeometry(kToolbarLeft, kToolbarTop, home_.width() - kToolbarLeft, home_.height());
}

void ScreenPen::openOrToggle()
{
    if (drawing_)
        switchOff();
    else
        switchOn();
}

void ScreenPen::switchOn()
{
    monitor_ = desktop_.monitors().front();
    DesktopBackend::Picture picture;
    if (!desktop_.copyScreen(monitor_, &picture)) {
        penButton_->setChecked(false);
        return; // nothing to draw on; the window stays as it was
    }
    canvas_ = QImage(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.width, picture.height,
                     picture.width * 4, QImage::Format_RGB32)
                  .copy();
    drawing_ = true;
    stroke_ = false;
    const QPoint toolbarOnScreen = isVisible() ? toolbar_->mapToGlobal(QPoint(0, 0)) : home_.topLeft();
    hide();
    placePhysical(monitor_);
    // The toolbar stays where the user saw it.
    toolbar_->move(toolbarOnScreen - geometry().topLeft());
    penButton_->setChecked(true);
    show();
    raise();
}

void ScreenPen::switchOff()
{
    drawing_ = false;
    stroke_ = false;
    canvas_ = QImage();
    hide();
    placeToolbarHome();
    setGeometry(home_);
    unsetCursor();
    show();
    raise();
    penButton_->setChecked(false);
}

void ScreenPen::closePen()
{
    drawing_ = false;
    stroke_ = false;
    canvas_ = QImage();
    penButton_->setChecked(false);
    hide();
    placeToolbarHome();
    setGeometry(home_);
}

void ScreenPen::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    if (!drawing_) {
        p.fillRect(rect(), palette().window());
        // The strip the window is dragged by.
        p.fillRect(QRect(0, 0, kToolbarLeft, height()), palette().mid());
        return;
    }
    const QRect dirty = event->rect();
    paintPhysically(p);
    const qreal f = scaleFactor();
    const QRect source(static_cast<int>(dirty.left() * f), static_cast<int>(dirty.top() * f),
                       static_cast<int>(dirty.width() * f) + 2, static_cast<int>(dirty.height() * f) + 2);
    p.drawImage(source.topLeft(), canvas_, source);
}

bool ScreenPen::onDragStrip(const QPointF& local) const { return !drawing_ && local.x() < kDragStrip; }

void ScreenPen::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (drawing_) {
        stroke_ = true;
        const QPoint at = pointerPhysical();
        last_ = QPoint(at.x() - physicalGeometry().left, at.y() - physicalGeometry().top);
        return;
    }
    if (onDragStrip(event->position())) {
        moving_ = true;
        moveOffset_ = event->globalPosition().toPoint() - geometry().topLeft();
    }
}

void ScreenPen::mouseMoveEvent(QMouseEvent* event)
{
    if (moving_) {
        move(event->globalPosition().toPoint() - moveOffset_);
        return;
    }
    if (!drawing_) {
        if (onDragStrip(event->position()))
            setCursor(Qt::SizeAllCursor);
        else
            unsetCursor();
        return;
    }
    if (!home_.contains(event->globalPosition().toPoint()))
        setCursor(penCursor());
    else
        setCursor(Qt::ArrowCursor);
    if (!stroke_)
        return;
    const QPoint at = pointerPhysical();
    const QPoint now(at.x() - physicalGeometry().left, at.y() - physicalGeometry().top);
    {
        QPainter p(&canvas_);
        p.setPen(QPen(kInk, kPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(last_, now);
    }
    const qreal f = scaleFactor();
    const QRect changed = QRect(last_, now).normalized().adjusted(-kPenWidth, -kPenWidth, kPenWidth, kPenWidth);
    update(QRect(static_cast<int>(changed.left() / f), static_cast<int>(changed.top() / f),
                 static_cast<int>(changed.width() / f) + 2, static_cast<int>(changed.height() / f) + 2));
    last_ = now;
}

void ScreenPen::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    stroke_ = false;
    if (moving_) {
        moving_ = false;
        home_.moveTopLeft(geometry().topLeft());
    }
}

} // namespace quillet::overlay
