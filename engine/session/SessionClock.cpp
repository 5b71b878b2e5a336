#include "engine/session/SessionClock.h"

#include <chrono>
#include <thread>

#include "base/TickClock.h"

namespace quillet {

void WakeSignal::notify()
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        pending_ = true;
    }
    cv_.notify_all();
}

int WakeSignal::sleepUntil(uint64_t deadlineMs)
{
    // tickMs() counts whole milliseconds of the steady clock, so the deadline
    // maps back onto that clock exactly.
    const std::chrono::steady_clock::time_point deadline{std::chrono::milliseconds(deadlineMs)};
    std::unique_lock<std::mutex> lk(mutex_);
    const bool woken = cv_.wait_until(lk, deadline, [this] { return pending_; });
    pending_ = false;
    return woken ? 1 : 0;
}

void SessionClock::sleepUntilMs(uint64_t deadlineMs, WakeSignal&)
{
    const uint64_t now = nowMs();
    if (deadlineMs > now)
        sleepMs(static_cast<uint32_t>(deadlineMs - now > UINT32_MAX ? UINT32_MAX : deadlineMs - now));
}

uint64_t SteadySessionClock::nowMs() { return tickMs(); }

void SteadySessionClock::sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void SteadySessionClock::sleepUntilMs(uint64_t deadlineMs, WakeSignal& wake) { wake.sleepUntil(deadlineMs); }

SteadySessionClock& SteadySessionClock::instance()
{
    static SteadySessionClock clock;
    return clock;
}

} // namespace quillet
