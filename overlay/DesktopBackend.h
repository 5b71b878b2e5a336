#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/ScreenFrame.h"

namespace quillet {

// What the overlay windows need from the desktop that the toolkit does not
// give: the monitors, the window under a point, following a window, taking
// the pointer and the keyboard for a pick, and a copy of the screen. All
// coordinates are physical screen pixels (exclusive right and bottom), the
// ones the recorder records, also where the toolkit scales its windows.
//
// One backend per desktop (X11). Threads: the thread that owns the windows.
class DesktopBackend {
public:
    using WindowId = unsigned long;

    struct Window {
        WindowId id = 0;
        Rect rect; // as the user sees it: with the frame a window manager adds
    };

    // A screen copy, top row first, 32-bit pixels (B, G, R, X in memory).
    struct Picture {
        int32_t width = 0;
        int32_t height = 0;
        std::vector<uint32_t> pixels;
    };

    enum class PointerEvent { Move, Press, Release };

    virtual ~DesktopBackend() = default;

    // The whole screen the recorder reads.
    virtual Rect screenRect() = 0;
    // The monitors, the primary one first; the whole screen when the desktop
    // names none.
    virtual std::vector<Rect> monitors() = 0;

    // The topmost visible window at (x, y), skipping `skip` (the program's
    // own overlays). Returns 1, or 0 when only the desktop is there.
    virtual int windowAt(int32_t x, int32_t y, const std::vector<WindowId>& skip, Window* out) = 0;
    // A window's current rectangle; 0 when it is gone or hidden.
    virtual int windowRect(WindowId id, Rect* out) = 0;

    // Follows a window: moved() hears each new rectangle, gone() once when it
    // closes or hides (following then ends). One window at a time; 0 stops.
    virtual void follow(WindowId id) = 0;

    // Takes the pointer (with a cross cursor) and the keyboard for a pick.
    // Returns 1, or 0 when another program holds them. While taken, pointer()
    // hears every move, press and release and escape() the Escape key.
    virtual int takePointer() = 0;
    virtual void releasePointer() = 0;

    // Makes only `parts` of a window visible (and clickable); rectangles in
    // physical pixels relative to the window's top-left corner. Returns 1, or
    // 0 when the desktop cannot shape windows.
    virtual int shapeWindow(WindowId id, const std::vector<Rect>& parts) = 0;

    // Copies a screen rectangle. Returns 1, or 0 when the screen cannot be read.
    virtual int copyScreen(const Rect& rect, Picture* out) = 0;

    // Event delivery: the owner watches eventFd() and calls processEvents()
    // when it is readable.
    virtual int eventFd() const = 0;
    virtual void processEvents() = 0;

    std::function<void(const Rect&)> moved;
    std::function<void()> gone;
    std::function<void(PointerEvent, int button, int32_t x, int32_t y)> pointer;
    std::function<void()> escape;
};

} // namespace quillet
