#include "capture/x11/X11Screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include "base/TickClock.h"
#include "capture/x11/X11CompositorQuery.h"

namespace quillet {

namespace {

// Pointer warps by other clients send no raw motion events; asking the server
// this often bounds how stale a cached position can get (ms).
constexpr uint64_t kPointerRequeryMs = 250;
// Questions within this time share one read of the server's events. Frames
// are at least 40 ms apart.
constexpr std::chrono::microseconds kPumpCoalesce{2000};
// Damage pieces kept between two frames before they are merged into one.
constexpr size_t kMaxPendingDamage = 4096;

// Xlib's default error handler ends the process. Errors on our connections
// are recorded instead; errors on other connections go to whoever handled
// them before us.
std::mutex g_errorMutex;
std::vector<Display*> g_ourDisplays;
XErrorHandler g_previousHandler = nullptr;
bool g_handlerInstalled = false;
std::atomic<int> g_lastError{0};

int onXError(Display* display, XErrorEvent* event)
{
    XErrorHandler previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_errorMutex);
        if (std::find(g_ourDisplays.begin(), g_ourDisplays.end(), display) != g_ourDisplays.end()) {
            g_lastError = event->error_code;
            return 0;
        }
        previous = g_previousHandler;
    }
    return previous ? previous(display, event) : 0;
}

void registerDisplay(Display* display)
{
    std::lock_guard<std::mutex> lock(g_errorMutex);
    g_ourDisplays.push_back(display);
    if (!g_handlerInstalled) {
        g_previousHandler = XSetErrorHandler(onXError);
        g_handlerInstalled = true;
    }
}

void unregisterDisplay(Display* display)
{
    std::lock_guard<std::mutex> lock(g_errorMutex);
    g_ourDisplays.erase(std::remove(g_ourDisplays.begin(), g_ourDisplays.end(), display), g_ourDisplays.end());
}

XShmSegmentInfo* shmInfo(void* p) { return static_cast<XShmSegmentInfo*>(p); }
XImage* ximage(void* p) { return static_cast<XImage*>(p); }

// Bytes per row the server writes for a ZPixmap of `width` pixels (rows padded
// to 32 bits).
int32_t serverRowBytes(int32_t width, int bitsPerPixel) { return ((width * bitsPerPixel + 31) / 32) * 4; }

} // namespace

X11Screen::X11Screen() = default;

X11Screen::~X11Screen() { close(); }

int X11Screen::open(const char* displayName, uint32_t timeoutMs, const std::atomic<bool>* cancel)
{
    close();
    displayName_ = XDisplayName(displayName);
    Display* d = openDisplayWithin(displayName, timeoutMs, cancel, &openProblem_, &openReason_);
    if (!d)
        return 0;
    display_ = d;
    watch_.attach(d);
    registerDisplay(d);
    screen_ = DefaultScreen(d);
    root_ = RootWindow(d, screen_);
    depth_ = DefaultDepth(d, screen_);
    width_ = DisplayWidth(d, screen_);
    height_ = DisplayHeight(d, screen_);

    // Pixel layout of the root's depth.
    int pixmapBits = 0;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(d, &count)) {
        for (int i = 0; i < count; ++i)
            if (formats[i].depth == depth_)
                pixmapBits = formats[i].bits_per_pixel;
        XFree(formats);
    }
    const Visual* visual = DefaultVisual(d, screen_);
    if (depth_ == 24 && pixmapBits == 32 && visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 &&
        visual->blue_mask == 0xFF) {
        bitsPerPixel_ = 32;
    } else if (depth_ == 16 && pixmapBits == 16 && visual->red_mask == 0xF800 && visual->green_mask == 0x7E0 &&
               visual->blue_mask == 0x1F) {
        bitsPerPixel_ = 16;
        from565_ = true;
    } else if (depth_ == 15 && pixmapBits == 16 && visual->red_mask == 0x7C00 && visual->green_mask == 0x3E0 &&
               visual->blue_mask == 0x1F) {
        bitsPerPixel_ = 16;
    } else {
        bitsPerPixel_ = 0;
    }

    useShm_ = XShmQueryExtension(d) == True;

    int errorBase = 0;
    if (XDamageQueryExtension(d, &damageEventBase_, &errorBase)) {
        int fixesError = 0;
        if (XFixesQueryExtension(d, &fixesEventBase_, &fixesError)) {
            hasFixes_ = true;
            // Delta rectangles: each event carries the part by which the
            // damage grew, so a frame learns what changed without asking the
            // server (fetching a region costs a round trip, about a tenth of a
            // full-screen copy). Clearing the damage after each frame re-arms
            // the reports.
            damage_ = XDamageCreate(d, root_, XDamageReportDeltaRectangles);
            pendingDamage_.push_back(Rect{0, 0, width_, height_});
        }
    } else {
        int fixesError = 0;
        hasFixes_ = XFixesQueryExtension(d, &fixesEventBase_, &fixesError);
    }
    if (hasFixes_) {
        XFixesSelectCursorInput(d, root_, XFixesDisplayCursorNotifyMask);
        if (XFixesCursorImage* img = XFixesGetCursorImage(d)) {
            cursorSerial_ = img->cursor_serial;
            pointerX_ = img->x;
            pointerY_ = img->y;
            XFree(img);
        }
    }

    int event = 0;
    int error = 0;
    int opcode = 0;
    if (XQueryExtension(d, "XInputExtension", &opcode, &event, &error)) {
        int major = 2;
        int minor = 0;
        if (XIQueryVersion(d, &major, &minor) == Success) {
            unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
            XISetMask(mask, XI_RawMotion);
            XIEventMask em{XIAllMasterDevices, static_cast<int>(sizeof mask), mask};
            if (XISelectEvents(d, root_, &em, 1) == Success)
                xiOpcode_ = opcode;
        }
    }
    XSync(d, False);
    g_lastError = 0;
    return 1;
}

