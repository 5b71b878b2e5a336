#pragma once
#include <string>

namespace quillet {

// The running program's version as four decimal numbers joined by "."
// (major.minor.patch.tweak, missing parts 0), e.g. "0.1.0.0". The About window
// shows it and the update check compares and sends it.
std::string programVersionText();

} // namespace quillet
