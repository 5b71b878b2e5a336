#pragma once
#include <cstdint>
#include <string>

#include "engine/session/StartRules.h"

namespace quillet {

// Message key shown when a full disk ended the recording.
constexpr const char* kDiskFullKey = "recDiskFull";

// The message for a recording a full disk ended: that the disk is full and
// the recording ended early, the file that keeps what was recorded, and how
// much that is: whole seconds, or for image output (keptImages >= 0) the
// number of images. Keys "recDiskFull", "recDiskKept", "recDiskImages".
std::string diskFullText(const std::string& fileName, uint32_t keptMs, int keptImages, const MessageLookup& lookup);

} // namespace quillet
