#pragma once
#include <ctime>
#include <string>

namespace quillet::desktop {

// Rules of the file box: the path of the next recording, whose extension
// follows the format list and the quality level.

// The extension of a format index at a quality level: mp4, flv, avi, wmv,
// swf, jpg ("png" at level 4).
std::string extensionForFormat(int formatIndex, int qualityLevel);

// Cuts the text after its last '.' and appends the format's extension. A
// text without any '.' gets one.
std::string correctExtension(const std::string& boxText, int formatIndex, int qualityLevel);

// folder + local time as "%m-%d-%H_%M_%S", with the format's extension.
std::string generatedFileName(const std::string& folder, const std::tm& localTime, int formatIndex,
                              int qualityLevel);

// The text up to and including its last '/', when that is not the first
// character; empty otherwise.
std::string folderOfPath(const std::string& path);

// Creates folder + "orvikrectest.txt" for writing, then removes it. 1 when a
// file could be created there.
int folderWriteTest(const std::string& folder);
inline constexpr const char* kWriteTestFile = "orvikrectest.txt";

// The first format index whose extension (jpg for images) equals ext, compared
// without case; -1 when none does (png, mp3, ...).
int formatIndexForExtension(const std::string& ext);
// The text after the last '.' of a path, when that '.' is not its first
// character; empty otherwise.
std::string extensionOfPath(const std::string& path);

} // namespace quillet::desktop
