#include "app/player/media/RecordingReaders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/player/media/CursorTrack.h"
#include "app/player/media/Mp3Frames.h"
#include "engine/playback/RecordingPlayer.h"
#include "engine/playback/RecordingSource.h"

namespace quillet::player {

namespace {

// Pictures through the recordings' own player, which decodes the screen codec
// and draws the cursor from its own track. Its sound is left to the sound
// reader below.
class RecordingPictureReader : public PictureReader {
public:
    int open(const std::string& path, std::string& error)
    {
        path_ = path;
        if (!player_.open(path)) {
            error = player_.error();
            return 0;
        }
        dropSound();
        track_.start(path);
        cursorSource_.open(path);
        return 1;
    }
    const RecordingInfo& info() const { return player_.info(); }
    const std::vector<RecordingPlayer::IndexEntry>& index() const { return player_.index(); }

    int advance(PictureTiming& timing) override
    {
        if (!player_.next(frame_)) {
            noteEnd();
            return 0;
        }
        dropSound();
        have_ = true;
        timing.startMs = frame_.timeMs;
        timing.endMs = frame_.endMs;
        timing.index = frame_.index;
        timing.key = frame_.key;
        lastEndMs_ = frame_.endMs;
        return 1;
    }

    int picture(MediaPicture& out) override
    {
        if (!have_ || !frame_.picture || frame_.picture->pixels.empty())
            return 0;
        const ScreenPicture* source = frame_.picture;
        if (restoring_) {
            const CursorPainter& own = player_.cursor();
            if (own.hasPicture()) {
                restoring_ = false; // the file's own records have taken over
            } else {
                if (own.x() != 0 || own.y() != 0)
                    restored_.update(own.x(), own.y(), nullptr, 0);
                scratch_.width = source->width;
                scratch_.height = source->height;
                scratch_.pixels = source->pixels;
                restored_.draw(scratch_);
                source = &scratch_;
            }
        }
        if (out.width != source->width || out.height != source->height)
            out.allocate(source->width, source->height);
        for (int32_t y = 0; y < source->height; ++y)
            std::memcpy(out.row(y), source->row_from_top(y), out.stride());
        return 1;
    }

    int seek(int64_t timeMs) override
    {
        have_ = false;
        stop_ = ReadStop{};
        const uint32_t ms = uint32_t(std::clamp<int64_t>(timeMs, 0, INT32_MAX));
        if (!player_.seek(ms))
            return 0;
        dropSound();
        restoreCursor(uint32_t(player_.keyFrameBefore(ms)));
        return 1;
    }

    const ReadStop& stop() const override { return stop_; }

    std::vector<std::string> takeWarnings() override
    {
        const std::vector<std::string>& all = player_.warnings();
        std::vector<std::string> out;
        // The player keeps its first warnings; after a seek the count may
        // start again lower.
        if (all.size() < warned_)
            warned_ = 0;
        out.assign(all.begin() + long(warned_), all.end());
        warned_ = all.size();
        return out;
    }

private:
    void dropSound()
    {
        player_.finishSound();
        scratchPcm_.clear();
        player_.takeSound(scratchPcm_);
    }

    // Puts the cursor where the records before the key frame left it.
    void restoreCursor(uint32_t keyFrame)
    {
        restoring_ = false;
        restored_.clear();
        CursorTrack::Record position, picture;
        bool hasPicture = false;
        if (!track_.before(keyFrame, position, picture, hasPicture) || !hasPicture)
            return;
        if (!cursorSource_.seek(picture.offset, picture.tick))
            return;
        for (int item; (item = cursorSource_.next()) != RecordingSource::End;) {
            if (item != RecordingSource::Frame)
                continue;
            const SourceFrame& f = cursorSource_.frame();
            if (f.cursor && !f.cursorPicture.empty())
                restored_.update(f.cursorX, f.cursorY, f.cursorPicture.data(), f.cursorPicture.size());
            break;
        }
        restored_.update(position.x, position.y, nullptr, 0);
        restoring_ = restored_.hasPicture();
    }

    void noteEnd()
    {
        if (stop_.atMs >= 0)
            return;
        const RecordingInfo& i = player_.info();
        stop_.atMs = lastEndMs_;
        if (i.damaged) {
            stop_.early = true;
            stop_.reason = i.damage;
        } else if (!i.finished) {
            stop_.early = true;
            stop_.reason = path_ + ": the recorder did not finish the file; it ends with its last whole picture";
        }
    }

    std::string path_;
    RecordingPlayer player_;
    PlayerFrame frame_;
    bool have_ = false;
    int64_t lastEndMs_ = 0;
    std::vector<int16_t> scratchPcm_;
    CursorTrack track_;
    RecordingSource cursorSource_;
    CursorPainter restored_;
    bool restoring_ = false;
    ScreenPicture scratch_;
    size_t warned_ = 0;
    ReadStop stop_;
};

// The MP3 sound of a recording, read on its own handle of the file so that it
// can run ahead of the pictures, with every sample at its exact place.
class RecordingSoundReader : public SoundReader {
public:
    int open(const std::string& path, const std::vector<RecordingPlayer::IndexEntry>& index,
             const SoundTrackFormat& format, std::string& error)
    {
        index_ = index;
        format_ = format;
        if (!source_.open(path)) {
            error = source_.error();
            return 0;
        }
        if (format.formatTag != 85 || format.sampleRate == 0 || format.avgBytesPerSecond == 0) {
            error = path + ": the sound is not MP3 (format " + std::to_string(format.formatTag) + ")";
            return 0;
        }
        if (!mp3_.open(format.channels, int(format.sampleRate), format.avgBytesPerSecond)) {
            error = path + ": this build has no MP3 decoder";
            return 0;
        }
        return 1;
    }

