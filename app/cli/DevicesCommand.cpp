#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "audio/input/AudioPlatform.h"
#include "audio/input/AudioSourceList.h"

namespace quillet::cli {

int runDevices(int, char**)
{
    const AppPaths paths = AppPaths::detect();
    Language language(paths.languageFolder, paths.languageSelectionFile);
    language.load();

    AudioSystemInfo info;
    std::string error;
    const int reached = queryAudioSystem(info, error);
    AudioSourceList list;
    list.build(info);
    std::printf("sound sources (use the index with quillet-cli record --source N):\n");
    int index = 0;
    for (const AudioSourceEntry& e : list.entries()) {
        std::string label = e.labelKey ? language.lookupMessage(e.labelKey, e.label.c_str()) : e.label;
        const size_t first = label.find_first_not_of(' ');
        label = first == std::string::npos ? std::string() : label.substr(first);
        if (e.kind == AudioSourceKind::Device)
            std::printf("  %2d  %s (%s)\n", index, label.c_str(), e.device.c_str());
        else if (e.kind == AudioSourceKind::ComputerSound)
            std::printf("  %2d  %s (%s)\n", index, label.c_str(), info.defaultSinkMonitor.c_str());
        else
            std::printf("  %2d  %s%s%s\n", index, label.c_str(), info.defaultSource.empty() ? "" : " -> ",
                        info.defaultSource.c_str());
        ++index;
    }
    if (!reached) {
        std::fprintf(stderr, "quillet-cli devices: the sound server cannot be reached: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace quillet::cli
