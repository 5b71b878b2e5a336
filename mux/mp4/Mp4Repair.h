#pragma once
#include <string>

#include "mux/journal/RepairReport.h"

namespace quillet {

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
