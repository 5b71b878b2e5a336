#include "engine/session/FileProblem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/session/StatusText.h"

namespace quillet {

std::string fileProblemText(const std::string& fileName, const MessageLookup& lookup)
{
    const size_t slash = fileName.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : fileName.substr(0, slash + 1);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return formatWithTexts(lookup("errNoFolder"), {folder});
        return formatWithTexts(lookup("errCreate"), {fileName, std::strerror(errno)});
    }
    if (!S_ISDIR(st.st_mode))
        return formatWithTexts(lookup("errCreate"), {fileName, std::strerror(ENOTDIR)});
    if (::access(folder.c_str(), W_OK) != 0)
        return formatWithTexts(lookup("errDenied"), {folder, std::strerror(errno)});
    const bool existed = ::access(fileName.c_str(), F_OK) == 0;
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return formatWithTexts(lookup("errCreate"), {fileName, std::strerror(errno)});
    ::close(fd);
    if (!existed)
        ::unlink(fileName.c_str());
    return {};
}

} // namespace quillet
