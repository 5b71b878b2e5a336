#include "engine/OutputType.h"

namespace quillet {

OutputType outputTypeForFileName(std::string_view fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return OutputOwnRecord;
    std::string ext(fileName.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    static const struct { const char* ext; OutputType type; } kTable[] = {
        {"avi", OutputAvi}, {"flv", OutputFlv}, {"mp4", OutputMp4}, {"swf", OutputSwf},
        {"wmv", OutputWmv}, {"jpg", OutputImages}, {"png", OutputImages},
    };
    for (const auto& e : kTable)
        if (ext == e.ext)
            return e.type;
    return OutputOwnRecord;
}

const char* formatExtension(int formatIndex, int qualityLevel)
{
    static const char* const kExt[kFormatCount] = {"mp4", "flv", "avi", "wmv", "swf", "jpg"};
    if (formatIndex < 0 || formatIndex >= kFormatCount)
        return kExt[0];
    if (formatIndex == 5 && qualityLevel == 4)
        return "png";
    return kExt[formatIndex];
}

std::string replaceExtension(std::string_view fileName, std::string_view extension)
{
    const size_t dot = fileName.rfind('.');
    std::string out(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
    out += '.';
    out += extension;
    return out;
}

} // namespace quillet
