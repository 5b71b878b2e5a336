#pragma once
#include <QImage>
#include <QString>

#include "overlay/DesktopBackend.h"
#include "overlay/OverlayWindow.h"

class QToolButton;
class QWidget;

namespace quillet::overlay {

// The screen pen: a small always-on-top tool window with two buttons, pen and
// close. The pen freezes the primary monitor's picture into a window over it,
// on which the left mouse button draws red freehand strokes; since the
// recorder reads whatever the screen shows, the strokes are recorded. Pen
// again (or the request that opened it) returns to the toolbar and the live
// desktop. The strokes last until the pen is switched off.
//
// States: hidden → drawing (full screen) ⇄ toolbar; close hides it from
// either. openOrToggle() is the one entry of the pen button, the tray menu and
// the hotkey.
class ScreenPen : public OverlayWindow {
    Q_OBJECT
public:
    struct Texts {
        QString pen, close; // tool tips of the two buttons
    };
    static constexpr const char* kTitle = "quilletPen5";
    static constexpr int kPenWidth = 2;
    static constexpr int kDragStrip = 20; // the toolbar moves by its leftmost pixels

    ScreenPen(DesktopBackend& desktop, const Texts& texts, QWidget* parent = nullptr);

    void setTexts(const Texts& texts);
    // Switches drawing on (from hidden or toolbar) or off (to the toolbar).
    void openOrToggle();
    // Ends drawing and hides the pen.
    void closePen();
    bool drawing() const { return drawing_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void switchOn();
    void switchOff();
    void placeToolbarHome();
    bool onDragStrip(const QPointF& local) const;

    DesktopBackend& desktop_;
    QWidget* toolbar_ = nullptr;
    QToolButton* penButton_ = nullptr;
    QToolButton* closeButton_ = nullptr;
    QRect home_;       // where the toolbar-sized window stands (scaled coordinates)
    Rect monitor_{};   // what drawing covers, physical pixels
    QImage canvas_;    // the frozen picture with the strokes, physical pixels
    bool drawing_ = false;
    bool stroke_ = false;
    QPoint last_;      // physical, relative to the window
    bool moving_ = false;
    QPoint moveOffset_;
};

} // namespace quillet::overlay
