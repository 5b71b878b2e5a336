#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillet {

// A file read at chosen offsets, for readers of files from anywhere: every
// read is checked against the file's size, and a large buffer keeps walks in
// file order (seeks within it included) to one system call per buffer.
class InputFile {
public:
    InputFile() = default;
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Returns 1, or 0 with *error saying why ("PATH: cannot be opened").
    int open(const std::string& path, std::string* error);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    // Reads exactly n bytes at pos; 0 when they are not all in the file.
    int readAt(uint64_t pos, void* data, size_t n);
    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }
    // "PATH: WHAT at offset AT", the form every reader reports damage in.
    std::string damageAt(uint64_t at, const std::string& what) const;

private:
    FILE* file_ = nullptr;
    std::vector<char> buffer_;
    std::string path_;
    uint64_t size_ = 0;
};

} // namespace quillet
