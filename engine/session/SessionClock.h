#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quillet {

// Cuts a worker's sleep short: stop and pause must not wait for the end of a
// frame period (half a second at 2 frames per second). A wake-up that comes
// while nobody sleeps is kept for the next sleep, so none is lost between a
// worker's look at the state and its going to sleep.
class WakeSignal {
public:
    void notify();
    // Sleeps until the steady clock reads deadlineMs (tickMs() scale) or a
    // wake-up arrives. Returns 1 when woken, 0 when the deadline passed.
    int sleepUntil(uint64_t deadlineMs);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool pending_ = false;
};

// The session's one monotonic clock and its sleep, injectable so that pacing
// can be driven by tests.
class SessionClock {
public:
    virtual ~SessionClock() = default;
    virtual uint64_t nowMs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
    // Sleeps until nowMs() reaches deadlineMs, or until wake is notified.
    // A clock that cannot be woken (a test's clock) simply sleeps the rest.
    virtual void sleepUntilMs(uint64_t deadlineMs, WakeSignal& wake);
};

// tickMs() and a real sleep; sleepUntilMs wakes on the dot of the deadline.
class SteadySessionClock final : public SessionClock {
public:
    uint64_t nowMs() override;
    void sleepMs(uint32_t ms) override;
    void sleepUntilMs(uint64_t deadlineMs, WakeSignal& wake) override;
    static SteadySessionClock& instance();
};

} // namespace quillet