void X11Screen::close()
{
    if (!display_)
        return;
    closePicture();
    if (watch_.lost()) {
        // The thread that met the broken connection keeps Xlib's lock of the
        // display for good; any call from here would wait for it for ever.
        // Only the socket is closed; the rest of the connection's memory is
        // left behind.
        unregisterDisplay(display_);
        watch_.detach();
        ::close(ConnectionNumber(display_));
        display_ = nullptr;
        damage_ = 0;
        pendingDamage_.clear();
        xiOpcode_ = 0;
        hasFixes_ = false;
        bitsPerPixel_ = 0;
        from565_ = false;
        return;
    }
    if (damage_)
        XDamageDestroy(display_, damage_);
    damage_ = 0;
    pendingDamage_.clear();
    XSync(display_, False);
    unregisterDisplay(display_);
    watch_.detach();
    XCloseDisplay(display_);
    display_ = nullptr;
    xiOpcode_ = 0;
    hasFixes_ = false;
    bitsPerPixel_ = 0;
    from565_ = false;
}

int X11Screen::attachShm(size_t bytes)
{
    auto* info = new XShmSegmentInfo{};
    info->shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (info->shmid < 0) {
        delete info;
        return 0;
    }
    info->shmaddr = static_cast<char*>(shmat(info->shmid, nullptr, 0));
    if (info->shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(info->shmid, IPC_RMID, nullptr);
        delete info;
        return 0;
    }
    info->readOnly = False;
    g_lastError = 0;
    const Bool attached = XShmAttach(display_, info);
    XSync(display_, False);
    // Marked for removal at once: the segment goes away with its last user,
    // even if this process dies.
    shmctl(info->shmid, IPC_RMID, nullptr);
    if (!attached || g_lastError != 0) {
        shmdt(info->shmaddr);
        delete info;
        return 0;
    }
    XImage* image = XShmCreateImage(display_, DefaultVisual(display_, screen_), depth_, ZPixmap, info->shmaddr, info,
                                    1, 1);
    if (!image) {
        XShmDetach(display_, info);
        XSync(display_, False);
        shmdt(info->shmaddr);
        delete info;
        return 0;
    }
    shmInfo_ = info;
    shmImage_ = image;
    return 1;
}

void X11Screen::detachShm()
{
    if (shmImage_) {
        XImage* image = ximage(shmImage_);
        image->data = nullptr; // the memory belongs to the segment
        XDestroyImage(image);
        shmImage_ = nullptr;
    }
    if (shmInfo_) {
        XShmSegmentInfo* info = shmInfo(shmInfo_);
        if (usable()) {
            XShmDetach(display_, info);
            XSync(display_, False);
        }
        shmdt(info->shmaddr);
        delete info;
        shmInfo_ = nullptr;
    }
}

