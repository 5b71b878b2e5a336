#pragma once
#include <cstdint>

namespace quillet {

// The session's one monotonic clock and its sleep, injectable so that pacing
// can be driven by tests.
class SessionClock {
public:
    virtual ~SessionClock() = default;
    virtual uint64_t nowMs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
};

// tickMs() and a real sleep.
class SteadySessionClock final : public SessionClock {
public:
    uint64_t nowMs() override;
    void sleepMs(uint32_t ms) override;
    static SteadySessionClock& instance();
};

} // namespace quillet
