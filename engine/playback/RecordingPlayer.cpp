#include "engine/playback/RecordingPlayer.h"

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {

// Warnings kept at most; a badly damaged file would otherwise fill memory.
constexpr size_t kMaxWarnings = 100;

const char* partName(ScreenDataPart p)
{
    switch (p) {
    case ScreenDataPart::Region: return "region data";
    case ScreenDataPart::BlockStream: return "block stream";
    case ScreenDataPart::SideData: return "video side data";
    default: return "frame";
    }
}

} // namespace

int RecordingPlayer::scan(const std::string& path)
{
    RecordingSource s;
    if (!s.open(path)) {
        error_ = s.error();
        return 0;
    }
    s.setScanOnly(true);
    info_ = RecordingInfo{};
    info_.path = path;
    info_.kind = s.kind();
    info_.fileSize = s.fileSize();
    info_.width = s.width();
    info_.height = s.height();
    info_.framesPerSecond = s.framesPerSecond();
    info_.declaredDurationMs = s.declaredDurationMs();
    info_.sound = s.soundFormat();
    index_.clear();
    for (int item; (item = s.next()) != RecordingSource::End;) {
        if (item == RecordingSource::Sound) {
            info_.soundBytes += s.soundSize();
            continue;
        }
        const SourceFrame& f = s.frame();
        index_.push_back({f.offset, f.tick, f.key, info_.soundBytes});
        if (f.key)
            ++info_.keyFrames;
    }
    info_.frames = static_cast<uint32_t>(index_.size());
    info_.ticks = s.ticks();
    info_.durationMs = timeOfTick(info_.ticks);
    if (info_.sound.present && info_.sound.avgBytesPerSecond > 0)
        info_.soundMs = static_cast<uint32_t>(info_.soundBytes * 1000 / info_.sound.avgBytesPerSecond);
    info_.damaged = s.damaged();
    info_.damage = s.error();
    info_.finished = info_.declaredDurationMs > 0 && !info_.damaged;
    return 1;
}

int RecordingPlayer::open(const std::string& path)
{
    warnings_.clear();
    error_.clear();
    if (!scan(path))
        return 0;
    if (!source_.open(path)) {
        error_ = source_.error();
        return 0;
    }
    if (!decoder_.init(info_.width, info_.height)) {
        error_ = path + ": the picture size cannot be decoded";
        return 0;
    }
    shown_.allocate(info_.width, info_.height);
    wholeCopyDue_ = true;
    cursor_.clear();
    if (info_.sound.present && !mp3_.open())
        warn(path + ": no MP3 decoder in this build; the sound is left out");
    pcm_.clear();
    soundSampleAt_ = 0;
    leadInLeft_ = kMp3LeadInSamples;
    nextIndex_ = 0;
    waitingForKey_ = false;
    soundFinished_ = false;
    return 1;
}

uint32_t RecordingPlayer::timeOfTick(uint32_t tick) const
{
    const int fps = info_.framesPerSecond > 0 ? info_.framesPerSecond : 1;
    return static_cast<uint32_t>(uint64_t(tick) * 1000 / static_cast<uint64_t>(fps));
}

void RecordingPlayer::warn(const std::string& w)
{
    if (warnings_.size() < kMaxWarnings)
        warnings_.push_back(w);
}

void RecordingPlayer::decodeFrame(const SourceFrame& f, PlayerFrame& out)
{
    const std::string where = source_.path() + ": frame at offset " + std::to_string(f.offset);
    if (f.broken) {
        warn(source_.warning());
        waitingForKey_ = true;
    } else {
        if (f.key) {
            decoder_.reset();
            waitingForKey_ = false;
        }
        if (!waitingForKey_) {
            int ok = 1;
            if (!f.sideData.empty() && !decoder_.decode_side_data(f.sideData.data(), f.sideData.size())) {
                const ScreenCodecError& e = decoder_.last_error();
                warn(where + ": " + partName(e.part) + " byte " + std::to_string(e.offset) + ": " +
                     (e.reason ? e.reason : "cannot be decoded"));
                ok = 0;
            }
            for (size_t i = 0; ok && i < f.regions.size(); ++i) {
                const SourceRegion& r = f.regions[i];
                if (r.size == 0)
                    continue;
                if (!decoder_.decode_region(r.rect, f.data(r), r.size)) {
                    const ScreenCodecError& e = decoder_.last_error();
                    warn(where + ", region at offset " + std::to_string(r.fileOffset) + ": " + partName(e.part) +
                         " byte " + std::to_string(e.offset) + ": " + (e.reason ? e.reason : "cannot be decoded"));
                    ok = 0;
                }
            }
            if (!ok)
                waitingForKey_ = true; // the codec needs a fresh start
            out.decoded = ok != 0;
        }
        if (f.cursor && !cursor_.update(f.cursorX, f.cursorY, f.cursorPicture.data(), f.cursorPicture.size()))
            warn(where + ": cursor picture cannot be decompressed");
    }
    // The shown picture is the decoded one with the cursor over it. Only the
    // decoded regions and the cursor's old and new places can differ from
    // what it showed last, so only they are copied again.
    if (wholeCopyDue_) {
        shown_.pixels = decoder_.picture().pixels;
        wholeCopyDue_ = false;
    } else {
        for (const SourceRegion& r : f.regions)
            copyDecoded(r.rect);
        copyDecoded(cursorDrawn_);
    }
    cursor_.draw(shown_);
    cursorDrawn_ = cursor_.hasPicture()
                       ? Rect{cursor_.x(), cursor_.y(), cursor_.x() + CursorPainter::kSide - 1,
                              cursor_.y() + CursorPainter::kSide - 1}
                       : Rect{0, 0, -1, -1};
}

