// WMV files checked by real readers (ffprobe, ffmpeg): the streams and their
// formats, pictures that come back the right way up in their colours, sound
// that comes back at its pitch and in its place, times in the file's units,
// key-frame spacing, refused inputs, and what a killed recording leaves.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mux/wmv/TimeInterleaver.h"
#include "mux/wmv/WmvWriter.h"
#include "tests/audio/CodingTestSupport.h"
#include "tests/mux/MuxTestMedia.h"

using namespace quillet;
using namespace quillet::muxtest;
namespace tones = quillet::testing;

namespace {

constexpr int kRate = 22050;

struct Rgb {
    uint8_t r, g, b;
};

// A bottom-up picture whose top half is `top` and bottom half `bottom`, with
// a small square at column `mark` so that successive pictures differ.
std::vector<uint8_t> makePicture(int w, int h, int bits, Rgb top, Rgb bottom, int mark = -1)
{
    const int bpp = bits / 8;
    std::vector<uint8_t> px(size_t(w) * h * bpp);
    for (int yTop = 0; yTop < h; ++yTop) {
        uint8_t* row = px.data() + size_t(h - 1 - yTop) * w * bpp; // stored bottom row first
        for (int x = 0; x < w; ++x) {
            Rgb c = yTop < h / 2 ? top : bottom;
            if (mark >= 0 && x >= mark && x < mark + 8 && yTop >= h / 2 - 4 && yTop < h / 2 + 4)
                c = Rgb{255, 255, 255};
            uint8_t* p = row + x * bpp;
            if (bits == 16) {
                const uint16_t v = uint16_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
                p[0] = uint8_t(v);
                p[1] = uint8_t(v >> 8);
            } else {
                p[0] = c.b;
                p[1] = c.g;
                p[2] = c.r;
                if (bits == 32)
                    p[3] = 0;
            }
        }
    }
    return px;
}

WmvBitmapInfo bitmapOf(int w, int h, int bits)
{
    WmvBitmapInfo b;
    b.biWidth = w;
    b.biHeight = h;
    b.biBitCount = uint16_t(bits);
    b.biSizeImage = uint32_t(w * h * bits / 8);
    return b;
}

WmvWaveFormat monoSound()
{
    return WmvWaveFormat{1, kRate, 3000, 16};
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Every decoded picture as RGB, top row first, one after the other.
std::vector<uint8_t> picturesRgb(const std::string& path)
{
    std::string out;
    runCommand("ffmpeg -nostdin -v error -i " + quoted(path) + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -",
               &out, false);
    return std::vector<uint8_t>(out.begin(), out.end());
}

// The samples of the sound track as a player gets them, and where the first
// one plays (s). The decoder gives nothing for the first two coded blocks
// (2048 samples): the track is heard from their end on, in its place.
std::vector<float> decodedSound(const std::string& path)
{
    std::string out;
    runCommand("ffmpeg -nostdin -v error -i " + quoted(path) + " -map 0:a:0 -f s16le -ac 1 -", &out, false);
    std::vector<float> s(out.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = float(int16_t(uint8_t(out[2 * i]) | uint8_t(out[2 * i + 1]) << 8)) / 32768.0f;
    return s;
}

double firstSoundSampleTime(const std::string& path)
{
    std::string out;
    runCommand("ffprobe -v error -select_streams a:0 -show_entries frame=pts_time -of csv=p=0 " + quoted(path), &out,
               false);
    return std::atof(out.c_str());
}

// Presentation times (s) of the packets of the first stream of a type, and
// their key flags.
struct PacketTimes {
    std::vector<double> pts;
    std::vector<bool> key;
};
PacketTimes packetTimes(const std::string& path, const char* stream)
{
    std::string out;
    runCommand(std::string("ffprobe -v error -select_streams ") + stream + ":0 -show_entries packet=pts_time,flags" +
                   " -of csv=p=0 " + quoted(path),
               &out, false);
    PacketTimes t;
    size_t at = 0;
    while (at < out.size()) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t comma = line.find(',');
        if (comma != std::string::npos) {
            t.pts.push_back(std::atof(line.c_str()));
            t.key.push_back(line.find('K', comma) != std::string::npos);
        }
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return t;
}

bool near(const uint8_t* p, Rgb c, int tolerance = 24)
{
    return std::abs(p[0] - c.r) <= tolerance && std::abs(p[1] - c.g) <= tolerance && std::abs(p[2] - c.b) <= tolerance;
}

class WmvWriterTest : public ::testing::Test {
protected:
    std::string path = tempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".wmv");
    WmvWriter writer;

    // Writes `seconds` of pictures at `fps` and, with sound, a tone in blocks
    // of a quarter second, as the recording hands them over.
    void record(int w, int h, int bits, int fps, double seconds, bool sound, double toneHz = 440)
    {
        ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(w, h, bits), fps, 200000, sound ? &wave : nullptr));
        const int pictures = int(seconds * fps);
        const int block = kRate / 4;
        int soundFrames = 0;
        for (int i = 0; i < pictures; ++i) {
            const uint32_t ms = uint32_t(i * 1000 / fps);
            const auto px = makePicture(w, h, bits, Rgb{200, 40, 40}, Rgb{40, 40, 200}, (i * 4) % (w - 8));
            ASSERT_EQ(1, writer.WriteVideo(ms, px.data(), px.size())) << i;
            // The sound of the picture's interval follows it.
            while (sound && soundFrames + block <= int(int64_t(i + 1) * kRate / fps)) {
                const auto pcm = tones::makeTonePcm(kRate, 1, block, toneHz, 0.5, soundFrames);
                const uint32_t at = uint32_t(int64_t(soundFrames) * 1000 / kRate);
                ASSERT_EQ(1, writer.WriteAudio(at, pcm.data(), pcm.size()));
                soundFrames += block;
            }
        }
        ASSERT_EQ(1, writer.Close());
    }

