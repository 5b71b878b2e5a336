#include "app/cli/SettingsNotices.h"

#include "app/core/Language.h"
#include "engine/session/StatusText.h"

namespace quillet::cli {

std::vector<std::string> settingRepairTexts(const SettingRepairs& repairs, const Language& language)
{
    std::vector<std::string> lines;
    for (const SettingRepair& r : repairs)
        lines.push_back(formatWithTexts(language.lookupMessage("badSetting"),
                                        {"[" + r.section + "] " + r.key, r.stored, r.replacement}));
    return lines;
}

std::string folderProblemText(const OutputFolderChoice& choice, const Language& language)
{
    if (choice.problem == OutputFolderChoice::None)
        return {};
    const std::string why =
        choice.problem == OutputFolderChoice::NotAbsolute ? language.lookupMessage("errPath") : choice.reason;
    return formatWithTexts(language.lookupMessage("badFolder"), {choice.stored, why, choice.folder});
}

} // namespace quillet::cli
