#include "app/core/OutputFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace quillet {
namespace {

std::string withSlash(std::string p)
{
    if (p.empty() || p.back() != '/')
        p += '/';
    return p;
}

} // namespace

int folderIsWritable(const std::string& folder, std::string* reason)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder)) {
        if (reason)
            *reason = ec ? ec.message() : std::string(std::strerror(ENOTDIR));
        return 0;
    }
    const std::string probe = withSlash(folder) + kFolderWriteTestFile;
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (reason)
            *reason = std::strerror(errno);
        return 0;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return 1;
}

OutputFolderChoice chooseOutputFolder(const std::string& stored, const std::string& defaultFolder)
{
    OutputFolderChoice c;
    c.folder = withSlash(defaultFolder);
    // The default is where recordings go whenever the stored folder is not
    // used; it must exist then (a failure shows when the file is created).
    std::error_code ec;
    std::filesystem::create_directories(c.folder, ec);
    if (stored.empty())
        return c;
    // A path that does not start at the root would land wherever the program
    // happens to be started, and "d:\Screen\" (the stored default of another
    // system) would become a folder named so in there.
    if (stored.front() != '/') {
        c.problem = OutputFolderChoice::NotAbsolute;
        c.stored = stored;
        return c;
    }
    std::string reason;
    if (!folderIsWritable(stored, &reason)) {
        c.problem = OutputFolderChoice::NotWritable;
        c.stored = stored;
        c.reason = reason;
        return c;
    }
    c.folder = withSlash(stored);
    return c;
}

} // namespace quillet