void RecordingPlayer::copyDecoded(const Rect& r)
{
    // Regions are coded on the 8-pixel grid, wider than their rectangle.
    const int32_t left = std::max(0, r.left & ~7);
    const int32_t top = std::max(0, r.top & ~7);
    const int32_t right = std::min(shown_.width - 1, r.right | 7);
    const int32_t bottom = std::min(shown_.height - 1, r.bottom | 7);
    if (right < left || bottom < top)
        return;
    const ScreenPicture& d = decoder_.picture();
    const size_t bytes = size_t(right - left + 1) * 4;
    for (int32_t y = top; y <= bottom; ++y)
        std::memcpy(shown_.row_from_top(y) + size_t(left) * 4, d.row_from_top(y) + size_t(left) * 4, bytes);
}

int RecordingPlayer::next(PlayerFrame& out)
{
    for (;;) {
        const int item = source_.next();
        if (item == RecordingSource::Sound) {
            if (!soundFinished_)
                mp3_.feed(source_.sound().data(), source_.sound().size(), pcm_);
            continue;
        }
        if (item == RecordingSource::End)
            return 0;
        const SourceFrame& f = source_.frame();
        out = PlayerFrame{};
        out.index = nextIndex_;
        out.tick = f.tick;
        out.key = f.key;
        out.timeMs = timeOfTick(f.tick);
        const uint32_t nextTick =
            nextIndex_ + 1 < index_.size() ? index_[nextIndex_ + 1].tick : std::max(info_.ticks, f.tick + 1);
        out.endMs = timeOfTick(nextTick);
        decodeFrame(f, out);
        out.picture = &shown_;
        ++nextIndex_;
        return 1;
    }
}

void RecordingPlayer::takeSound(std::vector<int16_t>& pcm)
{
    const size_t ch = static_cast<size_t>(std::max(1, soundChannels()));
    const size_t drop = std::min<size_t>(pcm_.size() / ch, leadInLeft_);
    leadInLeft_ -= drop;
    pcm.insert(pcm.end(), pcm_.begin() + static_cast<long>(drop * ch), pcm_.end());
    soundSampleAt_ += pcm_.size() / ch - drop;
    pcm_.clear();
}

void RecordingPlayer::finishSound()
{
    if (!soundFinished_)
        mp3_.finish(pcm_);
    soundFinished_ = true;
}

int RecordingPlayer::soundRate() const
{
    return mp3_.sampleRate() ? mp3_.sampleRate() : static_cast<int>(info_.sound.sampleRate);
}

int RecordingPlayer::soundChannels() const
{
    return mp3_.channels() ? mp3_.channels() : info_.sound.channels;
}

size_t RecordingPlayer::keyFrameBefore(uint32_t timeMs) const
{
    size_t best = 0;
    for (size_t i = 0; i < index_.size(); ++i) {
        if (timeOfTick(index_[i].tick) > timeMs)
            break;
        if (index_[i].key)
            best = i;
    }
    return best;
}

int RecordingPlayer::seek(uint32_t timeMs)
{
    if (index_.empty())
        return 0;
    const size_t k = keyFrameBefore(timeMs);
    const IndexEntry& e = index_[k];
    if (!source_.seek(e.offset, e.tick)) {
        error_ = source_.error();
        return 0;
    }
    nextIndex_ = static_cast<uint32_t>(k);
    // A frame that is not a key frame (only the first, in a file whose start
    // is a plain frame) decodes from the codec's initial state.
    decoder_.reset();
    waitingForKey_ = false;
    wholeCopyDue_ = true;
    cursor_.clear();
    pcm_.clear();
    soundFinished_ = false;
    if (info_.sound.present) {
        mp3_.restart();
        // The sound after this frame in the file starts here in the track;
        // from the start of the file it is a fresh start with its lead-in.
        const uint64_t rate = info_.sound.sampleRate;
        const uint64_t at =
            info_.sound.avgBytesPerSecond ? e.soundBytesBefore * rate / info_.sound.avgBytesPerSecond : 0;
        leadInLeft_ = e.soundBytesBefore == 0 ? kMp3LeadInSamples : 0;
        soundSampleAt_ = at > kMp3LeadInSamples ? at - kMp3LeadInSamples : 0;
    }
    return 1;
}

} // namespace quillet
