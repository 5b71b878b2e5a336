#include "overlay/AreaGeometry.h"

#include <algorithm>

namespace quillet {
namespace {

bool hasLeft(DragZone z) { return z == DragZone::Left || z == DragZone::TopLeft || z == DragZone::BottomLeft; }
bool hasRight(DragZone z) { return z == DragZone::Right || z == DragZone::TopRight || z == DragZone::BottomRight; }
bool hasTop(DragZone z) { return z == DragZone::Top || z == DragZone::TopLeft || z == DragZone::TopRight; }
bool hasBottom(DragZone z)
{
    return z == DragZone::Bottom || z == DragZone::BottomLeft || z == DragZone::BottomRight;
}

Rect square(int x, int y, int side) { return Rect{x, y, x + side, y + side}; }

// Handles in the order of the zones below.
constexpr DragZone kHandleZones[8] = {DragZone::TopLeft, DragZone::TopRight, DragZone::BottomLeft,
                                      DragZone::BottomRight, DragZone::Top, DragZone::Bottom,
                                      DragZone::Left, DragZone::Right};

} // namespace

Rect grown(const Rect& r, int by) { return Rect{r.left - by, r.top - by, r.right + by, r.bottom + by}; }
int rectWidth(const Rect& r) { return r.right - r.left; }
int rectHeight(const Rect& r) { return r.bottom - r.top; }
bool containsPoint(const Rect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

std::array<Rect, 4> ringParts(const Rect& inner, int width)
{
    const Rect o = grown(inner, width);
    return {Rect{o.left, o.top, o.right, inner.top}, Rect{o.left, inner.bottom, o.right, o.bottom},
            Rect{o.left, inner.top, inner.left, inner.bottom}, Rect{inner.right, inner.top, o.right, inner.bottom}};
}

Rect spannedRect(int x0, int y0, int x1, int y1)
{
    return Rect{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
}

bool bigEnough(const Rect& r, int minimum) { return rectWidth(r) >= minimum && rectHeight(r) >= minimum; }

DragZone frameZoneAt(const Rect& w, int x, int y)
{
    if (!containsPoint(w, x, y))
        return DragZone::None;
    const bool top = y < w.top + kFrameRing;
    const bool bottom = y >= w.bottom - kFrameRing;
    if (x < w.left + kFrameRing)
        return top ? DragZone::TopLeft : bottom ? DragZone::BottomLeft : DragZone::Left;
    if (x >= w.right - kFrameRing)
        return top ? DragZone::TopRight : bottom ? DragZone::BottomRight : DragZone::Right;
    const int mid = w.left + rectWidth(w) / 2;
    const bool onHandle = x >= mid - kFrameRing && x < mid;
    if (top && onHandle)
        return DragZone::Top;
    if (bottom && onHandle)
        return DragZone::Bottom;
    return DragZone::Move;
}

std::array<Rect, 8> frameHandles(int w, int h)
{
    const int s = kFrameRing;
    const int mx = w / 2, my = h / 2;
    return {square(0, 0, s),      square(w - s, 0, s),      square(0, h - s, s),  square(w - s, h - s, s),
            square(mx - s, 0, s), square(mx - s, h - s, s), square(0, my - s, s), square(w - s, my - s, s)};
}

std::array<Rect, 8> trackerHandles(const Rect& r)
{
    const int s = kTrackerHandle;
    const int mx = r.left + (rectWidth(r) - s) / 2, my = r.top + (rectHeight(r) - s) / 2;
    return {square(r.left, r.top, s),    square(r.right - s, r.top, s), square(r.left, r.bottom - s, s),
            square(r.right - s, r.bottom - s, s), square(mx, r.top, s),        square(mx, r.bottom - s, s),
            square(r.left, my, s),       square(r.right - s, my, s)};
}

DragZone trackerZoneAt(const Rect& selection, int x, int y)
{
    const std::array<Rect, 8> handles = trackerHandles(selection);
    for (int i = 0; i < 8; ++i)
        if (containsPoint(handles[i], x, y))
            return kHandleZones[i];
    return containsPoint(selection, x, y) ? DragZone::Move : DragZone::None;
}

Rect draggedRect(const Rect& start, DragZone zone, int dx, int dy, int minimum, const Rect& bounds)
{
    const bool bounded = rectWidth(bounds) > 0 && rectHeight(bounds) > 0;
    Rect r = start;
    if (zone == DragZone::Move) {
        r = Rect{start.left + dx, start.top + dy, start.right + dx, start.bottom + dy};
        if (bounded) {
            const int w = rectWidth(r), h = rectHeight(r);
            r.left = std::clamp(r.left, bounds.left, std::max(bounds.left, bounds.right - w));
            r.top = std::clamp(r.top, bounds.top, std::max(bounds.top, bounds.bottom - h));
            r.right = r.left + w;
            r.bottom = r.top + h;
        }
        return r;
    }
    if (hasLeft(zone))
        r.left = std::min(start.left + dx, start.right - minimum);
    if (hasRight(zone))
        r.right = std::max(start.right + dx, start.left + minimum);
    if (hasTop(zone))
        r.top = std::min(start.top + dy, start.bottom - minimum);
    if (hasBottom(zone))
        r.bottom = std::max(start.bottom + dy, start.top + minimum);
    if (bounded) {
        r.left = std::max(r.left, bounds.left);
        r.top = std::max(r.top, bounds.top);
        r.right = std::min(r.right, bounds.right);
        r.bottom = std::min(r.bottom, bounds.bottom);
    }
    return r;
}

} // namespace quillet
