// Cost of one grabber frame on a 1920 × 1080 X server, each as a ratio to one
// full-screen XShmGetImage measured in the same run:
//   still screen (target < 5 %), one small region changed, everything changed
//   (target <= 1.2×). The frame cost is capture() without post-processing, as
//   for the MP4 path; the scaled and shrunk frames of the AVI path are reported
//   beside it.
// Run: scripts/test-env.sh -- build-dir/bin/capture_bench
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/FrameGrabber.h"
#include "capture/x11/X11Screen.h"

namespace {

using quillet::FrameGrabber;
using quillet::Rect;
using quillet::X11Screen;

// Draws on the root window from its own connection, as another program would.
struct Painter {
    Display* display = nullptr;
    GC gc{};
    int flip = 0;
    Painter()
    {
        display = XOpenDisplay(nullptr);
        if (display) {
            gc = XCreateGC(display, DefaultRootWindow(display), 0, nullptr);
            XSetSubwindowMode(display, gc, IncludeInferiors);
        }
    }
    ~Painter()
    {
        if (display) {
            XFreeGC(display, gc);
            XCloseDisplay(display);
        }
    }
    void fill(int x, int y, int w, int h)
    {
        flip ^= 1;
        XSetForeground(display, gc, flip ? 0x336699 : 0x996633);
        XFillRectangle(display, DefaultRootWindow(display), gc, x, y, static_cast<unsigned>(w),
                       static_cast<unsigned>(h));
        XSync(display, False);
        // Let the server hand the damage event to the grabber's connection.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
};

struct Rig {
    X11Screen screen;
    std::unique_ptr<FrameGrabber> grabber;
    Painter painter;
    bool ok = false;
    Rig()
    {
        if (!screen.open() || !painter.display)
            return;
        grabber = std::make_unique<FrameGrabber>(screen);
        ok = grabber->init(Rect{}, FrameGrabber::kFlagLayeredWindows, true) == 1 && grabber->capture(true) == 1;
    }
};

Rig* rig = nullptr;

int dirtyTiles()
{
    int n = 0;
    for (int i = 0; i < rig->grabber->tileCount(); ++i)
        n += rig->grabber->changeList()[i] == Rect{} ? 0 : 1;
    return n;
}

// Occasional full copies (every 10 s) land in some runs and not in others;
// the median shows the typical frame.
double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// A shared-memory image of the whole root window on its own connection.
struct RootShmImage {
    RootShmImage()
    {
        const int s = DefaultScreen(display);
        image = XShmCreateImage(display, DefaultVisual(display, s), DefaultDepth(display, s), ZPixmap, nullptr,
                                &info, DisplayWidth(display, s), DisplayHeight(display, s));
        info.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height, IPC_CREAT | 0600);
        info.shmaddr = image->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
        info.readOnly = False;
        XShmAttach(display, &info);
        XSync(display, False);
        shmctl(info.shmid, IPC_RMID, nullptr);
    }
    ~RootShmImage()
    {
        XShmDetach(display, &info);
        XSync(display, False);
        shmdt(info.shmaddr);
        image->data = nullptr;
        XDestroyImage(image);
        XCloseDisplay(display);
    }
    RootShmImage(const RootShmImage&) = delete;
    RootShmImage& operator=(const RootShmImage&) = delete;
    Status grab() { return XShmGetImage(display, DefaultRootWindow(display), image, 0, 0, AllPlanes); }

