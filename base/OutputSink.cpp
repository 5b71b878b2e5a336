#include "base/OutputSink.h"

#include <cstring>

namespace quillet {

FileSink::~FileSink()
{
    close();
}

int FileSink::open(const std::string& path)
{
    close();
    failed_ = false;
    pos_ = 0;
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_)
        return fail();
    return 1;
}

int FileSink::openExisting(const std::string& path)
{
    close();
    failed_ = false;
    pos_ = 0;
    path_ = path;
    file_ = std::fopen(path.c_str(), "r+b");
    if (!file_)
        return fail();
    return 1;
}

int FileSink::close()
{
    if (!file_)
        return failed_ ? 0 : 1;
    if (std::fflush(file_) != 0)
        failed_ = true;
    if (std::fclose(file_) != 0)
        failed_ = true;
    file_ = nullptr;
    return failed_ ? 0 : 1;
}

int FileSink::write(const void* data, size_t n)
{
    if (failed_ || !file_)
        return fail();
    if (n && std::fwrite(data, 1, n, file_) != n)
        return fail();
    pos_ += n;
    return 1;
}

int FileSink::seek(uint64_t pos)
{
    if (failed_ || !file_)
        return fail();
    if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0)
        return fail();
    pos_ = pos;
    return 1;
}

uint64_t FileSink::tell() const
{
    return pos_;
}

int FileSink::flush()
{
    if (failed_ || !file_)
        return fail();
    if (std::fflush(file_) != 0)
        return fail();
    return 1;
}

int MemorySink::write(const void* data, size_t n)
{
    if (failed_ || pos_ + n > limit_)
        return fail();
    if (pos_ + n > data_.size())
        data_.resize(pos_ + n);
    if (n)
        std::memcpy(data_.data() + pos_, data, n);
    pos_ += n;
    return 1;
}

int MemorySink::seek(uint64_t pos)
{
    if (failed_ || pos > data_.size())
        return fail();
    pos_ = pos;
    return 1;
}

} // namespace quillet
