#include "mux/flv/DirectFileSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quillet {

DirectFileSink::~DirectFileSink()
{
    close();
}

int DirectFileSink::open(const std::string& path)
{
    close();
    failed_ = false;
    pos_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return fail();
    return 1;
}

int DirectFileSink::close()
{
    if (fd_ < 0)
        return failed_ ? 0 : 1;
    if (::close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
    return failed_ ? 0 : 1;
}

int DirectFileSink::write(const void* data, size_t n)
{
    struct iovec part = {const_cast<void*>(data), n};
    return writeParts(&part, 1);
}

int DirectFileSink::writeParts(const struct iovec* parts, int count)
{
    if (failed_ || fd_ < 0 || count <= 0 || count > 8)
        return fail();
    struct iovec left[8];
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        left[i] = parts[i];
        total += parts[i].iov_len;
    }
    int first = 0;
    // The first call normally writes everything; retry what a signal or a
    // short write left over.
    while (total > 0) {
        const ssize_t done = ::pwritev(fd_, left + first, count - first, off_t(pos_));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return fail();
        }
        if (done == 0)
            return fail();
        pos_ += uint64_t(done);
        total -= size_t(done);
        size_t skip = size_t(done);
        while (first < count && skip >= left[first].iov_len) {
            skip -= left[first].iov_len;
            ++first;
        }
        if (first < count) {
            left[first].iov_base = static_cast<char*>(left[first].iov_base) + skip;
            left[first].iov_len -= skip;
        }
    }
    return 1;
}

int DirectFileSink::seek(uint64_t pos)
{
    if (failed_ || fd_ < 0 || pos > uint64_t(LLONG_MAX))
        return fail();
    pos_ = pos;
    return 1;
}

int DirectFileSink::truncate(uint64_t size)
{
    if (fd_ < 0)
        return 0;
    return ::ftruncate(fd_, off_t(size)) == 0 ? 1 : 0;
}

} // namespace quillet
