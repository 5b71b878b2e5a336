#include "app/player/media/CursorTrack.h"

#include <algorithm>

#include "engine/playback/RecordingSource.h"

namespace quillet::player {

CursorTrack::~CursorTrack()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void CursorTrack::start(const std::string& path)
{
    thread_ = std::thread([this, path] { walk(path); });
}

void CursorTrack::walk(std::string path)
{
    RecordingSource source;
    if (source.open(path)) {
        uint32_t frame = 0;
        std::vector<Record> found;
        for (int item; !stop_ && (item = source.next()) != RecordingSource::End;) {
            if (item != RecordingSource::Frame)
                continue;
            const SourceFrame& f = source.frame();
            if (f.cursor)
                found.push_back({frame, f.cursorX, f.cursorY, !f.cursorPicture.empty(), f.offset, f.tick});
            ++frame;
            // Published in batches, so the player's lookups rarely wait.
            if (frame % 64 == 0 || !found.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                records_.insert(records_.end(), found.begin(), found.end());
                found.clear();
                walked_ = frame;
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        walked_ = frame;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
}

bool CursorTrack::before(uint32_t frame, Record& position, Record& picture, bool& hasPicture) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    hasPicture = false;
    if (!done_ && walked_ < frame)
        return false;
    auto end = std::lower_bound(records_.begin(), records_.end(), frame,
                                [](const Record& r, uint32_t f) { return r.frame < f; });
    if (end == records_.begin())
        return false;
    position = *(end - 1);
    for (auto it = end; it != records_.begin();) {
        --it;
        if (it->picture) {
            picture = *it;
            hasPicture = true;
            break;
        }
    }
    return true;
}

} // namespace quillet::player
