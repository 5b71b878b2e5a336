#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace quillet {

// What the repair of a recording that was not closed found and did.
struct RecordingRepairReport {
    uint32_t videoSamples = 0;   // pictures the file holds now
    uint32_t audioSamples = 0;   // sound frames (MP4) or sound tags (FLV)
    uint32_t durationMs = 0;     // play time of the repaired file
    uint32_t droppedSamples = 0; // samples that were not whole in the file
    std::string error;           // why nothing was done (empty on success)
};

// Progress of a long repair: bytes checked so far and in all.
using RepairProgress = std::function<void(uint64_t done, uint64_t total)>;

} // namespace quillet
