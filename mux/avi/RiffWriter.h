#pragma once
#include <cstddef>
#include <cstdint>

#include "base/OutputSink.h"

namespace quillet {

// Writes RIFF chunks and lists to a seekable sink. A list is opened with a
// zero size and patched when it ends, so every size is right once the list is
// closed; odd-sized chunks get their pad byte. Errors are the sink's (sticky).
class RiffWriter {
public:
    explicit RiffWriter(OutputSink& sink) : sink_(sink) {}

    // Starts "RIFF" or "LIST" with its form type; returns the header's offset.
    uint64_t beginList(uint32_t id, uint32_t type);
    // Patches the size of the list begun at `header` to end here.
    int endList(uint64_t header);
    // One chunk: header, the two parts (either may be empty), pad byte.
    int chunk(uint32_t id, const void* a, size_t na, const void* b = nullptr, size_t nb = 0);
    // Writes `n` bytes at `pos` and returns to the end of the data.
    int patch(uint64_t pos, const void* data, size_t n);

    uint64_t tell() const { return sink_.tell(); }
    bool error() const { return sink_.error(); }
    OutputSink& sink() { return sink_; }

    // Bytes a chunk of `n` data bytes takes, header and pad included.
    static uint64_t chunkSpan(uint64_t n) { return 8 + n + (n & 1); }

private:
    OutputSink& sink_;
};

} // namespace quillet
