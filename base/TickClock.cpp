#include "base/TickClock.h"

#include <chrono>

namespace quillet {

uint64_t tickMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace quillet
