#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// Xlib types stay out of this header so that callers need no X11 includes.
struct _XDisplay;

namespace quillet {

// Why a display could not be opened.
enum class X11OpenProblem {
    Connected, // no problem (not "None": Xlib defines that name)
    Refused,   // no server there, or it refused the connection
    NoAnswer,  // it accepted the connection but did not answer in time
    Cancelled, // the caller gave up (a stop signal) while waiting
};

// Connects to `displayName` (null: $DISPLAY) with a time limit: a server that
// accepts the connection but never answers (a frozen one) would otherwise hold
// the caller for ever. The connection is made on a helper thread; when the
// limit passes, or *cancel becomes true (polled every few milliseconds), the
// caller returns null at once and the helper is left to finish on its own,
// closing whatever it gets. Returns the display, or null with *problem and
// *reason (the system's reason, when there is one) set.
_XDisplay* openDisplayWithin(const char* displayName, uint32_t timeoutMs, const std::atomic<bool>* cancel,
                             X11OpenProblem* problem, std::string* reason);

// Keeps a lost X server from ending the process. Xlib treats a broken
// connection as fatal and exits from inside whatever call noticed it; with a
// watch attached, that call returns instead, every later call on the display
// fails at once without touching the socket, and lost() tells the owner, who
// can finish its work (finalise a recording) and close the display.
class X11ConnectionWatch {
public:
    X11ConnectionWatch() = default;
    ~X11ConnectionWatch() { detach(); }
    X11ConnectionWatch(const X11ConnectionWatch&) = delete;
    X11ConnectionWatch& operator=(const X11ConnectionWatch&) = delete;

    void attach(_XDisplay* display);
    void detach();
    // Any thread.
    bool lost() const { return lost_.load(); }
    std::string reason() const;

private:
    friend struct X11WatchAccess;
    void markLost(const std::string& reason);

    _XDisplay* display_ = nullptr;
    std::atomic<bool> lost_{false};
    mutable std::mutex mutex_;
    std::string reason_;
};

} // namespace quillet
