#include "overlay/AreaSelection.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

#include "overlay/AreaFrame.h"
#include "overlay/WindowPicker.h"

namespace quillet::overlay {

AreaSelection::AreaSelection(DesktopBackend& desktop, const RectangleSelector::Texts& texts, QObject* parent)
    : QObject(parent), desktop_(desktop), texts_(texts), frame_(std::make_unique<AreaFrame>()),
      picker_(std::make_unique<WindowPicker>(desktop))
{
    frame_->winId();
    connect(frame_.get(), &AreaFrame::areaChanged, this, &AreaSelection::frameEdited);
    connect(picker_.get(), &WindowPicker::picked, this, &AreaSelection::picked);

    desktop_.pointer = [this](DesktopBackend::PointerEvent e, int button, int32_t x, int32_t y) {
        picker_->pointer(e, button, x, y);
    };
    desktop_.escape = [this] { picker_->escape(); };
    desktop_.moved = [this](const Rect& r) { followedMoved(r); };
    desktop_.gone = [this] { followedGone(); };
    if (desktop_.eventFd() >= 0) {
        notifier_ = new QSocketNotifier(desktop_.eventFd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { desktop_.processEvents(); });
    }
}

AreaSelection::~AreaSelection()
{
    desktop_.pointer = nullptr;
    desktop_.escape = nullptr;
    desktop_.moved = nullptr;
    desktop_.gone = nullptr;
    if (selector_)
        delete selector_.data();
}

void AreaSelection::drainSoon()
{
    // Replies waited for may have brought events along that the descriptor
    // will not announce again.
    QTimer::singleShot(0, this, [this] { desktop_.processEvents(); });
}

std::vector<DesktopBackend::WindowId> AreaSelection::ownWindows() const
{
    std::vector<DesktopBackend::WindowId> ids = others_;
    ids.push_back(frame_->nativeId());
    ids.push_back(picker_->outlineId());
    if (selector_)
        ids.push_back(selector_->nativeId());
    return ids;
}

bool AreaSelection::frameShown() const { return frame_->isVisible(); }

Rect AreaSelection::area() const { return frameShown() ? frame_->area() : Rect{}; }

bool AreaSelection::selecting() const { return picker_->active() || (selector_ && selector_->isVisible()); }

void AreaSelection::selectWholeScreen()
{
    stopFollowing();
    frame_->hide();
    kind_ = AreaKind::WholeScreen;
    emit areaChanged(Rect{});
}

void AreaSelection::showArea(const Rect& area)
{
    if (rectWidth(area) <= 0 || rectHeight(area) <= 0) {
        selectWholeScreen();
        return;
    }
    stopFollowing();
    kind_ = AreaKind::Rectangle;
    frame_->setRect(area);
    frame_->show();
    frame_->raise();
    emit areaChanged(area);
}

int AreaSelection::pickWindow()
{
    if (selecting() || recording_)
        return 0;
    const int ok = picker_->start(ownWindows());
    drainSoon();
    return ok;
}

void AreaSelection::picked(const DesktopBackend::Window& window)
{
    drainSoon();
    if (!bigEnough(window.rect, kPickMinimum)) {
        emit pickTooSmall();
        return;
    }
    stopFollowing();
    kind_ = AreaKind::Window;
    frame_->setRect(window.rect);
    frame_->show();
    frame_->raise();
    followed_ = window.id;
    followedRect_ = window.rect;
    desktop_.follow(window.id);
    emit areaChanged(window.rect);
}

int AreaSelection::dragRectangle()
{
    if (selecting() || recording_)
        return 0;
    // The frame is not part of the picture being selected on.
    const bool frameWasShown = frame_->isVisible();
    frame_->hide();
    const Rect screen = desktop_.screenRect();
    DesktopBackend::Picture picture;
    if (!desktop_.copyScreen(screen, &picture)) {
        frame_->setVisible(frameWasShown);
        return 0;
    }
    selector_ = new RectangleSelector(texts_);
    RectangleSelector* selector = selector_.data();
    connect(selector, &RectangleSelector::accepted, this, [this, selector](const Rect& r) {
        selector->deleteLater();
        stopFollowing();
        kind_ = AreaKind::Rectangle;
        frame_->setRect(r);
        frame_->show();
        frame_->raise();
        emit areaChanged(r);
    });
    connect(selector, &RectangleSelector::cancelled, this, [this, selector, frameWasShown] {
        selector->deleteLater();
        frame_->setVisible(frameWasShown); // the previous area stays
    });
    if (!selector->open(screen, picture)) {
        delete selector;
        frame_->setVisible(frameWasShown);
        return 0;
    }
    return 1;
}

void AreaSelection::frameEdited()
{
    stopFollowing();
    kind_ = AreaKind::Rectangle;
    emit areaChanged(frame_->area());
}

void AreaSelection::followedMoved(const Rect& rect)
{
    if (!followed_)
        return;
    if (!recording_) {
        followedRect_ = rect;
        frame_->moveTo(rect);
        emit areaChanged(rect);
        return;
    }
    // The recorded area keeps its size; it moves by as much as the window.
    const Rect screen = desktop_.screenRect();
    const int dx = rect.left - followedRect_.left, dy = rect.top - followedRect_.top;
    followedRect_ = rect;
    const Rect now = draggedRect(frame_->area(), DragZone::Move, dx, dy, 0, screen);
    if (now == frame_->area())
        return;
    frame_->moveTo(now);
    emit recordingAreaMoved(now);
}

void AreaSelection::followedGone()
{
    // The last rectangle stays the area.
    followed_ = 0;
}

void AreaSelection::stopFollowing()
{
    if (followed_)
        desktop_.follow(0);
    followed_ = 0;
}

void AreaSelection::recordingStarts(const Rect& area)
{
    recording_ = true;
    if (!frameShown())
        return;
    frame_->moveTo(area);
    frame_->setEditable(false);
}

void AreaSelection::recordingEnds()
{
    recording_ = false;
    if (frameShown())
        frame_->setEditable(true);
}

} // namespace quillet::overlay
