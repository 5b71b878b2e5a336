#pragma once
#include <string>

#include "engine/session/StartRules.h"

namespace quillet {

// Why a recording's file cannot be created, for the line under the "file
// could not be created" message: the folder is missing, the folder refuses
// writing (with the system's reason), or the system's reason for the file
// itself. Empty when the file can be created after all (the writer failed for
// another reason). The check leaves nothing behind.
std::string fileProblemText(const std::string& fileName, const MessageLookup& lookup);

} // namespace quillet
