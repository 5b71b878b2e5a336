#include "app/player/media/PlaybackEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace quillet::player {

namespace {

constexpr size_t kMaxMessages = 200;

} // namespace

std::string formatMediaTime(int64_t ms)
{
    if (ms < 0)
        ms = 0;
    const int64_t tenths = ms / 100;
    const int64_t s = tenths / 10;
    char text[40];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60),
                      static_cast<long long>(tenths % 10));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60), static_cast<long long>(tenths % 10));
    return text;
}

PlaybackEngine::PlaybackEngine(OpenedMedia media, std::unique_ptr<SoundOutput> sound) : media_(std::move(media))
{
    soundTrack_ = media_.sound && sound && media_.info.sound.present();
    if (soundTrack_) {
        output_ = std::move(sound);
        rate_ = media_.info.sound.sampleRate;
        channels_ = media_.info.sound.channels;
    } else {
        // The silent output counts milliseconds.
        output_ = std::make_unique<SilentOutput>();
        rate_ = 1000;
        channels_ = 1;
    }
    zeros_.assign(size_t(rate_ * kSilencePieceMs / 1000) * size_t(channels_), 0);
    for (const std::string& n : media_.notes)
        noteMessage(n);
}

PlaybackEngine::~PlaybackEngine()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

int PlaybackEngine::start(bool playing)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        userPlaying_ = playing;
    }
    seek(0);
    worker_ = std::thread([this] { run(); });
    return 1;
}

void PlaybackEngine::noteMessage(const std::string& m)
{
    if (messages_.size() < kMaxMessages)
        messages_.push_back(m);
}

std::vector<std::string> PlaybackEngine::takeMessages()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.swap(messages_);
    return out;
}

bool PlaybackEngine::stoppedEarly(int64_t& atMs, std::string& reason) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    atMs = stopAtMs_;
    reason = stopReason_;
    return stoppedEarly_;
}

void PlaybackEngine::play()
{
    bool restart = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        restart = ended_;
    }
    if (restart)
        seek(0);
    std::lock_guard<std::mutex> lock(mutex_);
    userPlaying_ = true;
    if (stepped_ && !seeking_) {
        // Pictures were stepped on while the sound stood: the sound starts
        // again where the pictures are.
        stepped_ = false;
        request_ = Request::SoundResync;
        requestMs_ = shownMs_;
        seeking_ = true;
        seekTargetMs_ = shownMs_;
        wake_.notify_all();
    } else if (!seeking_) {
        output_->setPaused(false);
    }
}

void PlaybackEngine::pause()
{
    std::lock_guard<std::mutex> lock(mutex_);
    userPlaying_ = false;
    output_->setPaused(true);
}

bool PlaybackEngine::playing() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return userPlaying_;
}

bool PlaybackEngine::atEnd() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

int64_t PlaybackEngine::shownMs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return shownMs_;
}

void PlaybackEngine::seek(int64_t timeMs)
{
    const int64_t duration = media_.info.durationMs;
    timeMs = std::max<int64_t>(0, duration > 0 ? std::min(timeMs, duration) : timeMs);
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    request_ = Request::Seek;
    requestMs_ = timeMs;
    seeking_ = true;
    seekTargetMs_ = timeMs;
    ended_ = false;
    stepped_ = false;
    queue_.clear();
    output_->setPaused(true);
    wake_.notify_all();
}

void PlaybackEngine::step(int direction)
{
    pause();
    int64_t back = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (direction > 0) {
            while (!queue_.empty() && queue_.front().generation != generation_)
                queue_.pop_front();
            if (!queue_.empty()) {
                queue_.front().seekResult = true;
                stepped_ = true;
            }
            // With nothing queued (the end, or the worker behind) there is
            // no step to take yet.
            return;
        }
        if (shownMs_ <= 0)
            return;
        back = shownMs_ - 1;
    }
    // The picture that shows just before the one on the screen.
    seek(back);
}

int64_t PlaybackEngine::clockLocked()
{
    if (seeking_)
        return seekTargetMs_;
    if (stepped_)
        return shownMs_;
    return soundBaseMs_ + output_->playedFrames() * 1000 / rate_;
}

int64_t PlaybackEngine::clockMs()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clockLocked();
}

