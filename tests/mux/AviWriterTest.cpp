// The AVI writer against ffprobe and ffmpeg: streams, headers, frame count and
// duration, key-frame flags, real MP3 sound, and files that continue past the
// first RIFF.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/AudioEncoder.h"
#include "mux/avi/AviWriter.h"
#include "tests/mux/MuxTestMedia.h"

namespace quillet {
namespace {

using muxtest::Bytes;
using muxtest::probeEntry;
using muxtest::runCommand;
using muxtest::tempPath;

bool haveTools() { return runCommand("ffprobe -version >/dev/null && ffmpeg -version >/dev/null", nullptr) == 0; }

// MP3 of a 440 Hz tone as the recorder codes it for AVI (mono, 11025 Hz,
// 16 kbit/s, frames straddling buffers), one entry per quarter-second buffer.
struct Mp3Sound {
    AudioTargetFormat target;
    std::vector<Bytes> buffers;
};

Mp3Sound toneMp3(int seconds)
{
    Mp3Sound s;
    s.target = buildAudioTargetFormat(1, OutputAvi);
    const CaptureAudioFormat capture = captureFormatFor(s.target);
    AudioEncoder enc;
    EXPECT_EQ(enc.open(capture, s.target, Mp3Framing::Continuous), 1);
    const int frames = static_cast<int>(capture.sampleRate / 4);
    std::vector<int16_t> pcm(static_cast<size_t>(frames));
    std::vector<uint8_t> out(64000);
    long n = 0;
    for (int b = 0; b < seconds * 4; ++b) {
        for (int16_t& v : pcm)
            v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * double(n++) / capture.sampleRate));
        const int len = enc.encode(reinterpret_cast<const uint8_t*>(pcm.data()), out.data(), frames * 2,
                                   static_cast<int>(out.size()));
        s.buffers.emplace_back(out.begin(), out.begin() + std::max(len, 0));
    }
    return s;
}

Bytes waveFormat(const AudioTargetFormat& t)
{
    Bytes b(AudioTargetFormat::kRecordSize);
    t.serialize(b.data());
    return b;
}

AviVideoFormat screenFormat(int w, int h)
{
    AviVideoFormat f;
    f.width = w;
    f.height = h;
    f.sizeImage = static_cast<uint32_t>(w * h * 2);
    return f;
}

// A stand-in coded frame: its number in every byte, of a size that varies.
Bytes packet(int i) { return Bytes(static_cast<size_t>(37 + (i * 53) % 900), static_cast<uint8_t>(i)); }

// Per video packet as ffprobe lists them: size and whether flagged key.
struct ProbedPacket {
    uint32_t size;
    bool key;
};
std::vector<ProbedPacket> probeVideoPackets(const std::string& path)
{
    std::string out;
    runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=size,flags -of csv=p=0 '" + path + "'",
               &out, false);
    std::vector<ProbedPacket> r;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos)
            end = out.size();
        unsigned size = 0;
        char flags[8] = {};
        if (std::sscanf(out.c_str() + at, "%u,%7s", &size, flags) == 2)
            r.push_back({size, flags[0] == 'K'});
        at = end + 1;
    }
    return r;
}

// Writes frames covering `ticks[i]` ticks each, a key frame every 7th, and
// the sound buffers spread over them. Returns the ticks written.
int writeRecording(AviWriter& w, const std::vector<int>& ticks, const Mp3Sound* sound, int fps)
{
    int total = 0;
    size_t nextSound = 0;
    for (size_t i = 0; i < ticks.size(); ++i) {
        const Bytes p = packet(static_cast<int>(i));
        EXPECT_EQ(w.WriteVideo(p.data(), p.size(), ticks[i], i % 7 == 0 ? 1 : 0), 1);
        total += ticks[i];
        // A quarter second of sound each time the video passes one.
        while (sound && nextSound < sound->buffers.size() && int(nextSound) * fps / 4 < total) {
            const Bytes& b = sound->buffers[nextSound++];
            EXPECT_EQ(w.WriteAudio(b.data(), b.size()), 1);
        }
    }
    return total;
}

// Seconds of sound ffmpeg decodes from the file's audio stream.
double decodedSeconds(const std::string& path, int rate)
{
    std::string pcm;
    runCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -ac 1 -f s16le -", &pcm, false);
    return double(pcm.size()) / 2 / rate;
}

// The data packets (the empty ones of repeated ticks left out) keep their
// sizes, and the key flags sit on the key frames writeRecording() wrote.
void expectPacketsAndKeys(const std::string& path, size_t frames)
{
    std::vector<ProbedPacket> data;
    for (const ProbedPacket& p : probeVideoPackets(path))
        if (p.size > 0)
            data.push_back(p);
    ASSERT_EQ(data.size(), frames);
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(data[i].size, packet(static_cast<int>(i)).size()) << i;
        ASSERT_EQ(data[i].key, i % 7 == 0) << i;
    }
}

// ffmpeg decodes the sound without a complaint, to its full length.
void expectSound(const std::string& path, double seconds)
{
    std::string errors;
    EXPECT_EQ(runCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -f null -", &errors), 0);
    EXPECT_EQ(errors, "");
    EXPECT_NEAR(decodedSeconds(path, 11025), seconds, 0.2);
}

class AviWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTools())
            GTEST_SKIP() << "needs ffprobe and ffmpeg";
    }
};

