#pragma once
#include <QSlider>

namespace quillet::player {

// The seek bar: a click anywhere on it goes to that point at once (rather
// than a page step towards it), and dragging goes along.
class SeekSlider : public QSlider {
    Q_OBJECT
public:
    explicit SeekSlider(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace quillet::player
