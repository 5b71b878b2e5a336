#pragma once
#include <string>
#include <vector>

#include "app/player/media/AvInput.h"
#include "app/player/media/MediaReaders.h"

struct SwsContext;

namespace quillet::player {

// The pictures of a file libavformat reads (MP4, FLV, WMV, ...), decoded by
// libavcodec and converted to the player's picture layout. Keeps one picture
// decoded ahead, so that every picture knows when the next one starts.
class AvPictureReader : public PictureReader {
public:
    AvPictureReader();
    ~AvPictureReader() override;

    // Returns 1, or 0 with error (empty when the file has no pictures).
    int open(const std::string& path, std::string& error);
    AvInput& input() { return in_; }

    int advance(PictureTiming& timing) override;
    int picture(MediaPicture& out) override;
    int seek(int64_t timeMs) override;
    const ReadStop& stop() const override { return stop_; }
    std::vector<std::string> takeWarnings() override;

private:
    int fetchAhead();
    int64_t frameStartMs(const AVFrame* f) const;
    void noteEnd();

    AvInput in_;
    AVFrame* current_ = nullptr;
    AVFrame* ahead_ = nullptr;
    bool haveCurrent_ = false;
    bool haveAhead_ = false;
    int64_t currentStart_ = 0;
    int64_t aheadStart_ = 0;
    int64_t index_ = 0;
    int64_t frameMs_ = 40; // a picture's nominal length, for the last one
    SwsContext* sws_ = nullptr;
    ReadStop stop_;
    int reportedBad_ = 0;
    std::string path_;
};

} // namespace quillet::player
