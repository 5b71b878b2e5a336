#pragma once

namespace quillet::cli {

// Each returns the process exit code.
int runSelfCheck(int argc, char** argv);

} // namespace quillet::cli
