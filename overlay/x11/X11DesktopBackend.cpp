#include "overlay/x11/X11DesktopBackend.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "capture/x11/X11ErrorTrap.h"
#include "capture/x11/X11Screen.h"

namespace quillet {
namespace {

// Another program may hold the pointer for a moment (a menu closing):
// taking it is tried this often, this far apart.
constexpr int kGrabAttempts = 25;
constexpr auto kGrabRetry = std::chrono::milliseconds(20);
// The client window is searched this deep below a frame.
constexpr int kClientSearchDepth = 3;

bool contains(const Rect& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// Four CARDINALs (left, right, top, bottom) of a window property; 0 when absent.
int frameExtents(Display* d, ::Window w, Atom property, long out[4])
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 4, False, XA_CARDINAL, &type, &format, &count, &after, &data) !=
            Success ||
        !data)
        return 0;
    const bool ok = type == XA_CARDINAL && format == 32 && count == 4;
    if (ok)
        for (int i = 0; i < 4; ++i)
            out[i] = reinterpret_cast<long*>(data)[i];
    XFree(data);
    return ok ? 1 : 0;
}

bool hasProperty(Display* d, ::Window w, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 0, False, AnyPropertyType, &type, &format, &count, &after, &data) !=
        Success)
        return false;
    if (data)
        XFree(data);
    return type != None;
}

// The application's own window inside a window manager's frame: the first
// window with WM_STATE, searched breadth-first a few levels down.
::Window clientOf(Display* d, ::Window frame, Atom wmState, int depth)
{
    if (hasProperty(d, frame, wmState))
        return frame;
    if (depth == 0)
        return 0;
    ::Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, frame, &rootReturn, &parent, &children, &count))
        return 0;
    ::Window found = 0;
    for (unsigned i = count; i-- > 0 && !found;)
        found = clientOf(d, children[i], wmState, depth - 1);
    if (children)
        XFree(children);
    return found;
}

} // namespace

X11DesktopBackend::X11DesktopBackend() = default;

X11DesktopBackend::~X11DesktopBackend() { close(); }

int X11DesktopBackend::open(const char* displayName)
{
    close();
    Display* d = XOpenDisplay(displayName);
    if (!d)
        return 0;
    display_ = d;
    trap_ = std::make_unique<X11ErrorTrap>(d);
    root_ = DefaultRootWindow(d);
    wmState_ = XInternAtom(d, "WM_STATE", False);
    gtkFrameExtents_ = XInternAtom(d, "_GTK_FRAME_EXTENTS", False);
    return 1;
}

void X11DesktopBackend::close()
{
    if (!display_)
        return;
    releasePointer();
    endFollow(false);
    screen_.reset();
    if (crossCursor_)
        XFreeCursor(display_, crossCursor_);
    crossCursor_ = 0;
    trap_->sync();
    trap_.reset();
    XCloseDisplay(display_);
    display_ = nullptr;
}

Rect X11DesktopBackend::screenRect()
{
    if (!display_)
        return Rect{};
    const int s = DefaultScreen(display_);
    return Rect{0, 0, DisplayWidth(display_, s), DisplayHeight(display_, s)};
}

std::vector<Rect> X11DesktopBackend::monitors()
{
    std::vector<Rect> out;
    if (!display_)
        return out;
    int events = 0, errors = 0;
    if (XineramaQueryExtension(display_, &events, &errors) && XineramaIsActive(display_)) {
        int count = 0;
        if (XineramaScreenInfo* heads = XineramaQueryScreens(display_, &count)) {
            for (int i = 0; i < count; ++i)
                out.push_back(Rect{heads[i].x_org, heads[i].y_org, heads[i].x_org + heads[i].width,
                                   heads[i].y_org + heads[i].height});
            XFree(heads);
        }
    }
    if (out.size() < 2 && XRRQueryExtension(display_, &events, &errors)) {
        int count = 0;
        if (XRRMonitorInfo* list = XRRGetMonitors(display_, root_, True, &count)) {
            std::vector<Rect> randr;
            for (int i = 0; i < count; ++i) {
                const Rect r{list[i].x, list[i].y, list[i].x + list[i].width, list[i].y + list[i].height};
                if (list[i].primary)
                    randr.insert(randr.begin(), r);
                else
                    randr.push_back(r);
            }
            XRRFreeMonitors(list);
            if (randr.size() > out.size())
                out = randr;
        }
    }
    trap_->sync();
    if (out.empty())
        out.push_back(screenRect());
    return out;
}

