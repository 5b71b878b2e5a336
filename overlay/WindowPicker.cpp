#include "overlay/WindowPicker.h"

#include <QPainter>

#include "overlay/AreaGeometry.h"
#include "overlay/OverlayWindow.h"

namespace quillet::overlay {
namespace {

constexpr int kOutlineWidth = 5;
const QColor kOutlineColour(0, 255, 255);

// A cyan ring along the inside of the window under the pointer.
class Outline : public OverlayWindow {
public:
    void outline(const Rect& r)
    {
        placePhysical(r);
        const auto ring = ringParts(grown(r, -kOutlineWidth), kOutlineWidth);
        shapeTo(std::vector<Rect>(ring.begin(), ring.end()));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kOutlineColour); }
};

} // namespace

WindowPicker::WindowPicker(DesktopBackend& desktop, QObject* parent)
    : QObject(parent), desktop_(desktop), outline_(std::make_unique<Outline>())
{
    outline_->winId(); // so that it can be left out of picks from the start
}

WindowPicker::~WindowPicker()
{
    if (active_)
        desktop_.releasePointer();
}

DesktopBackend::WindowId WindowPicker::outlineId() const { return outline_->nativeId(); }

int WindowPicker::start(const std::vector<DesktopBackend::WindowId>& skip)
{
    if (active_)
        return 1;
    if (!desktop_.takePointer())
        return 0;
    skip_ = skip;
    skip_.push_back(outlineId());
    current_ = DesktopBackend::Window{};
    active_ = true;
    return 1;
}

void WindowPicker::hover(int32_t x, int32_t y)
{
    DesktopBackend::Window w;
    if (!desktop_.windowAt(x, y, skip_, &w)) {
        current_ = DesktopBackend::Window{};
        outline_->hide();
        return;
    }
    if (w.id == current_.id && w.rect == current_.rect)
        return;
    current_ = w;
    static_cast<Outline*>(outline_.get())->outline(w.rect);
    outline_->show();
    outline_->raise();
}

void WindowPicker::pointer(DesktopBackend::PointerEvent event, int button, int32_t x, int32_t y)
{
    if (!active_)
        return;
    switch (event) {
    case DesktopBackend::PointerEvent::Move: hover(x, y); break;
    case DesktopBackend::PointerEvent::Press: break;
    case DesktopBackend::PointerEvent::Release:
        if (button == 1) {
            hover(x, y);
            finish(current_.id != 0);
        } else if (button == 3) {
            finish(false);
        }
        break;
    }
}

void WindowPicker::escape()
{
    if (active_)
        finish(false);
}

void WindowPicker::finish(bool pick)
{
    active_ = false;
    desktop_.releasePointer();
    outline_->hide();
    if (pick)
        emit picked(current_);
    else
        emit cancelled();
}

} // namespace quillet::overlay
