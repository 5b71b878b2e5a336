#include "app/player/media/RecordingReaders.h"

#include <cstring>

namespace quillet::player {

bool isScreenRecording(const std::string&, const uint8_t* head, size_t size)
{
    // The own record file starts with "KR" and its 218-byte record offset; an
    // AVI of the screen codec is a RIFF "AVI " file.
    if (size >= 4 && head[0] == 'K' && head[1] == 'R' && head[2] == 218 && head[3] == 0)
        return true;
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
}

int openScreenRecording(const std::string& path, OpenedMedia&, std::string& error)
{
    error = path + ": AVI and record files of the screen codec cannot be played by this build yet";
    return 0;
}

} // namespace quillet::player