    WmvWaveFormat wave = monoSound();
};

TEST_F(WmvWriterTest, RecordingWithSoundIsOneWmv2AndOneWmav2StreamThatDecodeCleanly)
{
    record(320, 240, 32, 15, 4, true);
    EXPECT_EQ("", decodeErrors(path));
    EXPECT_EQ("asf", probeEntry(path, nullptr, "format", "format_name"));
    EXPECT_EQ("2", probeEntry(path, nullptr, "format", "nb_streams"));
    EXPECT_EQ("wmv2", streamField(path, "v", "codec_name"));
    EXPECT_EQ("320", streamField(path, "v", "width"));
    EXPECT_EQ("240", streamField(path, "v", "height"));
    EXPECT_EQ("wmav2", streamField(path, "a", "codec_name"));
    EXPECT_EQ("22050", streamField(path, "a", "sample_rate"));
    EXPECT_EQ("1", streamField(path, "a", "channels"));
    // 60 pictures at 15 fps: 4 s, give or take one picture.
    EXPECT_NEAR(4.0, std::atof(probeEntry(path, nullptr, "format", "duration").c_str()), 1.0 / 15);
    const PacketTimes pictures = packetTimes(path, "v");
    ASSERT_EQ(60u, pictures.pts.size());

    // The sound plays from the first picture on, for as long as the pictures.
    const std::vector<float> s = decodedSound(path);
    const double soundStart = firstSoundSampleTime(path) - 2048.0 / kRate;
    EXPECT_NEAR(pictures.pts[0], soundStart, 0.002);
    EXPECT_NEAR(4.0, double(s.size() + 2048) / kRate, 1.0 / 15);
    const std::vector<float> body(s.begin() + kRate / 2, s.end() - kRate / 2);
    EXPECT_NEAR(440.0, tones::peakFrequencyHz(body, kRate), 2.0);
}

