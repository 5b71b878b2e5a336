#include "capture/x11/X11Connection.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace quillet {

// Grants the error handlers access to a watch's private marker.
struct X11WatchAccess {
    static void markLost(X11ConnectionWatch& w, const std::string& reason) { w.markLost(reason); }
};

namespace {

// How often a waiting caller looks at its cancel flag (ms).
constexpr int kCancelPollMs = 20;

std::mutex g_watchMutex;
std::vector<std::pair<Display*, X11ConnectionWatch*>> g_watches;
XIOErrorHandler g_previousIoHandler = nullptr;
bool g_ioHandlerInstalled = false;

X11ConnectionWatch* watchOf(Display* display)
{
    for (const auto& [d, w] : g_watches)
        if (d == display)
            return w;
    return nullptr;
}

// The system's reason for a broken connection. A server that went away
// usually shows as an end of file (no errno worth showing) or a reset.
std::string lossReason(int err)
{
    if (err == 0 || err == EAGAIN || err == EINTR)
        return "the server closed the connection";
    return std::strerror(err);
}

int onIoError(Display* display)
{
    const int err = errno;
    XIOErrorHandler previous = nullptr;
    {
        std::lock_guard<std::mutex> g(g_watchMutex);
        if (X11ConnectionWatch* w = watchOf(display)) {
            X11WatchAccess::markLost(*w, lossReason(err));
            return 0; // the exit handler of the display then returns too
        }
        previous = g_previousIoHandler;
    }
    // Not ours: whoever handled it before (by default Xlib's own message).
    return previous ? previous(display) : 0;
}

void onIoErrorExit(Display*, void*)
{
    // Returning instead of exiting: Xlib marks the display dead, and every
    // later call on it returns at once.
}

struct PendingConnect {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    Display* display = nullptr;
    int error = 0;
};

} // namespace

Display* openDisplayWithin(const char* displayName, uint32_t timeoutMs, const std::atomic<bool>* cancel,
                           X11OpenProblem* problem, std::string* reason)
{
    *problem = X11OpenProblem::Connected;
    reason->clear();
    auto pending = std::make_shared<PendingConnect>();
    const std::string name = displayName ? displayName : "";
    try {
        std::thread([pending, name] {
            errno = 0;
            Display* d = XOpenDisplay(name.empty() ? nullptr : name.c_str());
            const int err = errno;
            std::lock_guard<std::mutex> g(pending->mutex);
            if (pending->abandoned) {
                if (d)
                    XCloseDisplay(d);
                return;
            }
            pending->display = d;
            pending->error = err;
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: connect without the limit rather than not at all.
        Display* d = XOpenDisplay(name.empty() ? nullptr : name.c_str());
        if (!d)
            *problem = X11OpenProblem::Refused;
        return d;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lk(pending->mutex);
    while (!pending->finished) {
        if (cancel && cancel->load()) {
            *problem = X11OpenProblem::Cancelled;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            *problem = X11OpenProblem::NoAnswer;
            break;
        }
        pending->done.wait_until(lk, std::min(deadline, now + std::chrono::milliseconds(kCancelPollMs)));
    }
    if (!pending->finished) {
        pending->abandoned = true;
        return nullptr;
    }
    if (!pending->display) {
        *problem = X11OpenProblem::Refused;
        if (pending->error != 0 && pending->error != EAGAIN)
            *reason = std::strerror(pending->error);
    }
    return pending->display;
}

void X11ConnectionWatch::attach(Display* display)
{
    detach();
    if (!display)
        return;
    {
        std::lock_guard<std::mutex> g(g_watchMutex);
        g_watches.emplace_back(display, this);
        if (!g_ioHandlerInstalled) {
            g_previousIoHandler = XSetIOErrorHandler(onIoError);
            g_ioHandlerInstalled = true;
        }
    }
    XSetIOErrorExitHandler(display, onIoErrorExit, nullptr);
    display_ = display;
    lost_ = false;
    std::lock_guard<std::mutex> g(mutex_);
    reason_.clear();
}

void X11ConnectionWatch::detach()
{
    if (!display_)
        return;
    std::lock_guard<std::mutex> g(g_watchMutex);
    g_watches.erase(std::remove_if(g_watches.begin(), g_watches.end(),
                                   [this](const auto& e) { return e.second == this; }),
                    g_watches.end());
    display_ = nullptr;
}

std::string X11ConnectionWatch::reason() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return reason_;
}

void X11ConnectionWatch::markLost(const std::string& reason)
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        reason_ = reason;
    }
    lost_ = true;
}

} // namespace quillet
