#pragma once
#include <string>

#include "mux/journal/RepairReport.h"

namespace quillet {

// Finalises an FLV recording that was not closed, from the journal beside it
// (FlvWriter::EnableJournal): every whole tag stays, a tag cut by the end of
// the file goes, and the metadata gets the duration the tags reach (a killed
// recording's metadata says what the last refresh said, or 0 in the first
// ten seconds). The journal is removed afterwards. A recording still being
// written is refused. Returns 1, or 0 with report->error set.
int repairFlvRecording(const std::string& path, RecordingRepairReport* report);

} // namespace quillet