int X11Screen::openPicture(int32_t width, int32_t height)
{
    closePicture();
    if (!usable() || bitsPerPixel_ == 0 || width <= 0 || height <= 0)
        return 0;
    const int32_t bytes = bitsPerPixel_ / 8;
    const int32_t stride = width * bytes;
    const size_t pictureBytes = static_cast<size_t>(stride) * height;
    if (useShm_) {
        // The server pads rows to 32 bits, so the staging area may need a
        // little more than the picture.
        const size_t stagingBytes = static_cast<size_t>(serverRowBytes(width, bitsPerPixel_)) * height;
        if (attachShm(pictureBytes + stagingBytes)) {
            pictureBits_ = reinterpret_cast<uint8_t*>(shmInfo(shmInfo_)->shmaddr);
            staging_ = pictureBits_ + pictureBytes;
        } else {
            useShm_ = false;
        }
    }
    if (!useShm_) {
        heapPicture_.assign(pictureBytes, 0);
        pictureBits_ = heapPicture_.data();
    }
    std::memset(pictureBits_, 0, pictureBytes);
    pictureWidth_ = width;
    pictureHeight_ = height;
    pictureStride_ = stride;
    return 1;
}

PixelView X11Screen::picture() const
{
    if (!pictureBits_)
        return PixelView{};
    return PixelView{pictureBits_, pictureWidth_, pictureHeight_, pictureStride_, bitsPerPixel_};
}

void X11Screen::closePicture()
{
    if (display_)
        detachShm();
    heapPicture_ = {};
    pictureBits_ = nullptr;
    staging_ = nullptr;
    pictureWidth_ = pictureHeight_ = pictureStride_ = 0;
}

void X11Screen::convert565(int32_t x, int32_t y, int32_t w, int32_t h)
{
    for (int32_t row = y; row < y + h; ++row) {
        auto* p = reinterpret_cast<uint16_t*>(pictureBits_ + static_cast<int64_t>(row) * pictureStride_) + x;
        for (int32_t i = 0; i < w; ++i) {
            // R5 G6 B5 -> R5 G5 B5: drop the lowest green bit.
            const uint16_t v = p[i];
            p[i] = static_cast<uint16_t>(((v >> 1) & 0x7FE0) | (v & 0x1F));
        }
    }
}

int X11Screen::copyToPicture(const Rect& s, int32_t dstX, int32_t dstY)
{
    const int32_t w = s.right - s.left;
    const int32_t h = s.bottom - s.top;
    if (!usable() || !pictureBits_ || w <= 0 || h <= 0 || s.left < 0 || s.top < 0 || s.right > width_ ||
        s.bottom > height_ || dstX < 0 || dstY < 0 || dstX + w > pictureWidth_ || dstY + h > pictureHeight_)
        return 0;
    const int32_t bytes = bitsPerPixel_ / 8;
    g_lastError = 0;
    if (useShm_) {
        XImage* image = ximage(shmImage_);
        const int32_t rowBytes = serverRowBytes(w, bitsPerPixel_);
        // Whole rows of the picture land in place; anything narrower goes
        // through the staging area and is copied row by row.
        const bool inPlace = dstX == 0 && w == pictureWidth_ && rowBytes == pictureStride_;
        uint8_t* target = inPlace ? pictureBits_ + static_cast<int64_t>(dstY) * pictureStride_ : staging_;
        image->width = w;
        image->height = h;
        image->bytes_per_line = rowBytes;
        image->data = reinterpret_cast<char*>(target);
        const Status ok = XShmGetImage(display_, root_, image, s.left, s.top, AllPlanes);
        image->data = nullptr;
        if (!ok || g_lastError != 0)
            return 0;
        if (!inPlace)
            for (int32_t y = 0; y < h; ++y)
                std::memcpy(pictureBits_ + static_cast<int64_t>(dstY + y) * pictureStride_ + dstX * bytes,
                            staging_ + static_cast<int64_t>(y) * rowBytes, static_cast<size_t>(w) * bytes);
    } else {
        XImage* image = XGetImage(display_, root_, s.left, s.top, static_cast<unsigned>(w),
                                  static_cast<unsigned>(h), AllPlanes, ZPixmap);
        if (!image || g_lastError != 0) {
            if (image)
                XDestroyImage(image);
            return 0;
        }
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(pictureBits_ + static_cast<int64_t>(dstY + y) * pictureStride_ + dstX * bytes,
                        image->data + static_cast<int64_t>(y) * image->bytes_per_line, static_cast<size_t>(w) * bytes);
        XDestroyImage(image);
    }
    if (from565_)
        convert565(dstX, dstY, w, h);
    return 1;
}