TEST_F(WmvWriterTest, WithoutSoundTheFileHasOnlyTheVideoStream)
{
    record(160, 120, 32, 10, 2, false);
    EXPECT_EQ("", decodeErrors(path));
    EXPECT_EQ("1", probeEntry(path, nullptr, "format", "nb_streams"));
    EXPECT_EQ("wmv2", streamField(path, "v", "codec_name"));
    EXPECT_EQ("", streamField(path, "a", "codec_name"));
    EXPECT_EQ(0, writer.AudioBitRate());
}

TEST_F(WmvWriterTest, BottomUpPicturesOfEveryDepthComeBackUprightInTheirColours)
{
    const Rgb red{200, 40, 40}, blue{40, 40, 200};
    for (int bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        const int w = 96, h = 64;
        ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(w, h, bits), 10, 400000, nullptr));
        const auto px = makePicture(w, h, bits, red, blue);
        for (uint32_t ms = 0; ms < 500; ms += 100)
            ASSERT_EQ(1, writer.WriteVideo(ms, px.data(), px.size()));
        ASSERT_EQ(1, writer.Close());
        const std::vector<uint8_t> rgb = picturesRgb(path);
        ASSERT_EQ(size_t(w * h * 3) * 5, rgb.size());
        EXPECT_TRUE(near(&rgb[(8 * w + w / 2) * 3], red)) << "top";
        EXPECT_TRUE(near(&rgb[((h - 8) * w + w / 2) * 3], blue)) << "bottom";
    }
}

TEST_F(WmvWriterTest, OnlyTheChangedPartsOfAPictureAreTakenAgain)
{
    const Rgb red{200, 40, 40}, blue{40, 40, 200}, green{40, 200, 40};
    const int w = 128, h = 96;
    // A blue square in the top-left quarter; the whole right half turns
    // green as well, but only the square is reported as changed.
    std::vector<uint8_t> plain = makePicture(w, h, 32, red, red);
    std::vector<uint8_t> changed = makePicture(w, h, 32, green, green);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w / 2; ++x) {
            uint8_t* p = &changed[(size_t(h - 1 - y) * w + x) * 4];
            const Rgb c = (x >= 16 && x < 48 && y >= 16 && y < 48) ? blue : red;
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
    const Rect square{16, 16, 47, 47};
    const WmvChanges onlySquare{&square, 1}, nothing{};
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(w, h, 32), 10, 2000000, nullptr));
    ASSERT_EQ(1, writer.WriteVideo(0, plain.data(), plain.size(), 0, &nothing)) << "the first is taken whole";
    ASSERT_EQ(1, writer.WriteVideo(100, changed.data(), changed.size(), 0, &onlySquare));
    ASSERT_EQ(1, writer.WriteVideo(200, changed.data(), changed.size(), 0, &nothing));
    // A refused picture's changes are not lost: the next one is taken whole.
    EXPECT_EQ(0, writer.WriteVideo(200, changed.data(), changed.size(), 0, &onlySquare));
    ASSERT_EQ(1, writer.WriteVideo(300, changed.data(), changed.size(), 0, &nothing));
    ASSERT_EQ(1, writer.Close());

    const std::vector<uint8_t> rgb = picturesRgb(path);
    const size_t frame = size_t(w * h * 3);
    ASSERT_EQ(frame * 4, rgb.size());
    auto at = [&](int n, int x, int y) { return &rgb[frame * n + (size_t(y) * w + x) * 3]; };
    EXPECT_TRUE(near(at(0, 32, 32), red));
    for (int n : {1, 2}) {
        EXPECT_TRUE(near(at(n, 32, 32), blue)) << n;
        EXPECT_TRUE(near(at(n, 100, 48), red)) << n << ": not reported, not taken";
    }
    EXPECT_TRUE(near(at(3, 32, 32), blue));
    EXPECT_TRUE(near(at(3, 100, 48), green));
}

