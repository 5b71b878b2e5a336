#include "engine/session/SessionClock.h"

#include <chrono>
#include <thread>

#include "base/TickClock.h"

namespace quillet {

uint64_t SteadySessionClock::nowMs() { return tickMs(); }

void SteadySessionClock::sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

SteadySessionClock& SteadySessionClock::instance()
{
    static SteadySessionClock clock;
    return clock;
}

} // namespace quillet
