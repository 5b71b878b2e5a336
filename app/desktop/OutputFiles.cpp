#include "app/desktop/OutputFiles.h"

#include <cstdio>
#include <unistd.h>

#include "engine/OutputType.h"
#include "engine/session/StartRules.h"

namespace quillet::desktop {

std::string extensionForFormat(int formatIndex, int qualityLevel)
{
    return formatExtension(formatIndex, qualityLevel);
}

std::string correctExtension(const std::string& boxText, int formatIndex, int qualityLevel)
{
    return replaceExtension(boxText, extensionForFormat(formatIndex, qualityLevel));
}

std::string generatedFileName(const std::string& folder, const std::tm& localTime, int formatIndex, int qualityLevel)
{
    // The stamp is made with a placeholder extension and then corrected, the
    // same road every other name takes to the box.
    return correctExtension(defaultOutputName(folder, localTime, "avi"), formatIndex, qualityLevel);
}

std::string folderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return path.substr(0, slash + 1);
}

int folderWriteTest(const std::string& folder)
{
    const std::string probe = folder + kWriteTestFile;
    std::FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f)
        return 0;
    std::fclose(f);
    ::unlink(probe.c_str());
    return 1;
}

std::string extensionOfPath(const std::string& path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

int formatIndexForExtension(const std::string& ext)
{
    std::string lower = ext;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (int i = 0; i < kFormatCount; ++i)
        if (lower == formatExtension(i, 0))
            return i;
    return -1;
}

} // namespace quillet::desktop
