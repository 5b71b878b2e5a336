#pragma once
#include <array>

#include "engine/ScreenFrame.h"

namespace quillet {

// Geometry of choosing the recorded area and of the frame around it. Screen
// rectangles, physical pixels, exclusive right and bottom.

// The frame's ring lies this far outside the area on every side.
inline constexpr int kFrameRing = 6;
// Smallest picked window and smallest dragged rectangle, per side.
inline constexpr int kPickMinimum = 64;
inline constexpr int kDragMinimum = 32;
// Smallest frame window while it is resized by its handles.
inline constexpr int kFrameMinimumWindow = 64;
// Side of the selection tracker's handles.
inline constexpr int kTrackerHandle = 10;

Rect grown(const Rect& r, int by);
int rectWidth(const Rect& r);
int rectHeight(const Rect& r);
bool containsPoint(const Rect& r, int x, int y);
// The ring of `width` pixels around `inner` as four rectangles (top and bottom
// strips across the full width, left and right strips between them).
std::array<Rect, 4> ringParts(const Rect& inner, int width);
// The rectangle spanned by two corner points of a drag, whatever the direction.
Rect spannedRect(int x0, int y0, int x1, int y1);
// At least `minimum` wide and high.
bool bigEnough(const Rect& r, int minimum);

// Where a drag that starts at a point of a frame or a tracker grabs it.
enum class DragZone { None, Move, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

// The area frame (window rectangle = area grown by the ring): the left and
// right strips resize (their ends diagonally), the top and bottom strips
// resize only on their middle handle (the 6 pixels left of the midpoint) and
// move the frame everywhere else, like a caption.
DragZone frameZoneAt(const Rect& window, int x, int y);
// The frame's eight handles in window coordinates: corners and, ending at the
// midpoint, the middles of the sides.
std::array<Rect, 8> frameHandles(int windowWidth, int windowHeight);

// The selection tracker: its eight handles (corners and side middles, inside
// the rectangle) resize; the rest of the inside moves; outside is None.
DragZone trackerZoneAt(const Rect& selection, int x, int y);
std::array<Rect, 8> trackerHandles(const Rect& selection);

// `start` dragged by (dx, dy) at `zone`: moved, or its grabbed edges moved,
// never below `minimum` per side (the opposite edges stay). With `bounds`
// non-empty the result stays inside it: a move stops at the edge, a resize
// is cut there.
Rect draggedRect(const Rect& start, DragZone zone, int dx, int dy, int minimum, const Rect& bounds);

} // namespace quillet
