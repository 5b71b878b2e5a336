#include "app/player/PictureView.h"

#include <QPainter>
#include <QPaintEvent>

namespace quillet::player {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void PictureView::setPicture(std::shared_ptr<const MediaPicture> picture)
{
    const QSize before = image_.size();
    picture_ = std::move(picture);
    if (picture_ && picture_->width > 0 && picture_->height > 0)
        image_ = QImage(picture_->pixels.data(), picture_->width, picture_->height, qsizetype(picture_->stride()),
                        QImage::Format_RGB32);
    else
        image_ = QImage();
    if (image_.size() != before && !fitted_) {
        setFixedSize(image_.isNull() ? QSize(320, 240) : image_.size());
        updateGeometry();
    }
}

void PictureView::setFitted(bool fitted)
{
    if (fitted == fitted_)
        return;
    fitted_ = fitted;
    if (fitted) {
        setMinimumSize(16, 16);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(image_.isNull() ? QSize(320, 240) : image_.size());
    }
    updateGeometry();
    update();
}

void PictureView::setSmooth(bool smooth)
{
    if (smooth == smooth_)
        return;
    smooth_ = smooth;
    if (fitted_)
        update();
}

QSize PictureView::sizeHint() const { return image_.isNull() ? QSize(320, 240) : image_.size(); }

QRect PictureView::pictureRect() const
{
    if (image_.isNull())
        return QRect();
    if (!fitted_)
        return QRect(QPoint(0, 0), image_.size());
    const QSize s = image_.size().scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect target = pictureRect();
    if (target.isNull()) {
        p.fillRect(event->rect(), Qt::black);
        return;
    }
    // Only the borders around a fitted picture need clearing.
    const QRegion borders = QRegion(rect()) - QRegion(target);
    for (const QRect& r : borders)
        p.fillRect(r, Qt::black);
    if (target.size() == image_.size()) {
        const QRect source = event->rect().translated(-target.topLeft()) & image_.rect();
        p.drawImage(target.topLeft() + source.topLeft(), image_, source);
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth_);
    p.drawImage(target, image_);
}

} // namespace quillet::player