    int read(std::vector<int16_t>& pcm, int64_t& firstSample) override
    {
        for (;;) {
            int64_t first = 0;
            if (mp3_.decodeFrame(pcm, first)) {
                firstSample = first - int64_t(RecordingPlayer::kMp3LeadInSamples);
                return 1;
            }
            if (ended_)
                return 0;
            const int item = source_.next();
            if (item == RecordingSource::Sound) {
                mp3_.feed(source_.sound().data(), source_.sound().size());
            } else if (item == RecordingSource::End) {
                ended_ = true;
                if (source_.damaged()) {
                    stop_.early = true;
                    stop_.reason = source_.error();
                }
            }
        }
    }

    int seek(int64_t timeMs) override
    {
        stop_ = ReadStop{};
        ended_ = false;
        if (index_.empty())
            return 0;
        // The decoder needs a few frames before the time to get going.
        const int spf = mp3_.samplesPerFrame();
        const double meanFrameBytes = double(spf) * format_.avgBytesPerSecond / format_.sampleRate;
        const int64_t want = std::max<int64_t>(
            0, timeMs * int64_t(format_.sampleRate) / 1000 + int64_t(RecordingPlayer::kMp3LeadInSamples) -
                   int64_t(mp3_.primingFrames() + 1) * spf);
        const uint64_t wantBytes = uint64_t(double(want) / spf * meanFrameBytes);
        auto it = std::upper_bound(index_.begin(), index_.end(), wantBytes,
                                   [](uint64_t b, const RecordingPlayer::IndexEntry& e) {
                                       return b < e.soundBytesBefore;
                                   });
        const RecordingPlayer::IndexEntry& e = it == index_.begin() ? index_.front() : *(it - 1);
        if (!source_.seek(e.offset, e.tick))
            return 0;
        mp3_.restart(e.soundBytesBefore);
        return 1;
    }

    const ReadStop& stop() const override { return stop_; }

private:
    RecordingSource source_;
    std::vector<RecordingPlayer::IndexEntry> index_;
    SoundTrackFormat format_;
    Mp3FrameDecoder mp3_;
    bool ended_ = false;
    ReadStop stop_;
};

} // namespace

bool isScreenRecording(const std::string& path, const uint8_t* head, size_t size)
{
    // The own record file starts with "KR" and its 218-byte record offset.
    if (size >= 4 && head[0] == 'K' && head[1] == 'R' && head[2] == 218 && head[3] == 0)
        return true;
    if (size < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0)
        return false;
    // Other AVI files go to libavformat: the screen codec names itself in the
    // stream headers.
    uint8_t headers[8192];
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    const size_t n = std::fread(headers, 1, sizeof headers, f);
    std::fclose(f);
    for (size_t i = 0; i + 4 <= n; ++i)
        if (std::memcmp(headers + i, "QVS2", 4) == 0)
            return true;
    return false;
}

int openScreenRecording(const std::string& path, OpenedMedia& out, std::string& error)
{
    auto pictures = std::make_unique<RecordingPictureReader>();
    if (!pictures->open(path, error))
        return 0;
    const RecordingInfo& i = pictures->info();
    out.info.format = i.kind == RecordingKind::Avi ? "AVI" : "record file";
    out.info.width = i.width;
    out.info.height = i.height;
    out.info.durationMs = i.durationMs;
    out.info.framesPerSecond = i.framesPerSecond;
    out.info.details = "screen codec " + std::to_string(i.width) + "x" + std::to_string(i.height) + ", " +
                       std::to_string(i.framesPerSecond) + " frames/s";
    if (i.damaged || !i.finished)
        out.notes.push_back(path + ": the recording was cut short or damaged; it plays up to " +
                            formatMediaTime(i.durationMs) + (i.damage.empty() ? "" : " (" + i.damage + ")"));
    if (i.sound.present) {
        auto sound = std::make_unique<RecordingSoundReader>();
        std::string soundError;
        if (sound->open(path, pictures->index(), i.sound, soundError)) {
            out.info.sound.sampleRate = int(i.sound.sampleRate);
            out.info.sound.channels = i.sound.channels == 2 ? 2 : 1;
            out.info.details += ", MP3 " + std::to_string(i.sound.sampleRate) + " Hz " +
                                std::to_string(i.sound.channels) + " ch";
            out.sound = std::move(sound);
        } else {
            out.notes.push_back(soundError + "; playing the pictures alone");
        }
    }
    out.pictures = std::move(pictures);
    return 1;
}

} // namespace quillet::player
