#include "base/InputFile.h"

#include <sys/stat.h>

namespace quillet {

namespace {
constexpr size_t kBufferBytes = 1 << 18;
}

int InputFile::open(const std::string& path, std::string* error)
{
    close();
    path_ = path;
    size_ = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        *error = path + ": cannot be opened";
        return 0;
    }
    buffer_.resize(kBufferBytes);
    setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0) {
        close();
        *error = path + ": cannot be read";
        return 0;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    return 1;
}

void InputFile::close()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

int InputFile::readAt(uint64_t pos, void* data, size_t n)
{
    if (!file_ || pos > size_ || n > size_ - pos)
        return 0;
    if (n == 0)
        return 1;
    if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0)
        return 0;
    return std::fread(data, 1, n, file_) == n;
}

std::string InputFile::damageAt(uint64_t at, const std::string& what) const
{
    return path_ + ": " + what + " at offset " + std::to_string(at);
}

} // namespace quillet
