#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace quillet {

// What a repair found and did.
struct RecordingRepairReport {
    uint32_t videoSamples = 0; // whole samples the file holds now
    uint32_t audioSamples = 0;
    uint32_t durationMs = 0;   // play time of the repaired file
    uint32_t droppedSamples = 0; // samples the journal names that were not whole in the file
    std::string error;         // why nothing was done (empty on success)
};

// Progress of a long repair: bytes checked so far and in all.
using RepairProgress = std::function<void(uint64_t done, uint64_t total)>;

// Gives an MP4 recording that was not closed (the program was killed, the
// machine went down) an index reaching its last whole sample, from the
// journal beside it (Mp4Journal.h). The media bytes that only the journal
// kept are put back in their place first, every sample written after the
// last index refresh is checked against the journal, and the file is cut
// behind the new index. Both side files are removed afterwards.
//
// Nothing in the file changes unless it can be given an index with at least
// one sample; a recording still being written is refused. Returns 1 on
// success, 0 with report->error set otherwise.
int repairMp4Recording(const std::string& path, RecordingRepairReport* report,
                       const RepairProgress& progress = nullptr);

} // namespace quillet
