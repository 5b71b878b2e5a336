#include "engine/playback/RecordingConverter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/AudioEncoder.h"
#include "base/OutputSink.h"
#include "engine/QualityLevel.h"
#include "engine/outputs/H264FrameCoder.h"
#include "engine/playback/RecordingPlayer.h"
#include "engine/playback/SoundResampler.h"
#include "engine/session/AudioPacing.h"
#include "mux/mp4/Mp4Mux.h"
#include "video/FlvAvcTags.h"
#include "video/H264Encoder.h"
#include "video/PngWriter.h"

namespace quillet {

namespace {

// The recorder's own MP4 settings: 32000 Hz AAC, the H.264 bit rate of
// quality level 2.
constexpr int kMp4SampleRate = 32000;
constexpr int kMp4QualityLevel = 2;

uint32_t elapsedOf(const PlayerFrame& f) { return f.endMs; }

// Writes the sound the player decoded since the last call as AAC frames.
class AacTrack {
public:
    int open(const RecordingInfo& info, int channels, CMp4mux& mux)
    {
        channels_ = channels;
        CaptureAudioFormat capture;
        capture.channels = static_cast<uint16_t>(channels);
        capture.sampleRate = kMp4SampleRate;
        capture.blockAlign = static_cast<uint16_t>(channels * 2);
        capture.avgBytesPerSecond = capture.blockAlign * capture.sampleRate;
        AudioTargetFormat target = buildAudioTargetFormat(kMp4QualityLevel, OutputMp4);
        target.channels = static_cast<uint16_t>(channels);
        if (!encoder_.open(capture, target, Mp3Framing::Continuous) || !encoder_.isAac())
            return 0;
        if (!resampler_.open(static_cast<int>(info.sound.sampleRate), channels, kMp4SampleRate))
            return 0;
        mux_ = &mux;
        mux.SetAudioEncoderDelay(static_cast<uint32_t>(encoder_.outputDelaySamples()));
        return 1;
    }

    int write(const std::vector<int16_t>& pcm)
    {
        resampled_.clear();
        resampler_.convert(pcm.data(), pcm.size() / static_cast<size_t>(channels_), resampled_);
        return encode(resampled_);
    }

    int finish()
    {
        resampled_.clear();
        resampler_.flush(resampled_);
        if (!encode(resampled_))
            return 0;
        out_.resize(static_cast<size_t>(encoder_.maxOutputBytes(0)));
        const int n = encoder_.finish(out_.data(), static_cast<int>(out_.size()));
        return n < 0 ? 0 : store(n);
    }

private:
    int encode(const std::vector<int16_t>& pcm)
    {
        if (pcm.empty())
            return 1;
        const int bytes = static_cast<int>(pcm.size() * 2);
        out_.resize(static_cast<size_t>(encoder_.maxOutputBytes(bytes)));
        const int n = encoder_.encode(reinterpret_cast<const uint8_t*>(pcm.data()), out_.data(), bytes,
                                      static_cast<int>(out_.size()));
        return n < 0 ? 0 : store(n);
    }

    int store(int n)
    {
        int ok = 1;
        forEachAacUnit(out_.data(), static_cast<size_t>(n), [&](const uint8_t* raw, size_t len) {
            // Each AAC frame is 1024 samples; its end on the millisecond clock.
            ++frames_;
            const uint64_t end = uint64_t(frames_) * 1024 * 1000 / kMp4SampleRate;
            ok &= mux_->WriteAudio(reinterpret_cast<const char*>(raw), static_cast<int>(len),
                                   static_cast<unsigned long>(end - lastEnd_));
            lastEnd_ = end;
        });
        return ok;
    }

