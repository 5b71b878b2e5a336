#pragma once
#include <sys/uio.h>

#include <cstdint>
#include <string>

#include "base/OutputSink.h"

namespace quillet {

// An unbuffered file sink: every write is handed to the system at once, and a
// gathered write (writeParts) is one system call, so a record written that way
// is either wholly in the file or cut only if the process dies inside that very
// call. Nothing is lost when the process is killed after a write returned.
// Errors are sticky like every OutputSink's; systemError() keeps the errno of
// the failed call, so that a full disk can be told from other failures.
class DirectFileSink final : public OutputSink {
public:
    DirectFileSink() = default;
    ~DirectFileSink() override;

    // Creates or truncates the file; 1 on success.
    int open(const std::string& path);
    // Opens an existing file for reading and writing without truncating it.
    int openExisting(const std::string& path);
    // Closes; returns 0 if anything failed since open.
    int close();
    bool isOpen() const { return fd_ >= 0; }

    int write(const void* data, size_t n) override;
    // Up to kMaxParts pieces as one write.
    static constexpr int kMaxParts = 8;
    int writeParts(const struct iovec* parts, int count);
    int seek(uint64_t pos) override;
    uint64_t tell() const override { return pos_; }
    // Nothing is buffered here; succeeds unless an error happened before.
    int flush() override { return failed_ || fd_ < 0 ? 0 : 1; }
    // Cuts the file to `size` bytes (used to drop a record a failed write left
    // half-written). Works even after an error; returns 1 on success.
    int truncate(uint64_t size);
    // Reads n bytes at pos without moving the write position; 1 when all came.
    int readAt(uint64_t pos, void* out, size_t n) const;
    // The file's current size on disk, or 0 when it cannot be asked.
    uint64_t sizeOnDisk() const;

    // errno of the system call that failed first (0: none, or not a system
    // call's failure).
    int systemError() const { return errno_; }
    // Forgets an earlier failure, for one more try once room has been made.
    void clearError()
    {
        failed_ = false;
        errno_ = 0;
    }

private:
    int failSystem(int err);

    int fd_ = -1;
    uint64_t pos_ = 0;
    int errno_ = 0;
};

// Writes all of the pieces at pos (gathered, retrying what a signal or a short
// write left). 1 on success; 0 with errno set otherwise.
int writeAllAt(int fd, const struct iovec* parts, int count, uint64_t pos);

// A write error that more room on the disk would cure: the file system is
// full, the quota is used up, or the file reached the size the process may write.
bool isOutOfSpaceError(int err);

} // namespace quillet
