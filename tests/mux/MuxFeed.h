#pragma once
#include <cstdint>
#include <functional>

#include "mux/mp4/Mp4Mux.h"
#include "tests/mux/MuxTestMedia.h"

namespace quillet::muxtest {

// Feeds a writer the way the recording engine does: pictures every 40 ms and
// AAC frames every 32 ms in time order, the clips repeated as often as needed
// (the video clip starts with an IDR picture, so a repeat is clean).
struct MuxFeed {
    MuxFeed(const VideoClip* v, const AudioClip* a, uint32_t frames) : video(v), audio(a), video_frames(frames) {}

    const VideoClip* video = nullptr; // null: sound only
    const AudioClip* audio = nullptr; // null: pictures only
    uint32_t video_frames = 0;        // pictures to write (or, sound only, the span in 40 ms steps)
    // Called after each key frame is written, with its time stamp (ms).
    std::function<void(uint32_t key_ms)> on_key;

    uint32_t video_written = 0;
    uint32_t audio_written = 0;
    uint64_t video_bytes = 0;

    // Returns 1 when every write succeeded; stops at the first refusal.
    int run(CMp4mux& mux)
    {
        uint32_t j = 0;
        for (uint32_t i = 0; i < video_frames; ++i) {
            const uint32_t t = i * 40;
            while (audio && j * 32 <= t) {
                const Bytes& f = audio->raw[j % audio->raw.size()];
                if (!mux.WriteAudio(reinterpret_cast<const char*>(f.data()), int(f.size()), 32))
                    return 0;
                ++j;
                audio_written = j;
            }
            if (!video)
                continue;
            const size_t k = i % video->samples.size();
            const Bytes& s = video->samples[k];
            if (!mux.WriteVideo(reinterpret_cast<const char*>(s.data()), int(s.size()), 40, video->keys[k]))
                return 0;
            video_written = i + 1;
            video_bytes += s.size();
            if (video->keys[k] && on_key)
                on_key(t);
        }
        return 1;
    }
};

} // namespace quillet::muxtest
