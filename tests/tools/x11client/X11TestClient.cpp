// Another program on the test desktop, for the desktop program's tests:
//   x11_test_client window X Y W H RRGGBB TITLE   a window filled with one colour
//   x11_test_client grab KEYSYM                    holds a global key (e.g. F11)
// It prints "ready" once the window is mapped or the key is held, and runs
// until it is killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace {

int grabKey(Display* d, const char* name)
{
    const KeySym sym = XStringToKeysym(name);
    const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
    if (!code) {
        std::fprintf(stderr, "x11_test_client: no key %s\n", name);
        return 2;
    }
    const Window root = DefaultRootWindow(d);
    for (unsigned mods : {0u, static_cast<unsigned>(LockMask), static_cast<unsigned>(Mod2Mask),
                          static_cast<unsigned>(LockMask | Mod2Mask)})
        XGrabKey(d, code, mods, root, False, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == KeyPress) {
            std::printf("pressed %s\n", name);
            std::fflush(stdout);
        }
    }
}

int colourWindow(Display* d, char** argv)
{
    const int x = std::atoi(argv[0]), y = std::atoi(argv[1]);
    const unsigned w = static_cast<unsigned>(std::atoi(argv[2])), h = static_cast<unsigned>(std::atoi(argv[3]));
    const unsigned long rgb = std::strtoul(argv[4], nullptr, 16);
    const int s = DefaultScreen(d);
    XSetWindowAttributes a{};
    a.background_pixel = rgb; // a 24-bit TrueColor screen takes 0xRRGGBB as it is
    a.event_mask = ExposureMask | StructureNotifyMask;
    const Window win = XCreateWindow(d, RootWindow(d, s), x, y, w, h, 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWBackPixel | CWEventMask, &a);
    XStoreName(d, win, argv[5]);
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = static_cast<int>(w);
    hints.height = static_cast<int>(h);
    XSetWMNormalHints(d, win, &hints);
    XMapWindow(d, win);
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify) {
            XSync(d, False);
            std::printf("ready %lu\n", win);
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "x11_test_client: no display\n");
        return 2;
    }
    if (argc == 3 && std::strcmp(argv[1], "grab") == 0)
        return grabKey(d, argv[2]);
    if (argc == 8 && std::strcmp(argv[1], "window") == 0)
        return colourWindow(d, argv + 2);
    std::fprintf(stderr, "usage: x11_test_client window X Y W H RRGGBB TITLE | grab KEYSYM\n");
    return 2;
}
