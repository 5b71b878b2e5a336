#pragma once

namespace quillet::cli {

// Each returns the process exit code. argv[0] is the command's name.
int runSelfCheck(int argc, char** argv);
// Records the screen (and sound) into a file; see RecordOptions.h.
int runRecord(int argc, char** argv);
// Lists the sound sources with the indices --source takes.
int runDevices(int argc, char** argv);

} // namespace quillet::cli
