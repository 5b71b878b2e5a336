#include "engine/session/TickTrace.h"

#include <cstdio>

namespace quillet {

void TickTrace::add(uint32_t latenessMs, uint32_t durationMs, uint32_t advance)
{
    if (enabled())
        ticks_.push_back(Tick{latenessMs, durationMs, advance});
}

int TickTrace::write() const
{
    if (!enabled())
        return 0;
    FILE* f = std::fopen(path_.c_str(), "w");
    if (!f)
        return 0;
    std::fprintf(f, "# lateness_ms duration_ms advance\n");
    for (const Tick& t : ticks_)
        std::fprintf(f, "%u %u %u\n", t.latenessMs, t.durationMs, t.advance);
    return std::fclose(f) == 0 ? 1 : 0;
}

} // namespace quillet
