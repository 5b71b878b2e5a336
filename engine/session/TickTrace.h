#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

// An opt-in record of the video thread's ticks, read by the pacing benchmark:
// how late each tick started after it was due, how long it ran and how many
// frame slots its frame covered (0: no frame). Kept in memory while recording
// and written at stop, so the trace costs the tick no file access.
class TickTrace {
public:
    // An empty path switches the trace off.
    explicit TickTrace(std::string path = {}) : path_(std::move(path)) {}

    bool enabled() const { return !path_.empty(); }
    void clear() { ticks_.clear(); }
    void add(uint32_t latenessMs, uint32_t durationMs, uint32_t advance);
    // Writes "lateness_ms duration_ms advance" lines after a header line.
    // Returns 1, or 0 when the file cannot be written (or the trace is off).
    int write() const;
    size_t size() const { return ticks_.size(); }

private:
    struct Tick {
        uint32_t latenessMs;
        uint32_t durationMs;
        uint32_t advance;
    };
    std::string path_;
    std::vector<Tick> ticks_;
};

} // namespace quillet
