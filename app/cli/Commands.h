#pragma once
#include <string>

namespace quillet::cli {

// Exit codes of quillet-cli.
constexpr int kExitFinished = 0;  // done (a recording: its file is complete)
constexpr int kExitFailed = 1;    // failed, or a recording ended early (its file is still complete)
constexpr int kExitUsage = 2;     // bad command line
constexpr int kExitCancelled = 3; // cancelled before recording began (nothing was kept)

// Each returns the process exit code. argv[0] is the command's name.
int runSelfCheck(int argc, char** argv);
// Records the screen (and sound) into a file; see RecordOptions.h.
int runRecord(int argc, char** argv);
// Lists the sound sources with the indices --source takes.
int runDevices(int argc, char** argv);
// Converts AVI and own record files to MP4 or PNG frames, FLV to MP4 and back.
int runConvert(int argc, char** argv);
// Prints what a recording holds.
int runInfo(int argc, char** argv);
// Repairs recordings that were cut short, from their journals.
int runRepair(int argc, char** argv);
// Tells on stderr how to repair each unfinished recording in `folder` (other
// than `except`, which is about to be written again).
void noticeUnfinishedRecordings(const std::string& folder, const std::string& except);

} // namespace quillet::cli
