// A scene to record in tests of killed and cut-short recordings: a 640 x 480
// window at the top-left of the screen, and a 1 kHz tone into the default
// sound output, for SECONDS seconds.
//
//   recording_scene moving|noise SECONDS
//
// "moving": a square crossing a still grey picture, the kind of picture whose
// key frames come only every ten seconds. "noise": fresh random pixels ten
// times a second, which fills a disk fast.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kRate = 48000;
constexpr int kBlockFrames = kRate / 100; // 10 ms per write

} // namespace

int main(int argc, char** argv)
{
    const bool noise = argc > 1 && std::strcmp(argv[1], "noise") == 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 0;
    if (argc < 3 || (!noise && std::strcmp(argv[1], "moving") != 0) || seconds <= 0) {
        std::fprintf(stderr, "usage: recording_scene moving|noise SECONDS\n");
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "recording_scene: no display\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = 0x808080;
    const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, kWidth, kHeight, 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy, win);
    const GC gc = XCreateGC(dpy, win, 0, nullptr);
    XImage* image = nullptr;
    std::mt19937 rng(1);
    if (noise) {
        auto* pixels = static_cast<char*>(std::malloc(size_t(kWidth) * kHeight * 4));
        image = XCreateImage(dpy, DefaultVisual(dpy, screen), unsigned(DefaultDepth(dpy, screen)), ZPixmap, 0, pixels,
                             kWidth, kHeight, 32, 0);
    }

    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = kRate;
    spec.channels = 1;
    int err = 0;
    pa_simple* pa = pa_simple_new(nullptr, "recording_scene", PA_STREAM_PLAYBACK, nullptr, "tone", &spec, nullptr,
                                  nullptr, &err);
    if (!pa) {
        std::fprintf(stderr, "recording_scene: %s\n", pa_strerror(err));
        return 1;
    }
    std::vector<int16_t> block(kBlockFrames);
    long sample = 0;
    for (long b = 0; b < long(seconds) * 100; ++b) {
        for (int16_t& s : block)
            s = int16_t(12000 * std::sin(2 * M_PI * 1000 * double(sample++) / kRate));
        if (pa_simple_write(pa, block.data(), block.size() * 2, &err) < 0)
            break;
        if (noise && b % 10 == 0) {
            auto* p = reinterpret_cast<uint32_t*>(image->data);
            for (int i = 0; i < kWidth * kHeight; ++i)
                p[i] = rng() & 0xFFFFFF;
            XPutImage(dpy, win, gc, image, 0, 0, 0, 0, kWidth, kHeight);
            XSync(dpy, False);
        } else if (!noise && b % 7 == 0) {
            const int x = int(b / 7 * 8 % (kWidth - 64));
            XSetForeground(dpy, gc, 0x808080);
            XFillRectangle(dpy, win, gc, 0, 200, kWidth, 64);
            XSetForeground(dpy, gc, 0xE0E040);
            XFillRectangle(dpy, win, gc, x, 200, 64, 64);
            XSync(dpy, False);
        }
    }
    pa_simple_drain(pa, &err);
    pa_simple_free(pa);
    if (image)
        XDestroyImage(image);
    XCloseDisplay(dpy);
    return 0;
}
