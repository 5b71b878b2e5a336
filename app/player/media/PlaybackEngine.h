#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/player/media/MediaReaders.h"
#include "app/player/media/PicturePool.h"
#include "app/player/media/SoundOutput.h"

namespace quillet::player {

// A picture to show and when it shows.
struct ShownPicture {
    std::shared_ptr<const MediaPicture> picture;
    PictureTiming timing;
    uint64_t generation = 0; // seeks so far: pictures of an older one are stale
    bool seekResult = false; // the picture a seek or a step asked for: shown at once
};

// Plays one opened recording: a worker thread decodes pictures ahead into a
// short queue and feeds the sound output, and the sound that has been heard
// is the clock the pictures are shown by. Recordings without sound run on a
// silent output, which keeps the monotonic clock.
//
// Seeking goes to the key frame at or before the asked time and decodes
// forward to the picture that shows at that time; the sound starts at the
// same time. A seek asked while another runs replaces it.
//
// The controls and pictureDue() are for one thread (the window's); the
// worker is internal.
class PlaybackEngine {
public:
    // Pictures decoded ahead of the clock (a 1080p picture is 8 MiB).
    static constexpr size_t kQueuedPictures = 4;
    // Sound queued in the output ahead of what has been heard.
    static constexpr int64_t kSoundAheadMs = 400;
    // Sound pieces written at a time, and the silence that fills gaps.
    static constexpr int64_t kSilencePieceMs = 100;

    // sound may be null: the sound track (if any) is then left out and the
    // silent output keeps the time.
    PlaybackEngine(OpenedMedia media, std::unique_ptr<SoundOutput> sound);
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    const MediaInfo& info() const { return media_.info; }

    // Starts the worker; the first picture comes as a seek result. Returns 1.
    int start(bool playing);
    void play();
    void pause();
    bool playing() const;
    // Shows the picture at timeMs (clamped to the recording), playing or not.
    void seek(int64_t timeMs);
    // Paused, one picture on (+1) or back (-1) from the one shown.
    void step(int direction);

    // Media time now: what has been heard (the target while a seek runs).
    int64_t clockMs();
    // The picture to show now, when it differs from the last one given.
    // nextDueMs tells when the next one is due (INT64_MAX: none queued).
    bool pictureDue(ShownPicture& out, int64_t& nextDueMs);
    // Playback reached the end of the pictures and the sound and stopped there.
    bool atEnd() const;
    // The time of the picture last given by pictureDue.
    int64_t shownMs() const;

    // Notes for the user since the last call: damage passed over, where a
    // damaged or cut file stopped, a sound output that failed.
    std::vector<std::string> takeMessages();
    // Where the pictures stopped early, and why: false for a file read to
    // its end.
    bool stoppedEarly(int64_t& atMs, std::string& reason) const;

private:
    enum class Request { None, Seek, SoundResync };

    void run();
    void doSeek(int64_t target, uint64_t generation);
    void startSound(int64_t fromMs);
    bool feedSound();
    bool decodePicture();
    bool pushPicture(const PictureTiming& t, bool seekResult, uint64_t generation);
    void collectWarnings();
    void noteMessage(const std::string& m);
    void notePictureStop();
    bool newerRequest(uint64_t generation);
    void switchToSilence();
    int64_t clockLocked();
    void checkEndLocked();

    OpenedMedia media_;
    std::unique_ptr<SoundOutput> output_;
    bool soundTrack_ = false;
    int rate_ = 1000;
    int channels_ = 1;
    PicturePool pool_;
    std::shared_ptr<MediaPicture> lastDecoded_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    bool quit_ = false;

    // Shared with the window's thread (under mutex_).
    Request request_ = Request::None;
    int64_t requestMs_ = 0;
    uint64_t generation_ = 0;
    bool seeking_ = false;
    int64_t seekTargetMs_ = 0;
    bool userPlaying_ = false;
    bool ended_ = false;
    std::deque<ShownPicture> queue_;
    int64_t shownMs_ = 0;
    int64_t shownEndMs_ = 0;
    uint64_t shownGeneration_ = 0;
    bool stepped_ = false; // pictures were stepped while paused: the sound must catch up before playing
    int64_t soundBaseMs_ = 0;   // media time of the output stream's first frame
    bool picturesEnded_ = false;
    int64_t lastPictureEndMs_ = 0;
    bool soundFinished_ = false;
    std::vector<std::string> messages_;
    bool stoppedEarly_ = false;
    int64_t stopAtMs_ = 0;
    std::string stopReason_;

    // Worker only.
    int64_t nextSample_ = 0;        // track position of the next frame to write
    int64_t soundEndSample_ = -1;   // where the sound track ended (-1: not yet)
    std::vector<int16_t> pending_;  // sound read but not yet written
    int64_t pendingFirst_ = 0;
    std::vector<int16_t> zeros_;
    bool soundReaderEnded_ = false;
};

} // namespace quillet::player
