#pragma once
#include <string>
#include <vector>

#include "mux/journal/RepairReport.h"

namespace quillet {

// Recordings in `folder` that were never closed: each one's journal is still
// beside it (the program was killed, or the machine went down, while it
// recorded). Recordings another running program is still writing are left
// out. Full paths, sorted by name.
std::vector<std::string> findUnfinishedRecordings(const std::string& folder);

// Repairs one such recording by the kind its journal names (MP4: an index up
// to the last whole sample; FLV: the final metadata), and removes the
// journal. Returns 1, or 0 with report->error saying why not.
int repairRecording(const std::string& file, RecordingRepairReport* report, const RepairProgress& progress = nullptr);

} // namespace quillet
