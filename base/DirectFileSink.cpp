#include "base/DirectFileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quillet {

bool isOutOfSpaceError(int err)
{
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

DirectFileSink::~DirectFileSink()
{
    close();
}

int DirectFileSink::failSystem(int err)
{
    if (errno_ == 0)
        errno_ = err;
    return fail();
}

int DirectFileSink::open(const std::string& path)
{
    close();
    failed_ = false;
    errno_ = 0;
    pos_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return failSystem(errno);
    return 1;
}

int DirectFileSink::openExisting(const std::string& path)
{
    close();
    failed_ = false;
    errno_ = 0;
    pos_ = 0;
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        return failSystem(errno);
    return 1;
}

int DirectFileSink::close()
{
    if (fd_ < 0)
        return failed_ ? 0 : 1;
    if (::close(fd_) != 0)
        failSystem(errno);
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
    if (failed_ || fd_ < 0 || count <= 0 || count > kMaxParts)
        return fail();
    if (!writeAllAt(fd_, parts, count, pos_))
        return failSystem(errno);
    for (int i = 0; i < count; ++i)
        pos_ += parts[i].iov_len;
    return 1;
}

int writeAllAt(int fd, const struct iovec* parts, int count, uint64_t pos)
{
    if (count <= 0 || count > DirectFileSink::kMaxParts) {
        errno = EINVAL;
        return 0;
    }
    struct iovec left[DirectFileSink::kMaxParts];
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        left[i] = parts[i];
        total += parts[i].iov_len;
    }
    int first = 0;
    // The first call normally writes everything; retry what a signal or a
    // short write left over.
    while (total > 0) {
        const ssize_t done = ::pwritev(fd, left + first, count - first, off_t(pos));
        if (done < 0 && errno == EINTR)
            continue;
        if (done == 0)
            errno = ENOSPC;
        if (done <= 0)
            return 0;
        pos += uint64_t(done);
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

int DirectFileSink::readAt(uint64_t pos, void* out, size_t n) const
{
    if (fd_ < 0)
        return 0;
    auto* p = static_cast<char*>(out);
    while (n > 0) {
        const ssize_t got = ::pread(fd_, p, n, off_t(pos));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 0;
        p += got;
        pos += uint64_t(got);
        n -= size_t(got);
    }
    return 1;
}

uint64_t DirectFileSink::sizeOnDisk() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return 0;
    return uint64_t(st.st_size);
}

} // namespace quillet
