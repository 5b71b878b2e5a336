#pragma once
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/player/media/MediaReaders.h"
#include "app/player/media/SoundOutput.h"

namespace quillet::player::test {

// Pictures of a scripted recording: `count` pictures `periodMs` apart, a key
// frame every `keyEvery`; each picture's first pixel holds its index.
class ScriptedPictures : public PictureReader {
public:
    ScriptedPictures(int count, int64_t periodMs, int keyEvery) : count_(count), period_(periodMs), keyEvery_(keyEvery)
    {
    }

    int advance(PictureTiming& t) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ >= count_) {
            stop_.atMs = count_ * period_;
            return 0;
        }
        current_ = next_++;
        ++advancesSinceSeek_;
        t.startMs = current_ * period_;
        t.endMs = t.startMs + period_;
        t.index = current_;
        t.key = current_ % keyEvery_ == 0;
        return 1;
    }
    int picture(MediaPicture& out) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (advancesBeforePicture_ < 0)
            advancesBeforePicture_ = advancesSinceSeek_;
        if (damaged_.count(current_))
            return 0;
        out.allocate(4, 2);
        std::fill(out.pixels.begin(), out.pixels.end(), 0);
        out.pixels[0] = uint8_t(current_ & 0xFF);
        out.pixels[1] = uint8_t(current_ >> 8);
        return 1;
    }
    int seek(int64_t ms) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int64_t at = std::clamp<int64_t>(ms / period_, 0, count_ - 1);
        next_ = int(at / keyEvery_ * keyEvery_);
        lastSeekMs_ = ms;
        advancesSinceSeek_ = 0;
        advancesBeforePicture_ = -1;
        stop_ = ReadStop{};
        stop_.early = !cutReason_.empty();
        stop_.reason = cutReason_;
        return 1;
    }
    const ReadStop& stop() const override { return stop_; }
    std::vector<std::string> takeWarnings() override { return {}; }

    // The file ends early here, with this reason.
    void cutAt(int count, const std::string& reason)
    {
        count_ = count;
        cutReason_ = reason;
        stop_.early = true;
        stop_.reason = reason;
    }
    void damage(int index) { damaged_.insert(index); }
    // Pictures decoded after the last seek before one was asked for.
    int advancesBeforePicture() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return advancesBeforePicture_;
    }
    int64_t lastSeekMs() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastSeekMs_;
    }

private:
    mutable std::mutex mutex_;
    int count_;
    int64_t period_;
    int keyEvery_;
    int next_ = 0;
    int current_ = -1;
    int advancesSinceSeek_ = 0;
    int advancesBeforePicture_ = -1;
    int64_t lastSeekMs_ = -1;
    std::set<int> damaged_;
    std::string cutReason_;
    ReadStop stop_;
};

// A mono sound track whose sample at track position p is trackValue(p), read
// in pieces that start on a grid (as coded frames do); pieces can be moved in
// time to make gaps and overlaps.
class ScriptedSound : public SoundReader {
public:
    static int16_t trackValue(int64_t p) { return int16_t(1 + p % 20000); }

    ScriptedSound(int rate, int64_t frames, int piece) : rate_(rate), frames_(frames), piece_(piece) {}

    int read(std::vector<int16_t>& pcm, int64_t& first) override
    {
        if (pos_ >= frames_)
            return 0;
        const int64_t n = std::min<int64_t>(piece_, frames_ - pos_);
        for (int64_t i = 0; i < n; ++i)
            pcm.push_back(trackValue(pos_ + i));
        first = pos_ + shiftAt(pos_);
        pos_ += n;
        return 1;
    }
    int seek(int64_t ms) override
    {
        pos_ = std::min(frames_, ms * rate_ / 1000 / piece_ * piece_);
        return 1;
    }
    const ReadStop& stop() const override { return stop_; }

    // Pieces from track position `from` on are told `by` frames later.
    void shiftFrom(int64_t from, int64_t by) { shifts_.push_back({from, by}); }

private:
    int64_t shiftAt(int64_t p) const
    {
        int64_t s = 0;
        for (const auto& [from, by] : shifts_)
            if (p >= from)
                s += by;
        return s;
    }

    int rate_;
    int64_t frames_;
    int piece_;
    int64_t pos_ = 0;
    std::vector<std::pair<int64_t, int64_t>> shifts_;
    ReadStop stop_;
};

// The silent output's clock, keeping every stream's samples.
class CapturingOutput : public SilentOutput {
public:
    int begin(int rate, int channels) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        streams_.emplace_back();
        return SilentOutput::begin(rate, channels);
    }
    int write(const int16_t* pcm, size_t frames) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            streams_.back().insert(streams_.back().end(), pcm, pcm + frames);
        }
        return SilentOutput::write(pcm, frames);
    }
    std::vector<std::vector<int16_t>> streams() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return streams_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<int16_t>> streams_;
};

} // namespace quillet::player::test
