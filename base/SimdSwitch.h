#pragma once
// QUILLET_FORCE_SCALAR set to anything but "" or "0" makes every run-time
// kernel choice take the plain C++ path, so paths can be compared and a
// suspected vector kernel ruled out in the field.
#include <cstdlib>
#include <cstring>

namespace quillet {

inline bool scalarKernelsForced()
{
    const char* v = std::getenv("QUILLET_FORCE_SCALAR");
    return v != nullptr && v[0] != '\0' && std::strcmp(v, "0") != 0;
}

} // namespace quillet
