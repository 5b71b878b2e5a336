#pragma once
#include <memory>

#include "engine/OutputType.h"
#include "engine/outputs/MediaOutput.h"

namespace quillet {

// The writer of an output type; null for a type that has no writer yet.
std::unique_ptr<MediaOutput> createMediaOutput(OutputType type);

} // namespace quillet