TEST_F(AviWriterTest, PlayersSeeBothStreamsWithTheirTimingAndKeyFrames)
{
    const std::string path = tempPath("avi_streams.avi");
    const Mp3Sound sound = toneMp3(8);
    const Bytes wfx = waveFormat(sound.target);
    std::vector<int> ticks;
    for (int i = 0; i < 60; ++i)
        ticks.push_back(i % 5 == 4 ? 3 : 1); // every fifth frame covers three ticks
    AviWriter w;
    ASSERT_EQ(w.Open(path.c_str(), 10, screenFormat(320, 176), wfx.data(), wfx.size()), 1);
    const int total = writeRecording(w, ticks, &sound, 10);
    EXPECT_EQ(w.VideoPosition(), static_cast<uint32_t>(total)); // empty samples count
    EXPECT_EQ(w.AudioPosition(), static_cast<uint32_t>(std::min<int>(sound.buffers.size(), (total * 4 + 9) / 10)));
    ASSERT_EQ(w.Close(), 1);

    EXPECT_EQ(probeEntry(path, "v", "stream", "codec_tag_string"), "QVS2");
    EXPECT_EQ(probeEntry(path, "v", "stream", "r_frame_rate"), "10/1");
    EXPECT_EQ(probeEntry(path, "v", "stream", "width"), "320");
    EXPECT_EQ(probeEntry(path, "v", "stream", "height"), "176");
    EXPECT_EQ(probeEntry(path, "v", "stream", "nb_frames"), std::to_string(total));
    EXPECT_NEAR(std::stod(probeEntry(path, "v", "stream", "duration")), total / 10.0, 0.001);
    EXPECT_EQ(probeEntry(path, "a", "stream", "codec_name"), "mp3");
    EXPECT_EQ(probeEntry(path, "a", "stream", "sample_rate"), "11025");
    EXPECT_EQ(probeEntry(path, nullptr, "format", "nb_streams"), "2");

    expectPacketsAndKeys(path, ticks.size());
    expectSound(path, 8.0);
    std::remove(path.c_str());
}

TEST_F(AviWriterTest, WithoutSoundThereIsOnlyTheVideoStream)
{
    const std::string path = tempPath("avi_silent.avi");
    AviWriter w;
    ASSERT_EQ(w.Open(path.c_str(), 5, screenFormat(64, 48), nullptr, 0), 1);
    const Bytes p = packet(1);
    EXPECT_EQ(w.WriteVideo(p.data(), p.size(), 3, 1), 1);
    EXPECT_EQ(w.VideoPosition(), 3u);
    EXPECT_EQ(w.WriteAudio(p.data(), p.size()), 0); // no audio stream
    ASSERT_EQ(w.Close(), 1);
    EXPECT_EQ(probeEntry(path, nullptr, "format", "nb_streams"), "1");
    EXPECT_EQ(probeEntry(path, "v", "stream", "nb_frames"), "3");
    std::remove(path.c_str());
}

TEST_F(AviWriterTest, RecordingsPastTheFirstRiffStayWholeForOpenDmlReaders)
{
    const std::string path = tempPath("avi_odml.avi");
    const Mp3Sound sound = toneMp3(20);
    const Bytes wfx = waveFormat(sound.target);
    std::vector<int> ticks(300, 1);
    ticks[10] = 4;
    AviWriter w;
    // RIFFs of 48 KiB and index chunks of 40 entries: many of both.
    w.SetLimitsForTest(48 * 1024, 40);
    ASSERT_EQ(w.Open(path.c_str(), 15, screenFormat(160, 128), wfx.data(), wfx.size()), 1);
    const int total = writeRecording(w, ticks, &sound, 15);
    EXPECT_GT(w.RiffCount(), 3);
    ASSERT_EQ(w.Close(), 1);

    EXPECT_EQ(probeEntry(path, "v", "stream", "nb_frames"), std::to_string(total));
    expectPacketsAndKeys(path, ticks.size());
    // The sound decodes across the RIFF boundaries, to its full length.
    expectSound(path, 20.0);
    std::remove(path.c_str());
}

TEST_F(AviWriterTest, RefusesFormatsItCannotDescribe)
{
    const std::string path = tempPath("avi_bad.avi");
    AviWriter w;
    EXPECT_EQ(w.Open(path.c_str(), 0, screenFormat(64, 48), nullptr, 0), 0);
    EXPECT_EQ(w.Open(path.c_str(), 10, screenFormat(0, 48), nullptr, 0), 0);
    AudioTargetFormat t = buildAudioTargetFormat(1, OutputAvi);
    Bytes wfx = waveFormat(t);
    EXPECT_EQ(w.Open(path.c_str(), 10, screenFormat(64, 48), wfx.data(), wfx.size() - 2), 0); // extra size lies
    t.blockAlign = 0;
    wfx = waveFormat(t);
    EXPECT_EQ(w.Open(path.c_str(), 10, screenFormat(64, 48), wfx.data(), wfx.size()), 0);
    EXPECT_EQ(w.Open("/nonexistent-folder/x.avi", 10, screenFormat(64, 48), nullptr, 0), 0);
    EXPECT_FALSE(w.IsOpen());
    const Bytes p = packet(0);
    EXPECT_EQ(w.WriteVideo(p.data(), p.size(), 1, 1), 0);
    std::remove(path.c_str());
}

} // namespace
} // namespace quillet
