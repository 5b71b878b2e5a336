#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::player {

// Where the cursor records of an AVI or own record file are. The recorder
// writes the cursor only when it moves or changes shape, so a picture decoded
// after a seek does not know where the cursor is, nor what it looks like; a
// walk over the whole file, on a thread of its own, finds the records before
// every frame.
class CursorTrack {
public:
    struct Record {
        uint32_t frame = 0;  // index of the frame that carries it
        int32_t x = 0;
        int32_t y = 0;
        bool picture = false; // a new cursor picture came with it
        uint64_t offset = 0;  // of the frame, for reading the picture
        uint32_t tick = 0;
    };

    CursorTrack() = default;
    ~CursorTrack();
    CursorTrack(const CursorTrack&) = delete;
    CursorTrack& operator=(const CursorTrack&) = delete;

    void start(const std::string& path);
    // The last record before frame `frame` (position) and the last of those
    // with a picture. Returns false while the walk has not passed the frame,
    // or when no record comes before it; hasPicture tells whether picture is set.
    bool before(uint32_t frame, Record& position, Record& picture, bool& hasPicture) const;

private:
    void walk(std::string path);

    mutable std::mutex mutex_;
    std::vector<Record> records_;
    uint32_t walked_ = 0; // frames passed so far
    bool done_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace quillet::player
