#pragma once
// Xlib types stay out of this header so that callers need no X11 includes.
struct _XDisplay;

namespace quillet {

// Keeps protocol errors on one display connection from ending the process:
// Xlib's default handler exits on any error, and a window that vanishes
// between two requests, or a key another program has grabbed, is an error.
// While a trap exists for a connection, that connection's errors are recorded
// here; errors on other connections still go to the handler installed before.
//
// Threads: the trap is used by the thread that uses its connection.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(_XDisplay* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has handled every request sent so far, then
    // returns the code of the first error since the previous call (0: none)
    // and forgets it.
    int sync();
    // The first error recorded since the previous call, without waiting.
    int take();

private:
    _XDisplay* display_;
};

} // namespace quillet
