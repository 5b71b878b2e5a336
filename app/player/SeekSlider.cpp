#include "app/player/SeekSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

namespace quillet::player {

SeekSlider::SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setTracking(true);
}

void SeekSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        if (!handle.contains(event->position().toPoint())) {
            const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
            const int span = groove.width() - handle.width();
            const int x = int(event->position().x()) - groove.x() - handle.width() / 2;
            setSliderPosition(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span > 0 ? span : 1));
            emit sliderMoved(sliderPosition());
        }
    }
    QSlider::mousePressEvent(event);
}

} // namespace quillet::player