    AudioEncoder encoder_;
    SoundResampler resampler_;
    CMp4mux* mux_ = nullptr;
    int channels_ = 1;
    std::vector<int16_t> resampled_;
    std::vector<uint8_t> out_;
    uint64_t frames_ = 0;
    uint64_t lastEnd_ = 0;
};

void fillReport(const RecordingPlayer& p, ConvertReport* report)
{
    if (!report)
        return;
    report->damaged = p.info().damaged;
    report->warnings = p.warnings();
    if (p.info().damaged)
        report->warnings.insert(report->warnings.begin(), p.info().damage);
}

} // namespace

int RecordingConverter::toMp4(const std::string& in, const std::string& out, const ConvertProgress& progress,
                              ConvertReport* report, std::string* error)
{
    RecordingPlayer player;
    if (!player.open(in)) {
        *error = player.error();
        return 0;
    }
    const RecordingInfo& info = player.info();
    if (info.frames == 0) {
        *error = in + ": holds no picture";
        return 0;
    }
    H264Encoder video;
    video.set_input_mode(H264InputMode::Bgra32);
    video.set_bitrate(info.width, info.height, h264BitrateKbps(info.width, info.height, kMp4QualityLevel));
    const int fps = std::clamp(info.framesPerSecond, 1, 127);
    if (!video.open(info.width, info.height, static_cast<uint8_t>(fps))) {
        *error = in + ": the H.264 encoder refuses " + std::to_string(info.width) + "x" + std::to_string(info.height);
        return 0;
    }
    const bool sound = info.sound.present && info.sound.channels >= 1 && info.sound.channels <= 2;
    CMp4mux mux;
    if (!mux.Open(out.c_str(), info.width, info.height, fps, kMp4SampleRate, sound ? info.sound.channels : 0)) {
        *error = out + ": cannot be created";
        return 0;
    }
    auto failWith = [&](const std::string& why) {
        mux.Close();
        std::remove(out.c_str());
        *error = why;
        return 0;
    };
    std::vector<uint8_t> packet(H264Encoder::recommended_output_capacity(info.width, info.height));
    ParameterSets ps;
    const size_t head = video.sequence_header_tag(packet.data(), packet.size(), 0);
    if (!parseSequenceHeaderTag(packet.data(), head, &ps) ||
        !mux.WriteVideoHead(ps.sps, ps.spsLength, ps.pps, ps.ppsLength))
        return failWith(out + ": the H.264 parameter sets cannot be written");
    AacTrack aac;
    if (sound && !aac.open(info, info.sound.channels, mux))
        return failWith(in + ": the sound cannot be converted to AAC");

    ConvertReport r;
    PlayerFrame f;
    std::vector<int16_t> pcm;
    while (player.next(f)) {
        const ScreenPicture& pic = *f.picture;
        const size_t n = video.encode(pic.pixels.data(), pic.pixels.size(), packet.data(), packet.size(), f.timeMs);
        if (n > kFlvAvcVideoTagOverhead) {
            const char* sample = reinterpret_cast<const char*>(packet.data() + kFlvAvcNalOffset);
            if (!mux.WriteVideo(sample, static_cast<int>(n - kFlvAvcVideoTagOverhead), f.endMs - f.timeMs,
                                video.last_was_keyframe))
                return failWith(out + ": writing failed (disk full?)");
            ++r.frames;
        }
        if (sound) {
            pcm.clear();
            player.takeSound(pcm);
            if (!aac.write(pcm))
                return failWith(out + ": writing the sound failed");
            r.soundSamples += pcm.size() / info.sound.channels;
        }
        if (progress)
            progress(elapsedOf(f), info.durationMs);
    }
    if (sound) {
        player.finishSound();
        pcm.clear();
        player.takeSound(pcm);
        r.soundSamples += pcm.size() / info.sound.channels;
        if (!aac.write(pcm) || !aac.finish())
            return failWith(out + ": writing the sound failed");
    }
    video.close();
    if (!mux.Close()) {
        std::remove(out.c_str());
        *error = out + ": finishing the file failed (disk full?)";
        return 0;
    }
    r.durationMs = info.durationMs;
    if (report) {
        *report = r;
        fillReport(player, report);
    }
    return 1;
}

int RecordingConverter::toFrames(const std::string& in, const std::string& folder, const ConvertProgress& progress,
                                 ConvertReport* report, std::string* error)
{
    RecordingPlayer player;
    if (!player.open(in)) {
        *error = player.error();
        return 0;
    }
    const RecordingInfo& info = player.info();
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = folder + ": cannot be created (" + std::strerror(errno) + ")";
        return 0;
    }
    std::vector<std::string> written;
    auto failWith = [&](const std::string& why) {
        for (const std::string& name : written)
            std::remove(name.c_str());
        *error = why;
        return 0;
    };
    const int w = info.width, h = info.height;
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> rgb(stride * size_t(h));
    std::vector<uint8_t> png(std::max<size_t>(rgb.size() + rgb.size() / 100, 640000) + 30000);
    PngWriter writer;
    ConvertReport r;
    PlayerFrame f;
    while (player.next(f)) {
        const ScreenPicture& pic = *f.picture;
        // Bottom-up B, G, R, X to the writer's bottom-up B, G, R rows.
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = pic.pixels.data() + size_t(y) * pic.stride();
            uint8_t* d = rgb.data() + size_t(y) * stride;
            for (int x = 0; x < w; ++x) {
                d[x * 3 + 0] = s[x * 4 + 0];
                d[x * 3 + 1] = s[x * 4 + 1];
                d[x * 3 + 2] = s[x * 4 + 2];
            }
        }
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%06u.png", f.index);
        const std::string path = folder + name;
        FileSink file;
        if (!file.open(path))
            return failWith(path + ": cannot be created");
        written.push_back(path);
        if (writer.write_png(rgb.data(), w, h, png.data(), png.size(), &file) == 0 || !file.close())
            return failWith(path + ": writing failed (disk full?)");
        ++r.frames;
        if (progress)
            progress(elapsedOf(f), info.durationMs);
    }
    r.durationMs = info.durationMs;
    if (report) {
        *report = r;
        fillReport(player, report);
    }
    return 1;
}

} // namespace quillet
