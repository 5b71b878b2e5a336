#pragma once
#include <memory>

#include "overlay/DesktopBackend.h"

struct _XDisplay;

namespace quillet {

class X11ErrorTrap;
class X11Screen;

// The overlays' desktop on X11, over a connection of its own.
// - Monitors: Xinerama heads when the server has them (RandR may list one
//   monitor for several heads), else RandR monitors with the primary first.
// - The window under a point is the topmost viewable child of the root: with
//   a reparenting window manager that is the frame, so the frame counts; a
//   client that draws its own shadow (_GTK_FRAME_EXTENTS) counts without it.
// - A vanished window is an X error here, trapped, never fatal.
class X11DesktopBackend final : public DesktopBackend {
public:
    X11DesktopBackend();
    ~X11DesktopBackend() override;
    X11DesktopBackend(const X11DesktopBackend&) = delete;
    X11DesktopBackend& operator=(const X11DesktopBackend&) = delete;

    // Connects to `displayName` (nullptr: $DISPLAY). Returns 1, or 0.
    int open(const char* displayName = nullptr);
    void close();

    Rect screenRect() override;
    std::vector<Rect> monitors() override;
    int windowAt(int32_t x, int32_t y, const std::vector<WindowId>& skip, Window* out) override;
    int windowRect(WindowId id, Rect* out) override;
    void follow(WindowId id) override;
    int takePointer() override;
    void releasePointer() override;
    int shapeWindow(WindowId id, const std::vector<Rect>& parts) override;
    int copyScreen(const Rect& rect, Picture* out) override;
    int eventFd() const override;
    void processEvents() override;

private:
    int visibleRect(WindowId id, Rect* out);
    void endFollow(bool announce);

    _XDisplay* display_ = nullptr;
    std::unique_ptr<X11ErrorTrap> trap_;
    std::unique_ptr<X11Screen> screen_; // screen copies, opened on first use
    unsigned long root_ = 0;
    unsigned long crossCursor_ = 0;
    unsigned long wmState_ = 0;
    unsigned long gtkFrameExtents_ = 0;
    bool pointerTaken_ = false;
    WindowId followed_ = 0;
    Rect followedRect_{};
};

} // namespace quillet