int X11DesktopBackend::visibleRect(WindowId id, Rect* out)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, id, &a) || a.map_state != IsViewable) {
        trap_->sync();
        return 0;
    }
    ::Window child = 0;
    int x = a.x, y = a.y;
    // Root-relative whatever the parent is.
    XTranslateCoordinates(display_, id, root_, -a.border_width, -a.border_width, &x, &y, &child);
    Rect r{x, y, x + a.width + 2 * a.border_width, y + a.height + 2 * a.border_width};

    // A client that draws its own frame and shadow says how much of it is
    // shadow; without a frame of the window manager around it, that part
    // is not the window.
    if (const ::Window client = clientOf(display_, id, wmState_, kClientSearchDepth)) {
        long e[4] = {0, 0, 0, 0};
        XWindowAttributes ca;
        if (frameExtents(display_, client, gtkFrameExtents_, e) && XGetWindowAttributes(display_, client, &ca) &&
            ca.width == a.width && ca.height == a.height && e[0] + e[1] < ca.width && e[2] + e[3] < ca.height)
            r = Rect{r.left + static_cast<int32_t>(e[0]), r.top + static_cast<int32_t>(e[2]),
                     r.right - static_cast<int32_t>(e[1]), r.bottom - static_cast<int32_t>(e[3])};
    }
    if (trap_->sync() != 0)
        return 0; // it went away while being asked
    *out = r;
    return 1;
}

int X11DesktopBackend::windowAt(int32_t x, int32_t y, const std::vector<WindowId>& skip, Window* out)
{
    if (!display_)
        return 0;
    ::Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, root_, &rootReturn, &parent, &children, &count))
        return 0;
    int found = 0;
    // Children come bottom first: the topmost one containing the point wins.
    for (unsigned i = count; i-- > 0 && !found;) {
        const ::Window w = children[i];
        if (std::find(skip.begin(), skip.end(), w) != skip.end())
            continue;
        XWindowAttributes a;
        if (!XGetWindowAttributes(display_, w, &a) || a.map_state != IsViewable || a.c_class != InputOutput)
            continue;
        const Rect outer{a.x, a.y, a.x + a.width + 2 * a.border_width, a.y + a.height + 2 * a.border_width};
        Rect r;
        if (!contains(outer, x, y) || !visibleRect(w, &r) || !contains(r, x, y))
            continue;
        out->id = w;
        out->rect = r;
        found = 1;
    }
    if (children)
        XFree(children);
    trap_->sync();
    return found;
}

int X11DesktopBackend::windowRect(WindowId id, Rect* out)
{
    return display_ && id ? visibleRect(id, out) : 0;
}

void X11DesktopBackend::follow(WindowId id)
{
    if (!display_)
        return;
    endFollow(false);
    if (!id)
        return;
    Rect r;
    if (!visibleRect(id, &r))
        return;
    XSelectInput(display_, id, StructureNotifyMask);
    if (trap_->sync() != 0)
        return;
    followed_ = id;
    followedRect_ = r;
    processEvents();
}

void X11DesktopBackend::endFollow(bool announce)
{
    if (!followed_)
        return;
    XSelectInput(display_, followed_, NoEventMask);
    trap_->sync();
    followed_ = 0;
    if (announce && gone)
        gone();
}

