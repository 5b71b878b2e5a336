#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/playback/CursorPainter.h"
#include "engine/playback/Mp3Decoder.h"
#include "engine/playback/RecordingSource.h"
#include "video/screen/ScreenDecoder.h"

namespace quillet {

// What a recording holds, from one walk over the whole file.
struct RecordingInfo {
    RecordingKind kind = RecordingKind::Avi;
    std::string path;
    uint64_t fileSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    int framesPerSecond = 0;
    uint32_t frames = 0;      // coded pictures
    uint32_t keyFrames = 0;
    uint32_t ticks = 0;       // frame slots, repeated ones included
    uint32_t durationMs = 0;  // ticks * 1000 / fps
    // The length the file's head declares (0 when the writer never finished).
    uint32_t declaredDurationMs = 0;
    SoundTrackFormat sound;
    uint64_t soundBytes = 0;  // compressed
    uint32_t soundMs = 0;     // soundBytes at the format's byte rate
    bool finished = false;    // the writer finished the file
    bool damaged = false;     // the walk stopped at damage before the end
    std::string damage;       // where and what
};

// One decoded picture.
struct PlayerFrame {
    const ScreenPicture* picture = nullptr; // the cursor drawn in; valid until the next call
    uint32_t index = 0;   // in the recording's frame order
    uint32_t tick = 0;
    uint32_t timeMs = 0;  // when it shows
    uint32_t endMs = 0;   // when the next one does (the recording's end for the last)
    bool key = false;
    bool decoded = false; // false: the picture is the previous one (damage since the last key frame)
};

// Plays an AVI ("QVS2") or own record file: pictures with their times, the
// cursor drawn from its own track, and the sound decoded to PCM. Opening
// walks the file once for an index, so seeking goes to the key frame at or
// before any time.
//
// Damage never stops playback: a frame that does not decode keeps the
// previous picture until the next key frame, and each problem is noted in
// warnings() with the file and the offset. A cut file plays to its last whole
// frame.
//
// Qt-free; not thread-safe.
class RecordingPlayer {
public:
    // The MP3 streams the recorder writes carry no tag that tells decoders to
    // drop the coder's lead-in: 576 samples of the encoder and 529 of the
    // decoder, which the player drops so that sound and pictures line up.
    static constexpr uint32_t kMp3LeadInSamples = 1105;

    struct IndexEntry {
        uint64_t offset;
        uint32_t tick;
        bool key;
        uint64_t soundBytesBefore; // sound in the file before this frame
    };

    // Returns 1, or 0 with error() when the file cannot be played at all.
    int open(const std::string& path);
    const RecordingInfo& info() const { return info_; }
    const std::vector<IndexEntry>& index() const { return index_; }

    // The next picture. Returns 1, or 0 after the last.
    int next(PlayerFrame& out);
    // Moves the sound decoded so far (16-bit, interleaved, at soundRate() and
    // soundChannels()) to the end of pcm.
    void takeSound(std::vector<int16_t>& pcm);
    // At the end: what the sound decoder still holds.
    void finishSound();
    int soundRate() const;
    int soundChannels() const;
    // The sound-track sample (per channel) that the next takeSound() output
    // starts with; it jumps at a seek (there to within one MP3 frame).
    uint64_t soundSampleAt() const { return soundSampleAt_; }

    // Continues at the key frame at or before timeMs (the first frame for
    // earlier times). Returns 0 when the file cannot be read there.
    int seek(uint32_t timeMs);
    // Frame index of the key frame at or before timeMs.
    size_t keyFrameBefore(uint32_t timeMs) const;

    uint32_t timeOfTick(uint32_t tick) const;
    // The last decoded picture without the cursor, which blocks of it came
    // from lossy units (ScreenCodec::lossy_blocks), and the cursor track.
    const ScreenPicture& decodedPicture() const { return decoder_.picture(); }
    const uint8_t* lossyBlocks() const { return decoder_.lossy_blocks(); }
    const CursorPainter& cursor() const { return cursor_; }
    const std::vector<std::string>& warnings() const { return warnings_; }
    const std::string& error() const { return error_; }

private:
    int scan(const std::string& path);
    void warn(const std::string& w);
    void decodeFrame(const SourceFrame& f, PlayerFrame& out);
    void copyDecoded(const Rect& r);

    RecordingInfo info_;
    std::vector<IndexEntry> index_;
    RecordingSource source_;
    ScreenDecoder decoder_;
    CursorPainter cursor_;
    Mp3Decoder mp3_;
    ScreenPicture shown_;
    bool wholeCopyDue_ = true;
    Rect cursorDrawn_{0, 0, -1, -1}; // where the cursor was drawn into shown_
    std::vector<int16_t> pcm_;
    uint64_t soundSampleAt_ = 0;
    uint64_t leadInLeft_ = 0; // samples per channel still to drop
    uint32_t nextIndex_ = 0;
    bool waitingForKey_ = false;
    bool soundFinished_ = false;
    std::vector<std::string> warnings_;
    std::string error_;
};

} // namespace quillet