TEST_F(WmvWriterTest, AStillScreenIsCodedLessOftenAndStillLastsItsTime)
{
    // Ten seconds at 10 fps of a still picture, then a change at 8 s. Every
    // other still picture comes with a rectangle reported changed that holds
    // what it held (a cursor drawn again in its place).
    const int w = 96, h = 64;
    const auto grey = makePicture(w, h, 32, Rgb{90, 90, 90}, Rgb{90, 90, 90});
    const auto marked = makePicture(w, h, 32, Rgb{90, 90, 90}, Rgb{90, 90, 90}, 40);
    const Rect mark{40, 28, 47, 35}, corner{0, 0, 31, 31};
    const WmvChanges nothing{}, changed{&mark, 1}, redrawn{&corner, 1};
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(w, h, 32), 10, 200000, nullptr));
    for (int i = 0; i < 100; ++i) {
        const auto& px = i < 80 ? grey : marked;
        const WmvChanges* c = i == 80 ? &changed : (i % 2 ? &redrawn : &nothing);
        ASSERT_EQ(1, writer.WriteVideo(uint32_t(i * 100), px.data(), px.size(), 0, c));
    }
    ASSERT_EQ(1, writer.Close());
    EXPECT_EQ("", decodeErrors(path));
    const PacketTimes t = packetTimes(path, "v");
    // The first picture, a second of pictures after it, then one a second;
    // the change and a second after it, and the last picture at 9.9 s.
    EXPECT_GE(t.pts.size(), 1u + 10 + 6 + 11);
    EXPECT_LE(t.pts.size(), 1u + 10 + 8 + 11 + 1);
    for (size_t i = 1; i < t.pts.size(); ++i)
        EXPECT_LE(t.pts[i] - t.pts[i - 1], 1.0 + 1e-6) << i;
    EXPECT_NEAR(8.0, t.pts[size_t(std::find_if(t.pts.begin(), t.pts.end(), [](double p) { return p > 7.95; }) -
                                  t.pts.begin())],
                1e-6);
    EXPECT_NEAR(9.9, t.pts.back(), 1e-6);
    EXPECT_NEAR(10.0, std::atof(probeEntry(path, nullptr, "format", "duration").c_str()), 0.0015);
}

TEST_F(WmvWriterTest, SampleTimesAreMillisecondsInHundredNanosecondUnits)
{
    EXPECT_EQ(15000000, WmvWriter::SampleTime100ns(1500));
    EXPECT_EQ(0, WmvWriter::SampleTime100ns(0));
    EXPECT_EQ(int64_t(0xFFFFFFFFu) * 10000, WmvWriter::SampleTime100ns(0xFFFFFFFFu));

    // Pictures at 0, 1500 and 3100 ms show at those times; the last one for
    // the 250 ms it was given, and the file ends with it.
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(64, 48, 24), 15, 100000, nullptr));
    for (uint32_t ms : {0u, 1500u, 3100u}) {
        const auto px = makePicture(64, 48, 24, Rgb{10, 200, 10}, Rgb{10, 10, 10}, int(ms / 100));
        ASSERT_EQ(1, writer.WriteVideo(ms, px.data(), px.size(), ms == 3100 ? 250 : 0));
    }
    // Times must grow.
    const auto px = makePicture(64, 48, 24, Rgb{0, 0, 0}, Rgb{0, 0, 0});
    EXPECT_EQ(0, writer.WriteVideo(3100, px.data(), px.size()));
    ASSERT_EQ(1, writer.Close());
    const PacketTimes t = packetTimes(path, "v");
    ASSERT_EQ(3u, t.pts.size());
    EXPECT_NEAR(1.5, t.pts[1] - t.pts[0], 0.0005);
    EXPECT_NEAR(3.1, t.pts[2] - t.pts[0], 0.0005);
    EXPECT_NEAR(3.35, std::atof(probeEntry(path, nullptr, "format", "duration").c_str()), 0.0015);
}

