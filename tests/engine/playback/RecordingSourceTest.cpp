// The containers of the screen-codec recordings read back without decoding:
// frames with their ticks, key flags, regions, side data and cursor, sound in
// between, and files cut or damaged anywhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "engine/outputs/FrameRecords.h"
#include "engine/playback/RecordingSource.h"
#include "engine/session/OwnRecordHeader.h"
#include "mux/avi/AviWriter.h"
#include "tests/engine/playback/PlaybackTestFiles.h"

namespace quillet {
namespace {

using test::Bytes;
using test::readBytes;
using test::scratchPath;
using test::writeBytes;

struct PlannedFrame {
    bool key;
    int ticks;
    std::vector<std::pair<Rect, Bytes>> regions;
    Bytes side;
    bool cursor;
    int x, y;
    Bytes picture;
};

std::vector<PlannedFrame> scene(bool withSide)
{
    std::vector<PlannedFrame> f;
    for (int i = 0; i < 12; ++i) {
        PlannedFrame s{i % 5 == 0, i % 4 == 3 ? 3 : 1, {}, {}, i % 3 == 0, 10 * i, 5 * i, {}};
        for (int r = 0; r < i % 4; ++r)
            s.regions.push_back({Rect{16 * r, 16, 16 * r + 15, 47}, Bytes(static_cast<size_t>(20 + 7 * i + r), uint8_t(i))});
        if (i % 6 == 2)
            s.picture = Bytes(40, uint8_t(0xC0 + i));
        // A side-data length of exactly one chunk needs the empty chunk behind it.
        if (withSide && i == 4)
            s.side = Bytes(records::kSideDataChunk, 0x5A);
        else if (withSide && i == 7)
            s.side = Bytes(130001, 0x33);
        f.push_back(s);
    }
    return f;
}

Bytes soundChunk(int i) { return Bytes(static_cast<size_t>(31 + i), uint8_t(0x90 + i)); }

std::string writeAvi(const std::vector<PlannedFrame>& frames)
{
    const std::string path = scratchPath("source.avi");
    AviWriter w;
    AviVideoFormat f;
    f.width = 160;
    f.height = 96;
    f.sizeImage = 160 * 96 * 2;
    const uint8_t wfx[30] = {0x55, 0, 1, 0, 0x11, 0x2B, 0, 0, 0xD0, 0x07, 0, 0, 1, 0, 16, 0, 12, 0};
    EXPECT_EQ(w.Open(path.c_str(), 10, f, wfx, sizeof wfx), 1);
    AviPacketBuilder b;
    for (size_t i = 0; i < frames.size(); ++i) {
        const PlannedFrame& s = frames[i];
        b.begin();
        for (const auto& r : s.regions) {
            uint8_t* room = b.regionSpace(r.second.size());
            std::copy(r.second.begin(), r.second.end(), room);
            EXPECT_EQ(b.commitRegion(r.first, r.second.size()), 1);
        }
        EXPECT_EQ(b.addSideData(s.side.data(), s.side.size()), 1);
        if (s.cursor)
            b.setCursor(s.x, s.y, s.picture.data(), s.picture.size());
        const size_t n = b.finish(s.key);
        EXPECT_EQ(w.WriteVideo(b.data(), n, s.ticks, s.key), 1);
        const Bytes a = soundChunk(static_cast<int>(i));
        EXPECT_EQ(w.WriteAudio(a.data(), a.size()), 1);
    }
    EXPECT_EQ(w.Close(), 1);
    return path;
}

std::string writeOwn(const std::vector<PlannedFrame>& frames)
{
    OwnRecordHeader head;
    AudioTargetFormat t = buildAudioTargetFormat(1, OutputOwnRecord);
    head.build(160, 96, 10, &t);
    Bytes file(head.bytes(), head.bytes() + head.size());
    uint32_t keys = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const PlannedFrame& s = frames[i];
        if (s.key && head.setKeyFrameOffset(++keys, static_cast<uint32_t>(file.size())))
            std::copy(head.bytes(), head.bytes() + head.size(), file.begin());
        auto region = [&](const Rect& r, const Bytes& d, uint8_t advance) {
            uint8_t h[records::kOwnRegionHeader];
            putOwnRegionHeader(h, s.key, advance, r, d.size());
            file.insert(file.end(), h, h + sizeof h);
            file.insert(file.end(), d.begin(), d.end());
        };
        auto sound = [&](const Bytes& d) {
            uint8_t h[records::kOwnSoundHeader];
            putOwnSoundHeader(h, d.size());
            file.insert(file.end(), h, h + sizeof h);
            file.insert(file.end(), d.begin(), d.end());
        };
        for (size_t r = 0; r + 1 < s.regions.size(); ++r) {
            region(s.regions[r].first, s.regions[r].second, 0);
            if (r == 0)
                sound(soundChunk(static_cast<int>(i))); // sound may fall inside a frame
        }
        if (s.regions.empty())
            region(Rect{144, 80, 159, 95}, {}, static_cast<uint8_t>(s.ticks));
        else
            region(s.regions.back().first, s.regions.back().second, static_cast<uint8_t>(s.ticks));
        if (s.regions.size() < 2)
            sound(soundChunk(static_cast<int>(i)));
        uint8_t c[8];
        putOwnCursorHeader(c, s.cursor, s.picture.size());
        file.insert(file.end(), c, c + 4);
        if (s.cursor) {
            putLE16(c + 4, static_cast<uint32_t>(s.x));
            putLE16(c + 6, static_cast<uint32_t>(s.y));
            file.insert(file.end(), c + 4, c + 8);
            file.insert(file.end(), s.picture.begin(), s.picture.end());
        }
    }
    const std::string path = scratchPath("source.rec");
    writeBytes(path, file);
    return path;
}

struct Read {
    std::vector<SourceFrame> frames;
    std::vector<Bytes> sound;
    uint32_t ticks = 0;
};

Read readAll(RecordingSource& s)
{
    Read r;
    for (int item; (item = s.next()) != RecordingSource::End;) {
        if (item == RecordingSource::Sound)
            r.sound.push_back(s.sound());
        else
            r.frames.push_back(s.frame());
    }
    r.ticks = s.ticks();
    return r;
}

// The first `count` frames are those written.
void expectFrames(const Read& got, const std::vector<PlannedFrame>& want, size_t count)
{
    ASSERT_GE(got.frames.size(), count);
    uint32_t tick = 0;
    for (size_t i = 0; i < count; ++i) {
        const SourceFrame& f = got.frames[i];
        const PlannedFrame& s = want[i];
        EXPECT_EQ(f.tick, tick) << i;
        EXPECT_EQ(f.key, s.key) << i;
        ASSERT_EQ(f.regions.size(), s.regions.size()) << i;
        for (size_t r = 0; r < s.regions.size(); ++r) {
            EXPECT_EQ(f.regions[r].rect, s.regions[r].first);
            EXPECT_EQ(Bytes(f.data(f.regions[r]), f.data(f.regions[r]) + f.regions[r].size), s.regions[r].second);
        }
        EXPECT_EQ(f.sideData, s.side) << i;
        EXPECT_EQ(f.cursor, s.cursor) << i;
        if (s.cursor) {
            EXPECT_EQ(f.cursorX, s.x);
            EXPECT_EQ(f.cursorY, s.y);
            EXPECT_EQ(f.cursorPicture, s.picture);
        }
        tick += static_cast<uint32_t>(s.ticks);
    }
}

TEST(RecordingSourceTest, AviFramesComeBackWithTicksRecordsAndCursor)
{
    const std::vector<PlannedFrame> want = scene(true);
    RecordingSource s;
    ASSERT_EQ(s.open(writeAvi(want)), 1) << s.error();
    EXPECT_EQ(s.kind(), RecordingKind::Avi);
    EXPECT_EQ(s.width(), 160);
    EXPECT_EQ(s.framesPerSecond(), 10);
    EXPECT_TRUE(s.soundFormat().present);
    EXPECT_EQ(s.soundFormat().sampleRate, 11025u);
    const Read got = readAll(s);
    EXPECT_EQ(got.frames.size(), want.size());
    expectFrames(got, want, want.size());
    EXPECT_EQ(got.sound.size(), want.size());
    EXPECT_EQ(got.sound[3], soundChunk(3));
    EXPECT_EQ(got.ticks, 18u);
    EXPECT_EQ(s.declaredDurationMs(), 1800u);
    EXPECT_FALSE(s.damaged());
}

TEST(RecordingSourceTest, OwnFileFramesGatherTheirRecordsAroundSound)
{
    const std::vector<PlannedFrame> want = scene(false);
    RecordingSource s;
    ASSERT_EQ(s.open(writeOwn(want)), 1) << s.error();
    EXPECT_EQ(s.kind(), RecordingKind::OwnRecord);
    EXPECT_EQ(s.height(), 96);
    EXPECT_EQ(s.soundFormat().avgBytesPerSecond, 2000u);
    const Read got = readAll(s);
    EXPECT_EQ(got.frames.size(), want.size());
    expectFrames(got, want, want.size());
    ASSERT_EQ(got.sound.size(), want.size());
    EXPECT_EQ(got.sound[5], soundChunk(5));
    EXPECT_EQ(got.ticks, 18u);
    EXPECT_FALSE(s.damaged());

    // Seeking to a key frame's place continues from there.
    ASSERT_EQ(s.seek(got.frames[5].offset, got.frames[5].tick), 1);
    const Read rest = readAll(s);
    ASSERT_EQ(rest.frames.size(), want.size() - 5);
    EXPECT_EQ(rest.frames[0].tick, got.frames[5].tick);
    EXPECT_TRUE(rest.frames[0].key);
}

TEST(RecordingSourceTest, CutFilesGiveTheirWholeFramesAndNameTheOffset)
{
    for (bool avi : {true, false}) {
        const std::vector<PlannedFrame> want = scene(false); // small files: every third byte a cut
        const std::string src = avi ? writeAvi(want) : writeOwn(want);
        const Bytes whole = readBytes(src);
        // Where each frame ends in the whole file.
        std::vector<uint64_t> ends;
        {
            RecordingSource s;
            ASSERT_EQ(s.open(src), 1);
            const Read r = readAll(s);
            for (size_t i = 1; i < r.frames.size(); ++i)
                ends.push_back(r.frames[i].offset);
            ends.push_back(whole.size());
        }
        const std::string cut = scratchPath(avi ? "cut.avi" : "cut.rec");
        for (size_t n = 0; n < whole.size(); n += 3) {
            writeBytes(cut, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
            RecordingSource s;
            if (!s.open(cut)) {
                EXPECT_NE(s.error().find(cut), std::string::npos) << s.error();
                continue;
            }
            const Read got = readAll(s);
            // Frames wholly inside the cut are all there (the own file's
            // last frame may lack only its cursor record, and counts).
            size_t whole_frames = 0;
            while (whole_frames < ends.size() && ends[whole_frames] <= n)
                ++whole_frames;
            ASSERT_GE(got.frames.size(), whole_frames) << n;
            ASSERT_LE(got.frames.size(), std::min(whole_frames + 1, want.size())) << n;
            expectFrames(got, want, whole_frames);
            if (s.damaged()) {
                EXPECT_NE(s.error().find("offset"), std::string::npos) << s.error();
            }
        }
    }
}

TEST(RecordingSourceTest, DamagedBytesNeverReadOutOfBounds)
{
    std::mt19937 rng(11);
    for (bool avi : {true, false}) {
        const std::vector<PlannedFrame> want = scene(avi);
        const Bytes whole = readBytes(avi ? writeAvi(want) : writeOwn(want));
        const std::string bad = scratchPath(avi ? "bad.avi" : "bad.rec");
        for (int round = 0; round < 300; ++round) {
            Bytes b = whole;
            for (int k = 0; k < 1 + round % 6; ++k)
                b[rng() % b.size()] = static_cast<uint8_t>(rng());
            writeBytes(bad, b);
            RecordingSource s;
            if (s.open(bad))
                readAll(s); // ASan builds check every read
        }
    }
}

} // namespace
} // namespace quillet
