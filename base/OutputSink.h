#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillet {

// A seekable byte sink for container writers. Errors are sticky: once a write,
// seek or flush fails, every later call fails too and error() stays set, so a
// writer may check once per packet and once at the end. Positions are 64-bit.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    OutputSink() = default;
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    // Each returns 1 on success, 0 on failure.
    virtual int write(const void* data, size_t n) = 0;
    virtual int seek(uint64_t pos) = 0;
    virtual uint64_t tell() const = 0;
    // Hands buffered bytes to the operating system so that they survive the
    // process being killed (not a power loss).
    virtual int flush() = 0;

    bool error() const { return failed_; }

protected:
    int fail() { failed_ = true; return 0; }
    bool failed_ = false;
};

// A file opened for writing (created or truncated).
class FileSink final : public OutputSink {
public:
    FileSink() = default;
    ~FileSink() override;

    // Returns 1 when the file could be created.
    int open(const std::string& path);
    // Opens an existing file for update without truncating it.
    int openExisting(const std::string& path);
    // Flushes and closes; returns 0 if anything failed since open.
    int close();
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    int write(const void* data, size_t n) override;
    int seek(uint64_t pos) override;
    uint64_t tell() const override;
    int flush() override;

private:
    FILE* file_ = nullptr;
    std::string path_;
    uint64_t pos_ = 0;
};

// Grows in memory; for tests and for building boxes before they go to a file.
// setLimit() makes writes past a size fail, to exercise full-disk handling.
class MemorySink final : public OutputSink {
public:
    int write(const void* data, size_t n) override;
    int seek(uint64_t pos) override;
    uint64_t tell() const override { return pos_; }
    int flush() override { return failed_ ? 0 : 1; }

    void setLimit(uint64_t maxBytes) { limit_ = maxBytes; }
    const std::vector<uint8_t>& bytes() const { return data_; }

private:
    std::vector<uint8_t> data_;
    uint64_t pos_ = 0;
    uint64_t limit_ = UINT64_MAX;
};

} // namespace quillet
