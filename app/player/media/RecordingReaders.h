#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/player/media/MediaReaders.h"

namespace quillet::player {

// AVI files of the screen codec ("QVS2") and the program's own record files,
// which only the recorder's own reader can play.
bool isScreenRecording(const std::string& path, const uint8_t* head, size_t size);
int openScreenRecording(const std::string& path, OpenedMedia& out, std::string& error);

} // namespace quillet::player
