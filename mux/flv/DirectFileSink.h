#pragma once
#include <sys/uio.h>

#include <cstdint>
#include <string>

#include "base/OutputSink.h"

namespace quillet {

// An unbuffered file sink: every write is handed to the system at once, and a
// gathered write (writeParts) is one system call, so a record written that way
// is either wholly in the file or cut only if the process dies inside that very
// call. Errors are sticky like every OutputSink's.
class DirectFileSink final : public OutputSink {
public:
    DirectFileSink() = default;
    ~DirectFileSink() override;

    // Creates or truncates the file; 1 on success.
    int open(const std::string& path);
    // Closes; returns 0 if anything failed since open.
    int close();
    bool isOpen() const { return fd_ >= 0; }

    int write(const void* data, size_t n) override;
    int writeParts(const struct iovec* parts, int count);
    int seek(uint64_t pos) override;
    uint64_t tell() const override { return pos_; }
    // Nothing is buffered here; succeeds unless an error happened before.
    int flush() override { return failed_ || fd_ < 0 ? 0 : 1; }
    // Cuts the file to `size` bytes (used to drop a record a failed write left
    // half-written). Works even after an error; returns 1 on success.
    int truncate(uint64_t size);

private:
    int fd_ = -1;
    uint64_t pos_ = 0;
};

} // namespace quillet
