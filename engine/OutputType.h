#pragma once
#include <string>
#include <string_view>

namespace quillet {

// Output types, chosen from the output file's extension. The values are stored
// by the session and switched on by the engine; keep them as they are.
enum OutputType : int {
    OutputOwnRecord = 0, // any other extension: the program's own record file
    OutputAvi = 1,
    OutputFlv = 2,
    OutputSwf = 3,
    OutputWmv = 4,
    OutputImages = 5, // "jpg" or "png": numbered still images
    OutputMp4 = 6,
};

// The type a file name selects: the text after the last '.', lower-cased,
// compared with avi, flv, mp4, swf, wmv, jpg, png. A name without a '.', or
// whose only '.' is its first character, selects OutputOwnRecord.
OutputType outputTypeForFileName(std::string_view fileName);

// The main window's format list: index 0 mp4, 1 flv, 2 avi, 3 wmv, 4 swf,
// 5 jpg ("png" at quality level 4). Out-of-range indices give "mp4".
constexpr int kFormatCount = 6;
const char* formatExtension(int formatIndex, int qualityLevel);

// Keeps the name up to and including its last '.' and appends the extension;
// a name without a '.' gets one.
std::string replaceExtension(std::string_view fileName, std::string_view extension);

} // namespace quillet
