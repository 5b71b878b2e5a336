#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

// What libavformat sees in a media file that is not one of the screen-codec
// recordings (MP4, FLV, ...).
struct MediaFileInfo {
    std::string container;
    uint64_t fileSize = 0;
    uint32_t durationMs = 0;
    int64_t videoFrames = 0; // 0 when the container does not say
    std::vector<std::string> streams; // "video h264 1280x720", "audio aac 32000 Hz 2 ch"
};

// Returns 1, or 0 with an error naming the file.
int probeMediaFile(const std::string& path, MediaFileInfo* out, std::string* error);

} // namespace quillet
