#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/player/media/MediaReaders.h"

struct AVCodec;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace quillet::player {

// The numbered images of one image recording: "NAME_000.jpg", "NAME_001.jpg"
// ... (or .png) in one folder. The recorder writes an image only when the
// screen changed, so the files' modification times are the only record of
// when each was taken; copies that lost them play one image a second.
struct ImageSequence {
    static constexpr int64_t kUntimedImageMs = 1000;

    std::string folder; // with a trailing '/'
    std::string baseName;
    std::string extension; // "jpg" or "png", as written
    std::vector<std::string> files;  // in number order
    std::vector<int64_t> startMs;    // per file
    int64_t durationMs = 0;
    bool timed = false;              // the times came from the files
    int otherSequences = 0;          // further sequences in the folder that were not chosen
};

// Finds the sequence a path names: a folder (its most recently written
// sequence), one of the numbered files, or the recording's own name
// ("NAME.jpg" for the files "NAME_000.jpg" ...). Returns 1, or 0 when the path
// names no sequence.
int findImageSequence(const std::string& path, ImageSequence& out);

// Gives every image its time from the modification times (in ns, one per
// file): relative to the first, when they never go backwards and span more
// than zero; else kUntimedImageMs apart. Sets startMs, durationMs and timed.
void timeImageSequence(ImageSequence& seq, const std::vector<int64_t>& modifiedNs);

// Shows the images of a sequence, decoded by libavcodec.
class ImageSequenceReader : public PictureReader {
public:
    explicit ImageSequenceReader(ImageSequence seq);
    ~ImageSequenceReader() override;

    // Decodes the first image for the size. Returns 1, or 0 with error.
    int open(std::string& error);
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const ImageSequence& sequence() const { return seq_; }

    int advance(PictureTiming& timing) override;
    int picture(MediaPicture& out) override;
    int seek(int64_t timeMs) override;
    const ReadStop& stop() const override { return stop_; }
    std::vector<std::string> takeWarnings() override;

private:
    int decodeFile(const std::string& file, MediaPicture* out, std::string& error);

    ImageSequence seq_;
    size_t next_ = 0;
    int64_t current_ = -1;
    int32_t width_ = 0;
    int32_t height_ = 0;
    const AVCodec* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* sws_ = nullptr;
    ReadStop stop_;
    std::vector<std::string> warnings_;
};

} // namespace quillet::player