void X11Screen::pumpEvents()
{
    // One socket read serves all the questions of one frame (changes, pointer,
    // cursor); an event arriving in between is seen at the next frame.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpCoalesce)
        return;
    lastPump_ = now;
    // XPending reads what the server already sent; it never waits for a reply.
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (damage_ && event.type == damageEventBase_ + XDamageNotify) {
            const XRectangle& a = reinterpret_cast<XDamageNotifyEvent*>(&event)->area;
            const Rect r{a.x, a.y, a.x + a.width, a.y + a.height};
            if (pendingDamage_.size() < kMaxPendingDamage) {
                pendingDamage_.push_back(r);
            } else {
                // Too many pieces (frames not being taken): keep their bounds.
                Rect& b = pendingDamage_.back();
                b = Rect{std::min(b.left, r.left), std::min(b.top, r.top), std::max(b.right, r.right),
                         std::max(b.bottom, r.bottom)};
            }
        } else if (hasFixes_ && event.type == fixesEventBase_ + XFixesCursorNotify) {
            cursorSerial_ = reinterpret_cast<XFixesCursorNotifyEvent*>(&event)->cursor_serial;
        } else if (event.type == GenericEvent && event.xcookie.extension == xiOpcode_ && xiOpcode_ != 0) {
            pointerMoved_ = true;
        }
    }
}

int X11Screen::pollChanges(std::vector<Rect>& changed)
{
    if (!usable() || !damage_)
        return 0;
    pumpEvents();
    if (pendingDamage_.empty())
        return 1;
    // Clearing needs no reply. Damage that happens before the server handles
    // it either grows the region (and is reported) or lies inside what is
    // reported now; the copies that follow are handled after the clearing, so
    // they read those pixels too.
    XDamageSubtract(display_, damage_, None, None);
    changed.insert(changed.end(), pendingDamage_.begin(), pendingDamage_.end());
    pendingDamage_.clear();
    return 1;
}

bool X11Screen::compositionActive()
{
    return usable() && compositorOwnsScreen(display_, screen_);
}

int X11Screen::queryPointer()
{
    Window rootReturn = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask))
        return 0; // the pointer is on another screen
    pointerX_ = rootX;
    pointerY_ = rootY;
    return 1;
}

int X11Screen::pointerPosition(int32_t& x, int32_t& y)
{
    if (!usable())
        return 0;
    pumpEvents();
    const uint64_t now = tickMs();
    if (pointerMoved_ || xiOpcode_ == 0 || now - lastPointerQuery_ >= kPointerRequeryMs) {
        pointerMoved_ = false;
        lastPointerQuery_ = now;
        queryPointer();
    }
    x = pointerX_;
    y = pointerY_;
    return 1;
}

uint64_t X11Screen::cursorSerial()
{
    if (!usable())
        return 0;
    pumpEvents();
    return cursorSerial_;
}

bool X11Screen::connectionLost(std::string* reason) const
{
    if (!watch_.lost())
        return false;
    if (reason)
        *reason = watch_.reason();
    return true;
}

int X11Screen::cursorImage(CursorImage& out)
{
    if (!usable() || !hasFixes_)
        return 0;
    XFixesCursorImage* img = XFixesGetCursorImage(display_);
    if (!img)
        return 0;
    out.serial = img->cursor_serial;
    out.width = img->width;
    out.height = img->height;
    out.hotX = img->xhot;
    out.hotY = img->yhot;
    // Xlib hands the pixels as unsigned long (8 bytes on 64-bit systems) with
    // premultiplied ARGB in the low 32 bits.
    const size_t n = static_cast<size_t>(img->width) * img->height;
    out.argb.resize(n);
    for (size_t i = 0; i < n; ++i)
        out.argb[i] = static_cast<uint32_t>(img->pixels[i] & 0xFFFFFFFFu);
    cursorSerial_ = img->cursor_serial;
    XFree(img);
    return 1;
}

} // namespace quillet
