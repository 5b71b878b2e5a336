#pragma once
#include <string>

#include "app/player/media/AvInput.h"
#include "app/player/media/MediaReaders.h"

struct SwrContext;

namespace quillet::player {

// The sound of a file libavformat reads, decoded and converted to 16-bit
// interleaved PCM at the track's own rate (more than two channels are mixed
// down to two).
class AvSoundReader : public SoundReader {
public:
    AvSoundReader();
    ~AvSoundReader() override;

    // Returns 1, or 0 with error (empty when the file has no sound).
    int open(const std::string& path, std::string& error);
    SoundFormat format() const { return format_; }
    std::string codecName() const;

    int read(std::vector<int16_t>& pcm, int64_t& firstSample) override;
    int seek(int64_t timeMs) override;
    const ReadStop& stop() const override { return stop_; }

private:
    AvInput in_;
    AVFrame* frame_ = nullptr;
    SwrContext* swr_ = nullptr;
    int swrInFormat_ = -1;
    int swrInChannels_ = 0;
    int swrInRate_ = 0;
    SoundFormat format_;
    int64_t nextSample_ = 0; // where a piece without a time goes
    ReadStop stop_;
};

} // namespace quillet::player
