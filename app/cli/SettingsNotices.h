#pragma once
#include <string>
#include <vector>

#include "app/core/OutputFolder.h"
#include "engine/RecordSettings.h"

namespace quillet {
class Language;
}

namespace quillet::cli {

// One line per stored setting that was replaced, in the active language.
std::vector<std::string> settingRepairTexts(const SettingRepairs& repairs, const Language& language);
// The line telling that the stored output folder is not used, and why; empty
// when it is used.
std::string folderProblemText(const OutputFolderChoice& choice, const Language& language);

} // namespace quillet::cli