TEST_F(WmvWriterTest, SoundBlocksOfAnySizeUpToTheLargestAllReachTheFile)
{
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(64, 48, 32), 15, 100000, &wave));
    // A small first block, then the largest the writer takes: its buffers
    // are not sized by the first one.
    const int blocks[] = {2, 441, int(WmvWriter::kMaxAudioBlock / 2), 5000, 1, int(WmvWriter::kMaxAudioBlock / 2)};
    int frames = 0;
    for (int n : blocks) {
        const auto pcm = tones::makeTonePcm(kRate, 1, n, 660, 0.5, frames);
        ASSERT_EQ(1, writer.WriteAudio(uint32_t(int64_t(frames) * 1000 / kRate), pcm.data(), pcm.size())) << n;
        frames += n;
    }
    // Too long, or not whole sample frames: refused, nothing taken.
    const std::vector<uint8_t> big(WmvWriter::kMaxAudioBlock + 2, 0), odd(3, 0);
    EXPECT_EQ(0, writer.WriteAudio(uint32_t(int64_t(frames) * 1000 / kRate), big.data(), big.size()));
    EXPECT_EQ(0, writer.WriteAudio(uint32_t(int64_t(frames) * 1000 / kRate), odd.data(), odd.size()));
    const auto px = makePicture(64, 48, 32, Rgb{0, 0, 0}, Rgb{0, 0, 0});
    ASSERT_EQ(1, writer.WriteVideo(0, px.data(), px.size()));
    ASSERT_EQ(1, writer.Close());
    EXPECT_EQ("", decodeErrors(path));

    const std::vector<float> s = decodedSound(path);
    // Everything handed in but the first two blocks, plus at most one block
    // of padding at the end.
    EXPECT_GE(int(s.size()), frames - 2048);
    EXPECT_LE(int(s.size()), frames - 2048 + 1024);
    const std::vector<float> body(s.begin() + 4096, s.begin() + frames - 4096);
    EXPECT_NEAR(660.0, tones::peakFrequencyHz(body, kRate), 2.0);
}

TEST_F(WmvWriterTest, SoundThatStartsLaterThanTheSoundSoFarKeepsItsPlace)
{
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(64, 48, 32), 15, 100000, &wave));
    const auto px = makePicture(64, 48, 32, Rgb{0, 0, 0}, Rgb{0, 0, 0});
    ASSERT_EQ(1, writer.WriteVideo(0, px.data(), px.size()));
    // One second of tone, then one second lost, then tone from 2000 ms.
    const auto first = tones::makeTonePcm(kRate, 1, kRate, 440, 0.5);
    const auto second = tones::makeTonePcm(kRate, 1, kRate, 440, 0.5);
    ASSERT_EQ(1, writer.WriteAudio(0, first.data(), first.size()));
    ASSERT_EQ(1, writer.WriteAudio(2000, second.data(), second.size()));
    ASSERT_EQ(1, writer.Close());

    const std::vector<float> s = decodedSound(path);
    ASSERT_GE(s.size(), size_t(3 * kRate - 2048));
    // Times on the picture's clock: the lost second is silent and the tone
    // resumes at two seconds.
    const double offset = firstSoundSampleTime(path) - packetTimes(path, "v").pts[0];
    auto level = [&](double from, double to) {
        double e = 0;
        for (size_t i = size_t((from - offset) * kRate); i < size_t((to - offset) * kRate); ++i)
            e += double(s[i]) * s[i];
        return std::sqrt(e / ((to - from) * kRate));
    };
    EXPECT_GT(level(0.3, 0.9), 0.2);
    EXPECT_LT(level(1.2, 1.8), 0.01);
    EXPECT_GT(level(2.2, 2.8), 0.2);
}

