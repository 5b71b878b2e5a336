// Test scene for A/V sync: flashes a 640 x 480 window at the top-left of the
// screen white at known moments and plays a click into the default sound
// output at the same moments. The flash is timed from the sound stream's own
// latency, so both reach the recorder together.
//
//   av_sync_scene SECONDS [PERIOD_MS [SINK]]
//
// First flash at 1 s, then every PERIOD_MS (default 2000). Prints each
// moment's stream time in ms.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kBlockFrames = kRate / 100; // 10 ms per write
constexpr int kClickFrames = kRate / 200; // 5 ms click
constexpr int kFlashMs = 200;

using Clock = std::chrono::steady_clock;

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int periodMs = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (seconds <= 0 || periodMs < 300) {
        std::fprintf(stderr, "usage: av_sync_scene SECONDS [PERIOD_MS >= 300]\n");
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "av_sync_scene: no display\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = BlackPixel(dpy, screen);
    const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, 640, 480, 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy, win);
    const GC gc = XCreateGC(dpy, win, 0, nullptr);
    auto paint = [&](bool white) {
        XSetForeground(dpy, gc, white ? WhitePixel(dpy, screen) : BlackPixel(dpy, screen));
        XFillRectangle(dpy, win, gc, 0, 0, 640, 480);
        XSync(dpy, False);
    };
    paint(false);

    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_S16LE;
    sampleSpec.rate = kRate;
    sampleSpec.channels = 1;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = kBlockFrames * 2 * 3; // about 30 ms queued
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    int err = 0;
    const char* sink = argc > 3 ? argv[3] : nullptr; // null: the default output
    pa_simple* pa = pa_simple_new(nullptr, "av_sync_scene", PA_STREAM_PLAYBACK, sink, "clicks", &sampleSpec, nullptr,
                                  &attr, &err);
    if (!pa) {
        std::fprintf(stderr, "av_sync_scene: %s\n", pa_strerror(err));
        return 1;
    }

    std::vector<int16_t> block(kBlockFrames);
    const long totalBlocks = long(seconds) * 100;
    long nextClickBlock = 100; // 1 s
    Clock::time_point flashOn{}, flashOff{};
    bool pendingOn = false, lit = false;
    for (long b = 0; b < totalBlocks; ++b) {
        std::fill(block.begin(), block.end(), 0);
        const bool click = b == nextClickBlock;
        if (click) {
            for (int i = 0; i < kClickFrames; ++i)
                block[i] = int16_t(20000 * std::sin(2 * M_PI * 1000 * i / kRate));
            nextClickBlock += periodMs / 10;
        }
        // Written blocks wait in the stream's buffer; the click sounds once
        // everything before it has played.
        const pa_usec_t before = pa_simple_get_latency(pa, &err);
        if (pa_simple_write(pa, block.data(), block.size() * 2, &err) < 0) {
            std::fprintf(stderr, "av_sync_scene: %s\n", pa_strerror(err));
            return 1;
        }
        if (click) {
            flashOn = Clock::now() + std::chrono::microseconds(before);
            flashOff = flashOn + std::chrono::milliseconds(kFlashMs);
            pendingOn = true;
            std::printf("click %ld\n", b * 10);
            std::fflush(stdout);
        }
        const auto now = Clock::now();
        if (pendingOn && now >= flashOn) {
            paint(true);
            pendingOn = false;
            lit = true;
        }
        if (lit && now >= flashOff) {
            paint(false);
            lit = false;
        }
    }
    pa_simple_drain(pa, &err);
    pa_simple_free(pa);
    XFreeGC(dpy, gc);
    XDestroyWindow(dpy, win);
    XCloseDisplay(dpy);
    return 0;
}
