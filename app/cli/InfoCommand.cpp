#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "engine/playback/MediaFileInfo.h"
#include "engine/playback/RecordingPlayer.h"

namespace quillet::cli {
namespace {

std::string seconds(uint32_t ms)
{
    char b[32];
    std::snprintf(b, sizeof b, "%u.%03u s", ms / 1000, ms % 1000);
    return b;
}

void printRecording(const RecordingInfo& i)
{
    std::printf("file:      %s (%llu bytes)\n", i.path.c_str(), static_cast<unsigned long long>(i.fileSize));
    std::printf("type:      %s, screen codec QVS2\n", i.kind == RecordingKind::Avi ? "AVI" : "own record file");
    std::printf("picture:   %dx%d at %d frames per second\n", i.width, i.height, i.framesPerSecond);
    std::printf("frames:    %u pictures over %u frame slots, %u key frames\n", i.frames, i.ticks, i.keyFrames);
    std::printf("duration:  %s", seconds(i.durationMs).c_str());
    if (i.declaredDurationMs)
        std::printf(" (the file's head says %s)", seconds(i.declaredDurationMs).c_str());
    std::printf("\n");
    const std::string codec = i.sound.formatTag == 85 ? "MP3" : "format tag " + std::to_string(i.sound.formatTag);
    if (i.sound.present)
        std::printf("sound:     %s, %u Hz, %s, %u bytes/s, %llu bytes (%s)\n", codec.c_str(), i.sound.sampleRate,
                    i.sound.channels == 1 ? "mono" : "stereo", i.sound.avgBytesPerSecond,
                    static_cast<unsigned long long>(i.soundBytes), seconds(i.soundMs).c_str());
    else
        std::printf("sound:     none\n");
    if (i.damaged)
        std::printf("state:     damaged; readable up to the damage: %s\n", i.damage.c_str());
    else if (!i.finished)
        std::printf("state:     not finished (the recorder stopped abruptly); every whole frame is readable\n");
    else
        std::printf("state:     finished\n");
}

} // namespace

int runInfo(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: quillet-cli info FILE\n");
        return argc == 2 ? 0 : 2;
    }
    const std::string path = argv[1];
    RecordingPlayer player;
    if (player.open(path)) {
        printRecording(player.info());
        return 0;
    }
    // Not one of ours: what the common readers see in it.
    MediaFileInfo m;
    std::string error;
    if (!probeMediaFile(path, &m, &error)) {
        std::fprintf(stderr, "quillet-cli info: %s\n", player.error().empty() ? error.c_str() : player.error().c_str());
        return 1;
    }
    std::printf("file:      %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(m.fileSize));
    std::printf("type:      %s\n", m.container.c_str());
    for (const std::string& s : m.streams)
        std::printf("stream:    %s\n", s.c_str());
    if (m.videoFrames)
        std::printf("frames:    %lld\n", static_cast<long long>(m.videoFrames));
    std::printf("duration:  %s\n", seconds(m.durationMs).c_str());
    return 0;
}

} // namespace quillet::cli