TEST_F(WmvWriterTest, AKeyFrameComesAtLeastEveryTwentySeconds)
{
    // A nearly still screen for 50 s at 2 fps, then 1 fps (pictures covering
    // two slots each); it changes with every tenth picture and is reported
    // unchanged in between.
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(64, 48, 32), 2, 50000, nullptr));
    const WmvChanges nothing{};
    uint32_t ms = 0;
    for (int i = 0; ms <= 50000; ++i) {
        const auto px = makePicture(64, 48, 32, Rgb{90, 90, 90}, Rgb{20, 20, 20}, (i / 10) % 50);
        ASSERT_EQ(1, writer.WriteVideo(ms, px.data(), px.size(), 0, i % 10 ? &nothing : nullptr));
        ms += ms < 25000 ? 500 : 1000;
    }
    ASSERT_EQ(1, writer.Close());
    const PacketTimes t = packetTimes(path, "v");
    ASSERT_GT(t.pts.size(), 40u);
    ASSERT_TRUE(t.key[0]);
    double lastKey = t.pts[0];
    int keys = 0;
    for (size_t i = 1; i < t.pts.size(); ++i) {
        if (t.key[i]) {
            EXPECT_LE(t.pts[i] - lastKey, 20.0 + 1e-6) << i;
            lastKey = t.pts[i];
            ++keys;
        }
    }
    EXPECT_LE(t.pts.back() - lastKey, 20.0 + 1e-6);
    EXPECT_LE(keys, 4) << "still pictures need no more key frames than that";
}

TEST_F(WmvWriterTest, OpenRefusesWhatItCannotWriteAndLeavesNoFile)
{
    EXPECT_EQ(0, writer.Open("/proc/quillet-no/x.wmv", bitmapOf(64, 48, 32), 15, 100000, &wave));
    EXPECT_FALSE(writer.IsOpen());
    const auto px = makePicture(64, 48, 32, Rgb{0, 0, 0}, Rgb{0, 0, 0});
    EXPECT_EQ(0, writer.WriteVideo(0, px.data(), px.size()));
    EXPECT_EQ(0, writer.WriteAudio(0, px.data(), 100));

    struct Bad {
        WmvBitmapInfo b;
        int fps;
        WmvWaveFormat wf;
        const char* what;
    };
    WmvBitmapInfo eight = bitmapOf(64, 48, 8), odd = bitmapOf(63, 48, 32), shortImage = bitmapOf(64, 48, 32);
    shortImage.biSizeImage -= 1;
    const Bad bad[] = {{eight, 15, wave, "8-bit pictures"},
                       {odd, 15, wave, "odd width"},
                       {shortImage, 15, wave, "image size below the rows"},
                       {bitmapOf(64, 48, 32), 0, wave, "no frame rate"},
                       {bitmapOf(64, 48, 32), 15, WmvWaveFormat{1, kRate, 3000, 8}, "8-bit sound"},
                       {bitmapOf(64, 48, 32), 15, WmvWaveFormat{6, kRate, 3000, 16}, "six channels"}};
    for (const Bad& b : bad) {
        std::filesystem::remove(path);
        EXPECT_EQ(0, writer.Open(path.c_str(), b.b, b.fps, 100000, &b.wf)) << b.what;
        EXPECT_FALSE(std::filesystem::exists(path)) << b.what;
    }

    // A picture shorter than the image size is refused, never read past.
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(64, 48, 32), 15, 100000, nullptr));
    EXPECT_EQ(0, writer.WriteVideo(0, px.data(), px.size() - 1));
    EXPECT_EQ(1, writer.WriteVideo(0, px.data(), px.size()));
    EXPECT_EQ(1, writer.Close());
}

TEST_F(WmvWriterTest, AFullDiskIsReported)
{
    const std::string full = "/dev/full";
    if (!std::filesystem::exists(full))
        GTEST_SKIP() << "no /dev/full";
    if (writer.Open(full.c_str(), bitmapOf(320, 240, 32), 10, 400000, &wave)) {
        bool refused = false;
        for (int i = 0; i < 50 && !refused; ++i) {
            const auto px = makePicture(320, 240, 32, Rgb{200, 40, 40}, Rgb{40, 40, 200}, i * 6);
            refused = writer.WriteVideo(uint32_t(i * 100), px.data(), px.size()) == 0;
        }
        EXPECT_TRUE(writer.Failed());
        EXPECT_EQ(0, writer.Close());
    }
    EXPECT_TRUE(std::filesystem::exists(full)) << "a device is never removed";
}

