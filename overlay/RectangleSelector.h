#pragma once
#include <QImage>
#include <QString>
#include <QTimer>

#include "overlay/AreaGeometry.h"
#include "overlay/DesktopBackend.h"
#include "overlay/OverlayWindow.h"

class QPushButton;
class QLabel;

namespace quillet::overlay {

// Dragging a rectangle over a frozen, dimmed picture of the whole screen: the
// part selected shows at full brightness inside a tracker whose handles
// resize it and whose inside moves it (kept on the screen, never below
// kDragMinimum). A drag smaller than kDragMinimum is refused with the
// too-small text. OK (or a right click) accepts the selection; Cancel or
// Escape clears it, or with none closes the selector.
class RectangleSelector : public OverlayWindow {
    Q_OBJECT
public:
    struct Texts {
        QString ok, cancel, tooSmall;
    };

    RectangleSelector(const Texts& texts, QWidget* parent = nullptr);

    // Shows the selector over `screen` with its picture. Returns 1, or 0 when
    // the picture is empty.
    int open(const Rect& screen, const DesktopBackend::Picture& picture);
    bool hasSelection() const { return hasSelection_; }
    const Rect& selection() const { return selection_; }

signals:
    void accepted(const Rect& area);
    void cancelled();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void accept();
    void cancel();
    void close(bool accepted);
    void placeButtons();
    void refuse();

    Texts texts_;
    QImage frozen_;
    QImage dimmed_;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* notice_ = nullptr;
    QTimer noticeTimer_;

    bool hasSelection_ = false;
    Rect selection_{}; // physical screen pixels
    bool banding_ = false;
    QPoint bandStart_;
    DragZone trackZone_ = DragZone::None;
    QPoint trackStart_;
    Rect trackRect_{};
};

} // namespace quillet::overlay