    Display* display = XOpenDisplay(nullptr);
    XShmSegmentInfo info{};
    XImage* image = nullptr;
};

// The baseline: one XShmGetImage of the whole root into shared memory.
void BM_FullShmGetImage(benchmark::State& state)
{
    RootShmImage root;
    for (auto _ : state)
        benchmark::DoNotOptimize(root.grab());
}

// The same baseline taken the way the change benchmarks take their frames:
// right after another client drew and the server went idle again.
void BM_FullShmGetImageAfterDrawing(benchmark::State& state)
{
    RootShmImage root;
    std::vector<double> times;
    for (auto _ : state) {
        rig->painter.fill(0, 0, 1920, 1080);
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(root.grab());
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(t);
        times.push_back(t);
    }
    state.counters["median_us"] = median(times) * 1e6;
    rig->grabber->capture(false); // take the damage drawn here out of the next benchmark
}

// Times one call with the steady clock; the drawing before it is not counted.
template <typename F>
double timed(F&& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Frames are taken at least 40 ms apart and the X screen reads the server's
// events once per frame, so still frames are spaced out here too (the pause is
// not timed).
void stillFrames(benchmark::State& state, bool postProcess)
{
    rig->grabber->capture(postProcess);
    int dirty = 0;
    std::vector<double> times;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        const double t = timed([&] { rig->grabber->capture(postProcess); });
        state.SetIterationTime(t);
        times.push_back(t);
        dirty = dirtyTiles();
    }
    state.counters["dirtyTiles"] = dirty; // the mouse tiles before shrinking; none after
    state.counters["median_us"] = median(times) * 1e6;
}

void BM_StillScreen(benchmark::State& state) { stillFrames(state, false); }

void changeThenCapture(benchmark::State& state, const Rect& change, bool postProcess)
{
    int dirty = 0;
    std::vector<double> times;
    for (auto _ : state) {
        rig->painter.fill(change.left, change.top, change.right - change.left, change.bottom - change.top);
        const double t = timed([&] { rig->grabber->capture(postProcess); });
        state.SetIterationTime(t);
        times.push_back(t);
        dirty = dirtyTiles();
    }
    state.counters["dirtyTiles"] = dirty;
    state.counters["median_us"] = median(times) * 1e6;
}

void BM_SmallRegionChange(benchmark::State& state) { changeThenCapture(state, Rect{1000, 300, 1064, 364}, false); }
void BM_FullChange(benchmark::State& state) { changeThenCapture(state, Rect{0, 0, 1920, 1080}, false); }

// The AVI/SWF path: capture, bicubic scale to 1920 × 1088 (only the rows a
// change reaches), map and shrink.
void BM_StillScreenPostProcessed(benchmark::State& state) { stillFrames(state, true); }

void BM_SmallRegionChangePostProcessed(benchmark::State& state)
{
    changeThenCapture(state, Rect{1000, 300, 1064, 364}, true);
}

BENCHMARK(BM_FullShmGetImage)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(BM_FullShmGetImageAfterDrawing)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseManualTime();
BENCHMARK(BM_StillScreen)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseManualTime();
BENCHMARK(BM_SmallRegionChange)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseManualTime();
BENCHMARK(BM_FullChange)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseManualTime();
BENCHMARK(BM_StillScreenPostProcessed)->Unit(benchmark::kMicrosecond)->Iterations(300)->UseManualTime();
void BM_FullChangePostProcessed(benchmark::State& state)
{
    changeThenCapture(state, Rect{0, 0, 1920, 1080}, true);
}

BENCHMARK(BM_FullChangePostProcessed)->Unit(benchmark::kMillisecond)->Iterations(20)->UseManualTime();
BENCHMARK(BM_SmallRegionChangePostProcessed)->Unit(benchmark::kMillisecond)->Iterations(40)->UseManualTime();

// Prints every result as a ratio to the baseline once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.error_occurred || r.iterations <= 0)
                continue;
            perIteration_[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
            const auto m = r.counters.find("median_us");
            if (m != r.counters.end())
                median_[r.benchmark_name()] = m->second.value * 1e-6;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto hot = perIteration_.find("BM_FullShmGetImage/min_time:0.500");
        const auto cold = perIteration_.find("BM_FullShmGetImageAfterDrawing/iterations:300/manual_time");
        if (hot == perIteration_.end() || cold == perIteration_.end() || hot->second <= 0 || cold->second <= 0)
            return;
        std::printf("\nRatios to one full XShmGetImage in this run: back to back (%.1f us) / right after"
                    " drawing, as the change frames are taken (%.1f us)\n",
                    hot->second * 1e6, cold->second * 1e6);
        for (const auto& [name, seconds] : perIteration_)
            std::printf("  %-62s %8.3f x  %8.3f x  (%9.1f us)\n", name.c_str(), seconds / hot->second,
                        seconds / cold->second, seconds * 1e6);
        const auto coldMedian = median_.find(cold->first);
        if (coldMedian == median_.end() || coldMedian->second <= 0)
            return;
        std::printf("Medians, as ratios to the same two baselines (the first: its mean):\n");
        for (const auto& [name, seconds] : median_)
            std::printf("  %-62s %8.3f x  %8.3f x  (%9.1f us)\n", name.c_str(), seconds / hot->second,
                        seconds / coldMedian->second, seconds * 1e6);
    }

private:
    std::map<std::string, double> perIteration_;
    std::map<std::string, double> median_;
};

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        std::printf("capture_bench needs an X server: scripts/test-env.sh -- capture_bench\n");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    Rig r;
    if (!r.ok) {
        std::fprintf(stderr, "capture_bench: cannot set up the grabber on this display\n");
        return 1;
    }
    rig = &r;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    rig = nullptr;
    return 0;
}