TEST_F(WmvWriterTest, BitRatesAreTheRequestedVideoRateAndTheNearestSoundRate)
{
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(320, 240, 32), 15, 803000, &wave));
    EXPECT_EQ(803000, writer.VideoBitRate());
    // 3000 bytes/s asks for 24000 bits/s, which the coder offers.
    EXPECT_EQ(24000, writer.AudioBitRate());
    writer.Close();
    // Below the lowest rate on offer the lowest is taken.
    WmvWaveFormat low{1, 11025, 2000, 16};
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(320, 240, 32), 15, 100000, &low));
    EXPECT_EQ(24000, writer.AudioBitRate());
    writer.Close();
}

TEST_F(WmvWriterTest, SoundFarBehindThePicturesNeitherHoldsThemNorBreaksTheFile)
{
    // Five seconds of pictures before any sound; then the sound of those five
    // seconds and more. The muxer would stop the program on a packet back in
    // time; the pictures leave after the buffer window, the sound they have
    // passed is left out.
    ASSERT_EQ(1, writer.Open(path.c_str(), bitmapOf(320, 240, 32), 10, 400000, &wave));
    for (int i = 0; i < 50; ++i) {
        const auto px = makePicture(320, 240, 32, Rgb{200, 40, 40}, Rgb{40, 40, 200}, i * 6);
        ASSERT_EQ(1, writer.WriteVideo(uint32_t(i * 100), px.data(), px.size()));
    }
    // Pictures of the first seconds are in the file already (the muxer
    // keeps the rest of a 3200-byte packet it is filling).
    EXPECT_GE(packetTimes(path, "v").pts.size(), 5u) << "pictures are not held back for the sound";
    for (int i = 0; i < 28; ++i) {
        const auto pcm = tones::makeTonePcm(kRate, 1, kRate / 4, 440, 0.5, i * kRate / 4);
        ASSERT_EQ(1, writer.WriteAudio(uint32_t(i * 250), pcm.data(), pcm.size()));
        if (i >= 24) {
            const auto px = makePicture(320, 240, 32, Rgb{200, 40, 40}, Rgb{40, 40, 200}, i * 6);
            ASSERT_EQ(1, writer.WriteVideo(uint32_t(5000 + (i - 24) * 250), px.data(), px.size()));
        }
    }
    ASSERT_EQ(1, writer.Close());
    EXPECT_EQ("", decodeErrors(path));
    EXPECT_EQ(54u, packetTimes(path, "v").pts.size());
    const PacketTimes sound = packetTimes(path, "a");
    ASSERT_FALSE(sound.pts.empty());
    EXPECT_GT(sound.pts.front(), 1.5) << "the sound of the first seconds is left out";
    EXPECT_NEAR(7.0, sound.pts.back(), 0.1);
}

