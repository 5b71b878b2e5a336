#pragma once
#include <QImage>
#include <QWidget>
#include <memory>

#include "app/player/media/MediaTypes.h"

namespace quillet::player {

// Paints the picture being shown: at its own size (the widget then has the
// picture's size, inside a scroll area), or fitted into the widget with its
// proportions kept. Fitted pictures are scaled smoothly only while playback
// stands, where the cost does not repeat for every picture.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setPicture(std::shared_ptr<const MediaPicture> picture);
    const std::shared_ptr<const MediaPicture>& picture() const { return picture_; }
    void setFitted(bool fitted);
    bool fitted() const { return fitted_; }
    void setSmooth(bool smooth);
    QSize sizeHint() const override;
    // The rectangle the picture covers in the widget.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const MediaPicture> picture_;
    QImage image_; // shares picture_'s pixels
    bool fitted_ = false;
    bool smooth_ = true;
};

} // namespace quillet::player