int X11DesktopBackend::takePointer()
{
    if (!display_)
        return 0;
    if (pointerTaken_)
        return 1;
    if (!crossCursor_)
        crossCursor_ = XCreateFontCursor(display_, XC_crosshair);
    const unsigned mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    for (int attempt = 0; attempt < kGrabAttempts; ++attempt) {
        if (XGrabPointer(display_, root_, False, mask, GrabModeAsync, GrabModeAsync, None, crossCursor_,
                         CurrentTime) == GrabSuccess) {
            if (XGrabKeyboard(display_, root_, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess) {
                pointerTaken_ = true;
                XFlush(display_);
                return 1;
            }
            XUngrabPointer(display_, CurrentTime);
        }
        XFlush(display_);
        std::this_thread::sleep_for(kGrabRetry);
    }
    trap_->sync();
    return 0;
}

void X11DesktopBackend::releasePointer()
{
    if (!display_ || !pointerTaken_)
        return;
    XUngrabKeyboard(display_, CurrentTime);
    XUngrabPointer(display_, CurrentTime);
    trap_->sync();
    pointerTaken_ = false;
}

int X11DesktopBackend::shapeWindow(WindowId id, const std::vector<Rect>& parts)
{
    int events = 0, errors = 0;
    if (!display_ || !id || !XShapeQueryExtension(display_, &events, &errors))
        return 0;
    std::vector<XRectangle> rects;
    for (const Rect& r : parts)
        if (r.right > r.left && r.bottom > r.top)
            rects.push_back(XRectangle{static_cast<short>(r.left), static_cast<short>(r.top),
                                       static_cast<unsigned short>(r.right - r.left),
                                       static_cast<unsigned short>(r.bottom - r.top)});
    XShapeCombineRectangles(display_, id, ShapeBounding, 0, 0, rects.data(), static_cast<int>(rects.size()), ShapeSet,
                            Unsorted);
    return trap_->sync() == 0 ? 1 : 0;
}

int X11DesktopBackend::copyScreen(const Rect& rect, Picture* out)
{
    if (!display_)
        return 0;
    if (!screen_) {
        screen_ = std::make_unique<X11Screen>();
        if (!screen_->open(DisplayString(display_))) {
            screen_.reset();
            return 0;
        }
    }
    const Rect s = screenRect();
    const Rect r{std::max(rect.left, s.left), std::max(rect.top, s.top), std::min(rect.right, s.right),
                 std::min(rect.bottom, s.bottom)};
    if (r.right <= r.left || r.bottom <= r.top || !screen_->openPicture(r.right - r.left, r.bottom - r.top) ||
        !screen_->copyToPicture(r, 0, 0))
        return 0;
    const PixelView v = screen_->picture();
    out->width = v.width;
    out->height = v.height;
    out->pixels.resize(static_cast<size_t>(v.width) * v.height);
    for (int32_t y = 0; y < v.height; ++y) {
        uint32_t* dst = out->pixels.data() + static_cast<size_t>(y) * v.width;
        const uint8_t* src = v.row(y);
        if (v.bitsPerPixel == 32) {
            std::memcpy(dst, src, static_cast<size_t>(v.width) * 4);
            continue;
        }
        for (int32_t x = 0; x < v.width; ++x) { // 5-5-5 words
            uint16_t p;
            std::memcpy(&p, src + x * 2, 2);
            const uint32_t r5 = (p >> 10) & 31, g5 = (p >> 5) & 31, b5 = p & 31;
            dst[x] = ((r5 << 3 | r5 >> 2) << 16) | ((g5 << 3 | g5 >> 2) << 8) | (b5 << 3 | b5 >> 2);
        }
    }
    screen_->closePicture();
    return 1;
}

int X11DesktopBackend::eventFd() const { return display_ ? ConnectionNumber(display_) : -1; }

void X11DesktopBackend::processEvents()
{
    if (!display_)
        return;
    while (XPending(display_) > 0) {
        XEvent e;
        XNextEvent(display_, &e);
        switch (e.type) {
        case ConfigureNotify:
            if (e.xconfigure.window == followed_ && followed_) {
                Rect r;
                if (visibleRect(followed_, &r) && !(r == followedRect_)) {
                    followedRect_ = r;
                    if (moved)
                        moved(r);
                }
            }
            break;
        case UnmapNotify:
        case DestroyNotify:
            if (e.xany.window == followed_ && followed_) {
                followed_ = 0; // a destroyed window takes its selection along
                if (gone)
                    gone();
            }
            break;
        case MotionNotify:
            if (pointer)
                pointer(PointerEvent::Move, 0, e.xmotion.x_root, e.xmotion.y_root);
            break;
        case ButtonPress:
        case ButtonRelease:
            if (pointer)
                pointer(e.type == ButtonPress ? PointerEvent::Press : PointerEvent::Release,
                        static_cast<int>(e.xbutton.button), e.xbutton.x_root, e.xbutton.y_root);
            break;
        case KeyPress:
            if (XLookupKeysym(&e.xkey, 0) == XK_Escape && escape)
                escape();
            break;
        default: break;
        }
    }
}

} // namespace quillet