bool PlaybackEngine::pictureDue(ShownPicture& out, int64_t& nextDueMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    while (!queue_.empty() && queue_.front().generation != generation_)
        queue_.pop_front();
    bool got = false;
    if (!queue_.empty() && queue_.front().seekResult) {
        out = std::move(queue_.front());
        queue_.pop_front();
        got = true;
    } else {
        const int64_t clock = clockLocked();
        // Late pictures are passed over: the newest due one is shown.
        while (!queue_.empty() && !queue_.front().seekResult && queue_.front().timing.startMs <= clock) {
            out = std::move(queue_.front());
            queue_.pop_front();
            got = true;
        }
    }
    if (got) {
        shownMs_ = out.timing.startMs;
        shownEndMs_ = out.timing.endMs;
        shownGeneration_ = out.generation;
        wake_.notify_all();
    }
    nextDueMs = queue_.empty() ? INT64_MAX : queue_.front().timing.startMs;
    return got;
}

bool PlaybackEngine::newerRequest(uint64_t generation)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_ || generation_ != generation;
}

void PlaybackEngine::collectWarnings()
{
    std::vector<std::string> w = media_.pictures->takeWarnings();
    if (w.empty())
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& m : w)
        noteMessage(m);
}

void PlaybackEngine::notePictureStop()
{
    const ReadStop& s = media_.pictures->stop();
    std::lock_guard<std::mutex> lock(mutex_);
    picturesEnded_ = true;
    if (s.early && !stoppedEarly_) {
        stoppedEarly_ = true;
        stopAtMs_ = s.atMs >= 0 ? s.atMs : lastPictureEndMs_;
        stopReason_ = s.reason;
        noteMessage("Stopped at " + formatMediaTime(stopAtMs_) + ": " + s.reason);
    }
}

bool PlaybackEngine::pushPicture(const PictureTiming& t, bool seekResult, uint64_t generation)
{
    std::shared_ptr<MediaPicture> pic = pool_.get(media_.info.width, media_.info.height);
    std::shared_ptr<const MediaPicture> shown;
    if (media_.pictures->picture(*pic)) {
        lastDecoded_ = pic;
        shown = pic;
    } else {
        // A picture that cannot be shown leaves the previous one up.
        shown = lastDecoded_;
    }
    collectWarnings();
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_ || !shown)
        return false;
    lastPictureEndMs_ = std::max(lastPictureEndMs_, t.endMs);
    queue_.push_back(ShownPicture{shown, t, generation, seekResult});
    return true;
}

void PlaybackEngine::doSeek(int64_t target, uint64_t generation)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        picturesEnded_ = false;
        lastPictureEndMs_ = 0;
    }
    PictureReader& pictures = *media_.pictures;
    PictureTiming t, last;
    bool any = false, found = false;
    if (pictures.seek(target)) {
        while (pictures.advance(t)) {
            any = true;
            last = t;
            if (t.endMs > target) {
                found = true;
                break;
            }
            if (newerRequest(generation))
                return;
        }
    }
    if (any)
        pushPicture(last, true, generation);
    if (!found)
        notePictureStop();
    startSound(target);
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ == generation && request_ == Request::None) {
        seeking_ = false;
        if (userPlaying_)
            output_->setPaused(false);
    }
}

void PlaybackEngine::startSound(int64_t fromMs)
{
    pending_.clear();
    soundReaderEnded_ = !soundTrack_;
    soundEndSample_ = -1;
    nextSample_ = fromMs * rate_ / 1000;
    if (!output_->begin(rate_, channels_))
        switchToSilence();
    if (soundTrack_ && !media_.sound->seek(fromMs))
        soundReaderEnded_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    soundBaseMs_ = nextSample_ * 1000 / rate_;
    soundFinished_ = false;
}

void PlaybackEngine::switchToSilence()
{
    std::string why = output_->error();
    auto silent = std::make_unique<SilentOutput>();
    silent->begin(rate_, channels_);
    const int64_t written = output_->writtenFrames();
    const int64_t played = output_->playedFrames();
    // The silent output picks up where the sound was heard.
    silent->write(nullptr, size_t(std::max<int64_t>(0, played)));
    std::lock_guard<std::mutex> lock(mutex_);
    silent->setPaused(!userPlaying_ || seeking_);
    output_ = std::move(silent);
    nextSample_ -= written - played;
    noteMessage("The sound output failed" + (why.empty() ? std::string() : " (" + why + ")") +
                "; playing on without sound");
}

