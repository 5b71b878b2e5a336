#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/player/media/MediaTypes.h"

namespace quillet::player {

// What became of a reader that ended: a clean end of the file, or the place
// and reason where damage or a cut stopped it.
struct ReadStop {
    bool early = false;   // the file goes on (or claims to) past what could be read
    int64_t atMs = -1;    // media time reached, -1 when unknown
    std::string reason;   // names the file and, where known, the byte offset
};

// The pictures of a recording in presentation order. Not thread-safe; every
// reader works on its own handle of the file.
class PictureReader {
public:
    virtual ~PictureReader() = default;
    // Moves to the picture after the current one and decodes it as far as later
    // pictures need it, without preparing it for showing. Returns 1 with its
    // timing, or 0 at the end (stop() tells why).
    virtual int advance(PictureTiming& timing) = 0;
    // The current picture, ready to show. Returns 0 when there is none.
    virtual int picture(MediaPicture& out) = 0;
    // Continues at the key frame at or before timeMs: the next advance() gives
    // that key frame (the first picture for earlier times). Returns 0 when the
    // file cannot be read there.
    virtual int seek(int64_t timeMs) = 0;
    virtual const ReadStop& stop() const = 0;
    // Problems met on the way that did not end the reading (damaged pictures).
    virtual std::vector<std::string> takeWarnings() = 0;
};

// The sound of a recording as 16-bit interleaved PCM in the format of
// MediaInfo::sound.
class SoundReader {
public:
    virtual ~SoundReader() = default;
    // Appends the next piece of sound to pcm; firstSample is the track
    // position (sample frames from the recording's start) of its first sample.
    // Returns 1, or 0 at the end.
    virtual int read(std::vector<int16_t>& pcm, int64_t& firstSample) = 0;
    // Continues at or before timeMs; read() tells the exact position.
    virtual int seek(int64_t timeMs) = 0;
    virtual const ReadStop& stop() const = 0;
};

struct OpenedMedia {
    MediaInfo info;
    std::unique_ptr<PictureReader> pictures;
    std::unique_ptr<SoundReader> sound; // null without a sound track
    std::vector<std::string> notes;     // what the opening had to say (sound left out, ...)
};

// Opens a recording of any kind the recorder writes: MP4, FLV, WMV, AVI and
// the own record file, or a folder (or one file) of numbered JPEG or PNG
// images. Returns 1, or 0 with error naming the file and the reason.
int openMedia(const std::string& path, OpenedMedia& out, std::string& error);

} // namespace quillet::player