TEST(TimeInterleaver, ReleasesInTimeOrderOnceNoStreamCanComeEarlier)
{
    TimeInterleaver<int> order(2, 3000);
    TimeInterleaver<int>::Item item;
    ASSERT_TRUE(order.push(0, 0, 100));
    ASSERT_TRUE(order.push(0, 66, 101));
    EXPECT_FALSE(order.pop(&item)) << "the sound may still bring something earlier";
    ASSERT_TRUE(order.push(1, 0, 200));
    ASSERT_TRUE(order.push(1, 46, 201));
    std::vector<int> out;
    while (order.pop(&item))
        out.push_back(item.payload);
    // 66 waits: the sound has only reached 46.
    EXPECT_EQ((std::vector<int>{100, 200, 201}), out);
    ASSERT_TRUE(order.push(1, 92, 202));
    ASSERT_TRUE(order.pop(&item));
    EXPECT_EQ(101, item.payload);
    EXPECT_FALSE(order.pop(&item)) << "92 waits for the pictures";

    // A stream that falls more than the lag behind no longer holds the other
    // back, and what it brings from before the packets out is refused.
    for (int t = 133; t <= 3300; t += 67)
        ASSERT_TRUE(order.push(0, t, t));
    std::vector<int> late;
    while (order.pop(&item))
        late.push_back(item.payload);
    EXPECT_EQ((std::vector<int>{202, 133, 200, 267}), late);
    EXPECT_FALSE(order.push(1, 138, 203));
    EXPECT_TRUE(order.push(1, 267, 204));
    EXPECT_FALSE(order.empty());
    while (order.pop(&item, true))
        ;
    EXPECT_TRUE(order.empty());
}

TEST(WmvAudioChoice, NearestRateWinsAndOnlyAStrictlyNearerOneReplacesIt)
{
    EXPECT_EQ(-1, chooseWmvAudio({}, 3000, true));
    // Targets of 3000 bytes/s: 24000 bits/s.
    const std::vector<WmvAudioChoice> offered = {{4000, 1000}, {3000, 800}, {2500, 600}, {3500, 900}};
    EXPECT_EQ(1, chooseWmvAudio(offered, 3000, true));
    EXPECT_EQ(2, chooseWmvAudio(offered, 2000, true));
    EXPECT_EQ(0, chooseWmvAudio(offered, 9000, true));
    // A tie keeps the first.
    EXPECT_EQ(0, chooseWmvAudio({{2000, 500}, {4000, 500}}, 3000, true));
    // With video a nearer coding needing larger blocks does not replace the
    // one kept; without video one needing smaller blocks does not.
    const std::vector<WmvAudioChoice> blocks = {{2000, 500}, {3000, 900}, {2900, 400}};
    EXPECT_EQ(2, chooseWmvAudio(blocks, 3000, true));
    EXPECT_EQ(1, chooseWmvAudio(blocks, 3000, false));
}

TEST_F(WmvWriterTest, AKilledRecordingStillPlaysWhatWasWritten)
{
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        WmvWriter w;
        WmvWaveFormat wf = monoSound();
        if (!w.Open(path.c_str(), bitmapOf(160, 120, 32), 10, 200000, &wf))
            _exit(1);
        const int block = kRate / 4;
        int soundFrames = 0;
        for (int i = 0;; ++i) {
            const uint32_t ms = uint32_t(i * 100);
            const auto px = makePicture(160, 120, 32, Rgb{200, 40, 40}, Rgb{40, 40, 200}, (i * 4) % 150);
            w.WriteVideo(ms, px.data(), px.size());
            while (soundFrames <= int(int64_t(ms) * kRate / 1000)) {
                const auto pcm = tones::makeTonePcm(kRate, 1, block, 440, 0.5, soundFrames);
                w.WriteAudio(uint32_t(int64_t(soundFrames) * 1000 / kRate), pcm.data(), pcm.size());
                soundFrames += block;
            }
            if (i == 50) { // five seconds written
                const char c = 1;
                if (write(ready[1], &c, 1) != 1)
                    _exit(1);
            }
            if (i >= 50)
                usleep(20000);
        }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    close(ready[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    // The final header and the index are missing; what was written plays.
    EXPECT_EQ("", decodeErrors(path));
    EXPECT_EQ("wmv2", streamField(path, "v", "codec_name"));
    EXPECT_EQ("wmav2", streamField(path, "a", "codec_name"));
    const PacketTimes t = packetTimes(path, "v");
    ASSERT_FALSE(t.pts.empty());
    EXPECT_GE(t.pts.back() - t.pts.front(), 4.0);
    const std::vector<float> s = decodedSound(path);
    EXPECT_GE(double(s.size()) / kRate, 4.0);
}

} // namespace
