#pragma once
#include <pulse/pulseaudio.h>

#include <functional>
#include <string>

namespace quillet {

// One connection to the sound server with its own event thread (libpulse's
// threaded main loop). Every libpulse call on the context or its streams must
// be made with the loop locked (PulseLock), except from the loop's own
// callbacks, which already hold it.
class PulseConnection {
public:
    // How long to wait for the server to accept us or answer a query.
    static constexpr int kDefaultTimeoutMs = 5000;

    PulseConnection() = default;
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Starts the event thread and connects. Returns 1, or 0 with error() set
    // and nothing left running.
    int connect(const char* clientName, int timeoutMs = kDefaultTimeoutMs);
    // Disconnects and ends the event thread. Must not be called from a callback.
    void close();

    bool connected() const { return loop_ != nullptr; }
    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    // True while the context is usable; call with the loop locked.
    bool contextReady() const;

    // With the loop locked: sleeps until done() is true, the context fails or
    // timeoutMs pass. Returns 1 when done() came true.
    int waitLocked(const std::function<bool()>& done, int timeoutMs);
    // With the loop locked: runs an operation to its end (callbacks must
    // signal the loop). Returns 1 when it completed in time.
    int finishLocked(pa_operation* op, int timeoutMs = kDefaultTimeoutMs);
    // Wakes waitLocked; for callbacks.
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    const std::string& error() const { return error_; }
    // The context's last error as text.
    std::string serverError() const;

private:
    static void onContextState(pa_context* c, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string error_;
};

// Holds the loop's lock for a scope.
class PulseLock {
public:
    explicit PulseLock(const PulseConnection& c) : loop_(c.loop()) { pa_threaded_mainloop_lock(loop_); }
    ~PulseLock() { pa_threaded_mainloop_unlock(loop_); }
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

} // namespace quillet
