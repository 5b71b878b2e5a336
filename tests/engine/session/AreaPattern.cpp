// Test picture for the recorded-area checks: covers the whole screen with a
// pattern of 80-pixel blocks, each of its own colour (patternPixel), and
// draws 4-pixel stripes just inside the edges of one rectangle: red along the
// top, green along the bottom, blue on the left, magenta on the right.
//
//   area_pattern X Y W H
//
// Prints "ready" once the pattern is on screen; runs until killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "tests/engine/session/AreaPatternColours.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: area_pattern X Y W H\n");
        return 2;
    }
    const quillet::test::PatternArea area{std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]),
                                          std::atoi(argv[4])};
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return 1;
    const int screen = DefaultScreen(dpy);
    const int w = DisplayWidth(dpy, screen);
    const int h = DisplayHeight(dpy, screen);
    if (DefaultDepth(dpy, screen) != 24)
        return 1;

    std::vector<uint32_t> pixels(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels[size_t(y) * w + x] = quillet::test::patternPixel(x, y, area);
    XImage* image = XCreateImage(dpy, DefaultVisual(dpy, screen), 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), unsigned(w), unsigned(h), 32, w * 4);
    const Pixmap pixmap = XCreatePixmap(dpy, RootWindow(dpy, screen), unsigned(w), unsigned(h), 24);
    const GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
    XPutImage(dpy, pixmap, gc, image, 0, 0, 0, 0, unsigned(w), unsigned(h));

    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixmap = pixmap;
    const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, unsigned(w), unsigned(h), 0, 24,
                                     InputOutput, DefaultVisual(dpy, screen), CWOverrideRedirect | CWBackPixmap,
                                     &attrs);
    XMapRaised(dpy, win);
    XSync(dpy, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
