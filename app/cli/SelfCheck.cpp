#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "base/BuiltinTexts.h"
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

    RecordSettings rs;
    rs.load(settings.store(), 1);

    std::printf("program folder:   %s\n", paths.executableFolder.c_str());
    std::printf("settings file:    %s\n", paths.settingsFile.c_str());
    std::printf("output folder:    %s\n", settings.outputFolder().c_str());
    std::printf("language file:    %s\n", lang.filePath().c_str());
    std::printf("quality level:    %d\n", rs.qualityLevel);
    std::printf("frames/second:    %d\n", rs.framesPerSecond);
    std::printf("record sound:     %s\n", rs.recordSound ? "yes" : "no");
    std::printf("hotkeys:          %s %s %s %s (%s)\n", settings.hotKey(0).c_str(), settings.hotKey(1).c_str(),
                settings.hotKey(2).c_str(), settings.hotKey(3).c_str(), settings.hotKeysOn() ? "on" : "off");

    int failures = 0;
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
