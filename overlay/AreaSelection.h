#pragma once
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "overlay/DesktopBackend.h"
#include "overlay/RectangleSelector.h"

class QSocketNotifier;

namespace quillet::overlay {

class AreaFrame;
class WindowPicker;

// How the recorded area was chosen (the settings menu ticks one of these).
enum class AreaKind { WholeScreen, Window, Rectangle };

// Choosing what to record: the whole screen, a window picked with the mouse
// or a rectangle dragged over a frozen picture of the screen, and the frame
// that shows the result and lets the user move and resize it.
//
// A picked window is followed: when it moves, the frame (and, during a
// recording, the recorded area) moves with it; when it closes, the last
// rectangle stays. Moving the frame by hand ends the following.
//
// Picks and drags only start while no recording exists (the caller's
// rule); during a recording the frame is not editable.
class AreaSelection : public QObject {
    Q_OBJECT
public:
    AreaSelection(DesktopBackend& desktop, const RectangleSelector::Texts& texts, QObject* parent = nullptr);
    ~AreaSelection() override;

    void setTexts(const RectangleSelector::Texts& texts) { texts_ = texts; }

    // The whole screen: the frame goes away.
    void selectWholeScreen();
    // A rectangle from elsewhere (typed in the settings window): framed, not followed.
    void showArea(const Rect& area);
    // Starts picking a window. Returns 0 when the pointer cannot be had.
    int pickWindow();
    // Opens the rectangle selector over a picture of the screen. Returns 0
    // when the screen cannot be read.
    int dragRectangle();
    bool selecting() const;

    // The chosen area: empty for the whole screen.
    Rect area() const;
    AreaKind kind() const { return kind_; }
    bool frameShown() const;
    // The program's own overlays, left out of window picks.
    std::vector<DesktopBackend::WindowId> ownWindows() const;
    void addOwnWindow(DesktopBackend::WindowId id) { others_.push_back(id); }

    // A recording starts on `area` (the frame's area as the recorder adjusted
    // it): the frame moves there and is no longer editable.
    void recordingStarts(const Rect& area);
    // The recording ended: the frame is editable again.
    void recordingEnds();

signals:
    // The chosen area changed (whole screen: empty rectangle).
    void areaChanged(const Rect& area);
    // A picked window was smaller than kPickMinimum; nothing changed.
    void pickTooSmall();
    // During a recording the followed window moved the recorded area here.
    void recordingAreaMoved(const Rect& area);

private:
    void picked(const DesktopBackend::Window& window);
    void frameEdited();
    void followedMoved(const Rect& rect);
    void followedGone();
    void stopFollowing();
    void drainSoon();

    DesktopBackend& desktop_;
    RectangleSelector::Texts texts_;
    std::unique_ptr<AreaFrame> frame_;
    std::unique_ptr<WindowPicker> picker_;
    QPointer<RectangleSelector> selector_;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<DesktopBackend::WindowId> others_;

    AreaKind kind_ = AreaKind::WholeScreen;
    bool recording_ = false;
    DesktopBackend::WindowId followed_ = 0;
    Rect followedRect_{};
};

} // namespace quillet::overlay
