#pragma once

namespace quillet::desktop {

// The program's start, in order: paths and settings folder, the language
// selection, the command line, the running instance, and the main window.
// Returns the process's exit code.
int runDesktopProgram(int argc, char** argv);

} // namespace quillet::desktop
