#pragma once
#include <string>

namespace quillet {

// File created and deleted to prove that recordings can be written into a folder.
constexpr const char* kFolderWriteTestFile = "orvikrectest.txt";

// Whether recordings can be written into `folder` (trailing '/' optional): it
// is created when missing, then the write-test file is created and deleted.
// Returns 1, or 0 with *reason set to the system's reason.
int folderIsWritable(const std::string& folder, std::string* reason);

// The output folder a recording can really use, chosen from the stored one.
struct OutputFolderChoice {
    enum Problem {
        None,        // the stored folder is used
        NotAbsolute, // relative, or a Windows path such as "d:\Screen\"
        NotWritable, // the system refused it; `reason` says why
    };
    std::string folder;  // the folder used, with a trailing '/'
    Problem problem = None;
    std::string stored;  // the stored text, when it was refused
    std::string reason;  // the system's reason for NotWritable
};

// Takes the stored folder when it is an absolute path that can be written
// into, else the default folder. Either is created when missing. An empty
// stored value is the default, with no problem to report.
OutputFolderChoice chooseOutputFolder(const std::string& stored, const std::string& defaultFolder);

} // namespace quillet
