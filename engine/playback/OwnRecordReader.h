#pragma once
#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

#include "base/InputFile.h"

#include "engine/ScreenFrame.h"

namespace quillet {

// What the head of an own record file says.
struct OwnRecordHead {
    int framesPerSecond = 0;
    bool sound = false;
    uint32_t durationMs = 0; // 0 in a recording that was never finished
    uint16_t formatEnd = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t compression = 0;
    std::vector<uint8_t> audioFormat; // the 30-byte MP3 wave format record, with sound
    std::vector<uint32_t> keyFrameOffsets; // index entries 1, 2, ... that are set
};

// One record: its type, the byte after it (frame ticks for regions) and its
// body (everything after the 4-byte record header).
struct OwnRecord {
    uint8_t type = 0;
    uint8_t flag = 0;
    uint64_t offset = 0; // of the record header
    size_t length = 0;   // of the body in the file
    std::vector<uint8_t> body; // the body, or its first bytes (setBodyLimit)
};

// Reads the program's own record file: the head, then the records one by one
// in file order. Records are self-delimiting, so a file cut anywhere reads to
// its last whole record; a record of unknown type or with a length past the
// end stops the walk with error() naming the file and the offset.
class OwnRecordReader {
public:
    OwnRecordReader() = default;
    OwnRecordReader(const OwnRecordReader&) = delete;
    OwnRecordReader& operator=(const OwnRecordReader&) = delete;

    // Opens the file and reads its head. Returns 1, or 0 with error().
    int open(const std::string& path);
    void close();
    // The next record. Returns 1, or 0 at the end (damaged() tells whether a
    // damaged or cut record ended it).
    int next(OwnRecord& record);
    // Reads at most this many bytes of each record's body (the rest is
    // stepped over): for walks that need only the record headers.
    void setBodyLimit(size_t bytes) { bodyLimit_ = bytes; }
    // Continues at a record header found earlier.
    int seek(uint64_t offset);
    uint64_t position() const { return pos_; }

    const OwnRecordHead& head() const { return head_; }
    uint64_t fileSize() const { return file_.size(); }
    bool damaged() const { return damaged_; }
    const std::string& error() const { return error_; }

    static bool looksLikeOwnRecord(const uint8_t* first, size_t n);

private:
    int fail(uint64_t at, const std::string& what);
    int readAt(uint64_t pos, void* data, size_t n) { return file_.readAt(pos, data, n); }

    InputFile file_;
    uint64_t pos_ = 0;
    uint64_t firstRecord_ = 0;
    OwnRecordHead head_;
    bool damaged_ = false;
    size_t bodyLimit_ = SIZE_MAX;
    std::string error_;
};

} // namespace quillet
