#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "engine/recovery/UnfinishedRecordings.h"

namespace quillet::cli {
namespace {

const char* repairUsage()
{
    return "usage: quillet-cli repair FILE...\n"
           "       quillet-cli repair --folder DIR\n"
           "Finishes recordings that were cut short (the program was killed or the machine went down while it\n"
           "recorded), from the journal left beside each (FILE.journal): an MP4 gets an index up to its last\n"
           "whole picture and sound frame, an FLV the duration its pictures reach. --folder repairs every such\n"
           "recording in DIR.\n";
}

std::string seconds(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u.%01u s", ms / 1000, ms % 1000 / 100);
    return text;
}

int repairOne(const std::string& file)
{
    const bool tty = isatty(STDOUT_FILENO) != 0;
    int shown = -1;
    // Checking the media of a long recording takes a while: a percentage on a
    // terminal, nothing in a log.
    const RepairProgress progress = [&](uint64_t done, uint64_t total) {
        const int percent = total ? int(done * 100 / total) : 100;
        if (!tty || percent == shown)
            return;
        shown = percent;
        std::printf("\r%s: checking %d%%", file.c_str(), percent);
        std::fflush(stdout);
    };
    RecordingRepairReport r;
    const int ok = repairRecording(file, &r, progress);
    if (shown >= 0)
        std::printf("\r");
    if (!ok) {
        std::fprintf(stderr, "quillet-cli repair: %s: %s\n", file.c_str(), r.error.c_str());
        return 0;
    }
    std::printf("%s: repaired, %s, %u pictures, %u sound frames", file.c_str(), seconds(r.durationMs).c_str(),
                r.videoSamples, r.audioSamples);
    if (r.droppedSamples)
        std::printf(" (%u cut at the end)", r.droppedSamples);
    std::printf("\n");
    return 1;
}

} // namespace

int runRepair(int argc, char** argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(repairUsage(), stdout);
            return 0;
        }
        if (std::strcmp(a, "--folder") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillet-cli repair: --folder needs a folder\n%s", repairUsage());
                return 2;
            }
            const std::string folder = argv[++i];
            const std::vector<std::string> found = findUnfinishedRecordings(folder);
            if (found.empty())
                std::printf("%s: no unfinished recordings\n", folder.c_str());
            files.insert(files.end(), found.begin(), found.end());
            continue;
        }
        if (a[0] == '-') {
            std::fprintf(stderr, "quillet-cli repair: unknown option \"%s\"\n%s", a, repairUsage());
            return 2;
        }
        files.push_back(a);
    }
    if (argc < 2) {
        std::fputs(repairUsage(), stderr);
        return 2;
    }
    int failed = 0;
    for (const std::string& f : files)
        failed += repairOne(f) ? 0 : 1;
    return failed ? 1 : 0;
}

void noticeUnfinishedRecordings(const std::string& folder, const std::string& except)
{
    for (const std::string& f : findUnfinishedRecordings(folder)) {
        if (f == except)
            continue;
        std::fprintf(stderr,
                     "quillet-cli record: an earlier recording was cut short and can be repaired:\n"
                     "  quillet-cli repair '%s'\n",
                     f.c_str());
    }
}

} // namespace quillet::cli