bool PlaybackEngine::feedSound()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (soundFinished_ || seeking_)
            return false;
    }
    const int64_t ahead = output_->writtenFrames() - output_->playedFrames();
    if (ahead * 1000 / rate_ >= kSoundAheadMs)
        return false;
    const size_t ch = size_t(channels_);
    auto writeFrames = [&](const int16_t* pcm, size_t frames) {
        if (!output_->write(pcm, frames))
            switchToSilence();
        nextSample_ += int64_t(frames);
    };
    if (pending_.empty() && !soundReaderEnded_) {
        int64_t first = 0;
        if (media_.sound->read(pending_, first)) {
            pendingFirst_ = first;
        } else {
            soundReaderEnded_ = true;
            soundEndSample_ = nextSample_;
            const ReadStop& s = media_.sound->stop();
            if (s.early) {
                std::lock_guard<std::mutex> lock(mutex_);
                noteMessage("The sound stops at " + formatMediaTime(s.atMs) + ": " + s.reason);
            }
        }
    }
    if (!pending_.empty()) {
        const int64_t frames = int64_t(pending_.size() / ch);
        // Pieces a few samples off the running position (rounded times)
        // follow on; larger gaps are filled with silence, overlaps cut.
        const int64_t tolerance = std::max(1, rate_ / 500);
        const int64_t gap = pendingFirst_ - nextSample_;
        if (gap > tolerance) {
            writeFrames(zeros_.data(), size_t(std::min<int64_t>(gap, int64_t(zeros_.size() / ch))));
            return true;
        }
        int64_t drop = gap < -tolerance ? -gap : 0;
        if (drop >= frames) {
            pending_.clear();
            return true;
        }
        writeFrames(pending_.data() + size_t(drop) * ch, size_t(frames - drop));
        pending_.clear();
        return true;
    }
    if (!soundReaderEnded_)
        return true;
    // The track has ended (or there is none): silence while pictures go on,
    // to the end of the last one decoded (the clock must reach it) and no
    // further than the recording's length until the last is known.
    int64_t until = 0;
    bool lastKnown = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastKnown = picturesEnded_;
        const int64_t endMs = lastKnown ? lastPictureEndMs_ : std::max(lastPictureEndMs_, media_.info.durationMs);
        until = endMs * rate_ / 1000;
    }
    if (nextSample_ < until) {
        writeFrames(zeros_.data(), size_t(std::min<int64_t>(until - nextSample_, int64_t(zeros_.size() / ch))));
        return true;
    }
    // Pictures still to come may end after the stated length (the queue is
    // full until the clock moves on): finishing now would stop the clock
    // before the last of them is due.
    if (!lastKnown)
        return false;
    output_->finish();
    std::lock_guard<std::mutex> lock(mutex_);
    soundFinished_ = true;
    return true;
}

bool PlaybackEngine::decodePicture()
{
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kQueuedPictures || picturesEnded_ || seeking_)
            return false;
        generation = generation_;
    }
    PictureTiming t;
    if (!media_.pictures->advance(t)) {
        collectWarnings();
        notePictureStop();
        return true;
    }
    pushPicture(t, false, generation);
    return true;
}

void PlaybackEngine::checkEndLocked()
{
    if (seeking_ || !userPlaying_ || !picturesEnded_ || !queue_.empty() || !soundFinished_)
        return;
    // The output may stop a little short of the last frame it was given.
    if (output_->playedFrames() + rate_ / 20 < output_->writtenFrames())
        return;
    ended_ = true;
    userPlaying_ = false;
    output_->setPaused(true);
}

void PlaybackEngine::run()
{
    for (;;) {
        Request request;
        int64_t ms;
        uint64_t generation;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (quit_)
                return;
            request = request_;
            ms = requestMs_;
            generation = generation_;
            request_ = Request::None;
        }
        if (request == Request::Seek) {
            doSeek(ms, generation);
        } else if (request == Request::SoundResync) {
            startSound(ms);
            std::lock_guard<std::mutex> lock(mutex_);
            if (request_ == Request::None) {
                seeking_ = false;
                if (userPlaying_)
                    output_->setPaused(false);
            }
        }
        bool worked = feedSound();
        worked = decodePicture() || worked;
        std::unique_lock<std::mutex> lock(mutex_);
        checkEndLocked();
        if (!worked && request_ == Request::None && !quit_)
            wake_.wait_for(lock, std::chrono::milliseconds(10));
    }
}

} // namespace quillet::player
