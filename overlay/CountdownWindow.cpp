#include "overlay/CountdownWindow.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QPainter>

namespace quillet::overlay {
namespace {

// Point sizes are meant for a 96-dpi screen: 160 pt is 213 pixels.
constexpr double kPixelsPerPoint = 96.0 / 72.0;

} // namespace

CountdownWindow::CountdownWindow(const Rect& primaryMonitor, QWidget* parent)
    : OverlayWindow(parent), path_(primaryMonitor)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setWindowFlag(Qt::WindowTransparentForInput);
    timer_.setInterval(kStepMs);
    connect(&timer_, &QTimer::timeout, this, &CountdownWindow::step);
}

void CountdownWindow::render()
{
    const int side = CountdownPath::kSide;
    digit_ = QImage(side, side, QImage::Format_ARGB32);
    digit_.fill(Qt::transparent);
    QPainter p(&digit_);
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(static_cast<int>(CountdownPath::pointTenths(counter_) / 10.0 * kPixelsPerPoint + 0.5));
    font.setStyleStrategy(QFont::NoAntialias); // hard edges: the shape is the digit itself
    p.setFont(font);
    p.setPen(QColor(kTextRed, kTextGreen, kTextBlue));
    p.drawText(QRect(0, 0, side, side), Qt::AlignLeft | Qt::AlignTop, QString::number(counter_));
    p.end();

    placePhysical(Rect{path_.x(counter_), path_.y(counter_), path_.x(counter_) + side, path_.y(counter_) + side});
    // The window shows only the digit's pixels. Where the toolkit scales, the
    // mask is the scaled digit.
    setMask(QBitmap::fromImage(digit_.scaled(width(), height()).createAlphaMask()));
    update();
}

void CountdownWindow::run()
{
    counter_ = CountdownPath::kFirstCount;
    render();
    show();
    raise();
    QEventLoop loop;
    loop_ = &loop;
    timer_.start();
    loop.exec();
    loop_ = nullptr;
    hide();
    // Off the screen before the first frame is taken.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CountdownWindow::step()
{
    if (counter_ <= 0)
        return;
    --counter_;
    render();
    raise();
    if (counter_ == 0) {
        timer_.stop();
        if (loop_)
            loop_->quit();
    }
}

void CountdownWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintPhysically(p);
    p.drawImage(0, 0, digit_);
}

} // namespace quillet::overlay
