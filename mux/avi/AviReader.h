#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/InputFile.h"

namespace quillet {

// One stream of an AVI file as its header list describes it.
struct AviStreamInfo {
    bool present = false;
    uint32_t type = 0;    // "vids", "auds"
    uint32_t handler = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t length = 0;  // in the stream's ticks; 0 in an unfinished file
    uint32_t sampleSize = 0;
    std::vector<uint8_t> format; // the strf chunk: bitmap information or wave format
};

// One media chunk: which stream, where its data lies and how long it is.
struct AviChunk {
    int stream = -1;
    uint64_t offset = 0; // file offset of the data (after the 8-byte header)
    uint32_t size = 0;
    uint64_t headerOffset() const { return offset - 8; }
};

// Reads AVI files by walking their movi lists chunk by chunk, in file order,
// through every RIFF of the file ("AVI " and its "AVIX" continuations). The
// indexes are not needed: a recording whose writer was killed (sizes still
// zero, no index) reads up to its last whole chunk, and a file cut anywhere
// ends at the last chunk that is complete.
//
// Results: 1 success, 0 failure with error() naming the file and the offset.
class AviReader {
public:
    AviReader() = default;
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // Opens the file and reads its header list; the walk starts at the first
    // movi list.
    int open(const std::string& path);
    void close();

    // The next media chunk (stream 0 or 1). Returns 1, or 0 at the end of the
    // chunks: then damaged() tells whether the walk stopped at damage (a cut
    // tail, a chunk past the end) rather than at the file's proper end.
    int next(AviChunk& chunk);
    // Reads a chunk's data. Returns 0 when the file cannot deliver it.
    int read(const AviChunk& chunk, std::vector<uint8_t>& out);
    // Continues the walk at a chunk header found by an earlier walk.
    int seekToChunk(uint64_t headerOffset);

    const AviStreamInfo& stream(int i) const { return streams_[i < 0 || i > 1 ? 0 : i]; }
    uint32_t microSecondsPerFrame() const { return microSecPerFrame_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    uint64_t fileSize() const { return file_.size(); }
    // The writer finished the file: every RIFF and list has its size.
    bool finished() const { return finished_; }
    bool damaged() const { return damaged_; }
    // Where and what: "x.avi: ... at offset N".
    const std::string& error() const { return error_; }
    const std::string& path() const { return file_.path(); }

private:
    int fail(uint64_t at, const std::string& what);
    int readAt(uint64_t pos, void* data, size_t n) { return file_.readAt(pos, data, n); }
    int readHeaderList(uint64_t begin, uint64_t end);
    int enterNextRiff(uint64_t from);
    // End of a list whose size field says `size`: an unfinished size (0) or
    // one past the end of the file reaches to the end of the file.
    uint64_t listEnd(uint64_t dataStart, uint32_t size);

    InputFile file_;
    AviStreamInfo streams_[2];
    uint32_t microSecPerFrame_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;

    // The walk.
    uint64_t pos_ = 0;
    uint64_t moviEnd_ = 0;
    uint64_t riffEnd_ = 0;
    std::vector<uint64_t> recEnds_; // "rec " lists being walked
    bool finished_ = true;
    bool damaged_ = false;
    bool ended_ = false;
    std::string error_;
};

} // namespace quillet
