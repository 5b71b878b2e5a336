#pragma once
#include <QImage>
#include <QTimer>

#include "overlay/CountdownPath.h"
#include "overlay/OverlayWindow.h"

class QEventLoop;

namespace quillet::overlay {

// The countdown before a recording: a large green digit 5, 4, 3, 2, 1 that
// shrinks and slides one step a second from the middle of the primary monitor
// towards its lower right corner. Only the digit is visible (the window is
// shaped to it, so no compositor is needed) and it takes no input. run()
// shows it modally and returns when the timer has closed it; nothing else
// ends it early.
class CountdownWindow : public OverlayWindow {
    Q_OBJECT
public:
    static constexpr int kStepMs = 1000;
    static constexpr int kTextRed = 0, kTextGreen = 200, kTextBlue = 0;

    explicit CountdownWindow(const Rect& primaryMonitor, QWidget* parent = nullptr);

    // Shows the countdown and waits for it to end.
    void run();
    int counter() const { return counter_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void step();
    void render();

    CountdownPath path_;
    int counter_ = CountdownPath::kFirstCount;
    QImage digit_; // the current digit, physical pixels, transparent around it
    QTimer timer_;
    QEventLoop* loop_ = nullptr;
};

} // namespace quillet::overlay
