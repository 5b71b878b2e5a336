#include "app/core/ProgramVersion.h"

#ifndef QUILLET_VERSION_TEXT
#error "QUILLET_VERSION_TEXT is set by the build from the project version"
#endif

namespace quillet {

std::string programVersionText()
{
    return QUILLET_VERSION_TEXT;
}

} // namespace quillet
