#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/SettingsNotices.h"
#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "base/BuiltinTexts.h"
#include "audio/input/AudioPlatform.h"
#include "audio/input/AudioSourceList.h"
#include "base/ProfileStore.h"
#include "engine/RecordSettings.h"

namespace quillet::cli {
namespace {

// Counts message keys the language file lacks (they fall back to built-in texts).
int missingMessageKeys(const std::string& languageFile)
{
    ProfileStore file(languageFile);
    int count = 0, missing = 0;
    const char* const* keys = messageKeys(&count);
    for (int i = 0; i < count; ++i)
        if (!file.find("MSG", keys[i], nullptr))
            ++missing;
    return missing;
}

} // namespace

int runSelfCheck(int, char**)
{
    const AppPaths paths = AppPaths::detect();
    paths.createSettingsFolder();
    SettingsFile settings(paths.settingsFile, paths.defaultOutputFolder);
    Language lang(paths.languageFolder, paths.languageSelectionFile);
    lang.load();

    // The source index is judged against the sources there really are; with
    // no sound server reachable it is not judged at all.
    AudioSystemInfo info;
    std::string soundError;
    AudioSourceList sources;
    const bool soundReached = queryAudioSystem(info, soundError) != 0;
    sources.build(info);
    RecordSettings rs;
    SettingRepairs repairs;
    rs.load(settings.store(), soundReached ? sources.sourceCount() : 1 << 20, &repairs);
    const OutputFolderChoice folder = settings.usableOutputFolder();

    std::printf("program folder:   %s\n", paths.executableFolder.c_str());
    std::printf("settings file:    %s\n", paths.settingsFile.c_str());
    std::printf("output folder:    %s\n", folder.folder.c_str());
    std::printf("language file:    %s\n", lang.filePath().c_str());
    std::printf("quality level:    %d\n", rs.qualityLevel);
    std::printf("frames/second:    %d\n", rs.framesPerSecond);
    std::printf("record sound:     %s\n", rs.recordSound ? "yes" : "no");
    std::printf("hotkeys:          %s %s %s %s (%s)\n", settings.hotKey(0).c_str(), settings.hotKey(1).c_str(),
                settings.hotKey(2).c_str(), settings.hotKey(3).c_str(), settings.hotKeysOn() ? "on" : "off");

    // Damaged settings do not fail the check: the program runs with what
    // replaced them. Each is named with its replacement.
    for (const std::string& line : settingRepairTexts(repairs, lang))
        std::printf("damaged setting:  %s\n", line.c_str());
    if (folder.problem != OutputFolderChoice::None)
        std::printf("damaged setting:  %s\n", folderProblemText(folder, lang).c_str());
    if (repairs.empty() && folder.problem == OutputFolderChoice::None)
        std::printf("settings:         all stored values usable\n");

    int failures = 0;
    // The language sel.ini names must exist, or every text falls back to the
    // built-in Chinese ones.
    ProfileStore selected(lang.filePath());
    if (!selected.find("Quillet", "Title", nullptr)) {
        std::printf("selected language MISSING or unreadable: %s (named in %s)\n", lang.filePath().c_str(),
                    paths.languageSelectionFile.c_str());
        ++failures;
    }
    for (const char* name : {Language::kDefaultFile, Language::kChineseFile}) {
        const std::string file = paths.languageFolder + name;
        ProfileStore probe(file);
        if (!probe.find("Quillet", "Title", nullptr)) {
            std::printf("language %-12s MISSING or unreadable: %s\n", name, file.c_str());
            ++failures;
            continue;
        }
        const int missing = missingMessageKeys(file);
        std::printf("language %-12s %s (%d message keys missing)\n", name, missing ? "INCOMPLETE" : "complete",
                    missing);
        if (missing)
            ++failures;
    }
    std::printf("caption:          %s\n", lang.messageCaption().c_str());
    std::printf("selfcheck %s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}

} // namespace quillet::cli
