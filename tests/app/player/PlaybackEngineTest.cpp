// The playback engine against scripted recordings on the silent output's
// clock: seeking and stepping land on the right picture, decoded from the key
// frame before; pictures keep their order and are not shown early; the sound
// is laid on its time line; damaged and cut files.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/player/media/PlaybackEngine.h"
#include "tests/app/player/ScriptedMedia.h"

namespace quillet::player {
namespace {

using namespace std::chrono_literals;
using test::CapturingOutput;
using test::ScriptedPictures;
using test::ScriptedSound;

constexpr int kRate = 8000;

int pictureIndex(const ShownPicture& p) { return p.picture->pixels[0] | p.picture->pixels[1] << 8; }

struct Rig {
    Rig(int pictures, int64_t periodMs, int keyEvery, int64_t soundMs = 0, int piece = 400)
    {
        OpenedMedia m;
        m.info.format = "scripted";
        m.info.width = 4;
        m.info.height = 2;
        m.info.durationMs = pictures * periodMs;
        auto p = std::make_unique<ScriptedPictures>(pictures, periodMs, keyEvery);
        pics = p.get();
        m.pictures = std::move(p);
        std::unique_ptr<CapturingOutput> out;
        if (soundMs > 0) {
            m.info.sound = {kRate, 1};
            auto s = std::make_unique<ScriptedSound>(kRate, soundMs * kRate / 1000, piece);
            sound = s.get();
            m.sound = std::move(s);
            out = std::make_unique<CapturingOutput>();
            output = out.get();
        }
        media = std::move(m);
        sink = std::move(out);
    }
    PlaybackEngine& make()
    {
        engine = std::make_unique<PlaybackEngine>(std::move(media), std::move(sink));
        return *engine;
    }
    // Polls as the window does until a picture comes that pred accepts.
    bool waitFor(const std::function<bool(const ShownPicture&)>& pred, std::chrono::milliseconds limit = 5000ms)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            ShownPicture p;
            int64_t next;
            if (engine->pictureDue(p, next)) {
                shown.push_back(p);
                clockAtShow.push_back(engine->clockMs());
                if (pred(p))
                    return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
    bool waitForSeek()
    {
        return waitFor([](const ShownPicture& p) { return p.seekResult; });
    }
    bool waitForEnd(std::chrono::milliseconds limit = 10000ms)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end && !engine->atEnd())
            waitFor([](const ShownPicture&) { return true; }, 5ms);
        return engine->atEnd();
    }

    OpenedMedia media;
    std::unique_ptr<SoundOutput> sink;
    ScriptedPictures* pics = nullptr;
    ScriptedSound* sound = nullptr;
    CapturingOutput* output = nullptr;
    std::unique_ptr<PlaybackEngine> engine;
    std::vector<ShownPicture> shown;
    std::vector<int64_t> clockAtShow;
};

TEST(PlaybackEngine, SeekShowsThePictureAtTheTimeDecodedFromTheKeyFrameBefore)
{
    Rig r(100, 40, 10);
    PlaybackEngine& e = r.make();
    e.start(false);
    ASSERT_TRUE(r.waitForSeek());
    EXPECT_EQ(pictureIndex(r.shown.back()), 0);

    for (const auto& [target, index] : std::vector<std::pair<int64_t, int>>{{1334, 33}, {1320, 33}, {1319, 32},
                                                                             {40, 1}, {3999, 99}, {99999, 99}}) {
        SCOPED_TRACE(target);
        e.seek(target);
        ASSERT_TRUE(r.waitForSeek());
        EXPECT_EQ(pictureIndex(r.shown.back()), index);
        EXPECT_EQ(r.shown.back().timing.startMs, index * 40);
        // From the key frame at or before the picture, forward.
        EXPECT_EQ(r.pics->advancesBeforePicture(), index % 10 + 1);
        EXPECT_FALSE(e.playing());
        EXPECT_EQ(e.clockMs(), std::min<int64_t>(target, 4000));
    }
}

TEST(PlaybackEngine, StepsGoOnePictureOnAndBackAndPlayingGoesOnFromThere)
{
    Rig r(50, 40, 25, 2000);
    PlaybackEngine& e = r.make();
    e.start(false);
    ASSERT_TRUE(r.waitForSeek());
    for (int want : {1, 2, 3}) {
        e.step(1);
        ASSERT_TRUE(r.waitForSeek());
        EXPECT_EQ(pictureIndex(r.shown.back()), want);
        EXPECT_EQ(e.clockMs(), want * 40);
    }
    e.step(-1);
    ASSERT_TRUE(r.waitForSeek());
    EXPECT_EQ(pictureIndex(r.shown.back()), 2);
    EXPECT_EQ(r.pics->lastSeekMs(), 119) << "back: the picture that shows just before";

    const size_t streamsBefore = r.output->streams().size();
    e.play();
    ASSERT_TRUE(r.waitFor([](const ShownPicture& p) { return !p.seekResult; }));
    EXPECT_EQ(pictureIndex(r.shown.back()), 3) << "playing goes on with the next picture";
    e.step(1);
    e.step(1);
    ASSERT_TRUE(r.waitForSeek());
    const int64_t at = r.shown.back().timing.startMs;
    e.play();
    ASSERT_TRUE(r.waitFor([](const ShownPicture& p) { return !p.seekResult; }));
    // The sound starts again where the stepped pictures are.
    const auto streams = r.output->streams();
    ASSERT_GT(streams.size(), streamsBefore);
    ASSERT_FALSE(streams.back().empty());
    EXPECT_EQ(streams.back()[0], ScriptedSound::trackValue(at * kRate / 1000));
}

TEST(PlaybackEngine, PlaysEveryPictureInOrderNeverEarlyToTheEnd)
{
    Rig r(30, 40, 10, 1200);
    PlaybackEngine& e = r.make();
    const auto began = std::chrono::steady_clock::now();
    e.start(true);
    ASSERT_TRUE(r.waitForEnd());
    const auto took = std::chrono::steady_clock::now() - began;
    ASSERT_FALSE(r.shown.empty());
    EXPECT_EQ(pictureIndex(r.shown.back()), 29);
    for (size_t i = 1; i < r.shown.size(); ++i) {
        EXPECT_GT(pictureIndex(r.shown[i]), pictureIndex(r.shown[i - 1]));
        EXPECT_GE(r.clockAtShow[i], r.shown[i].timing.startMs) << "shown before its time";
    }
    // Most pictures are shown; a loaded machine may pass a few over.
    EXPECT_GE(r.shown.size(), 20u);
    EXPECT_GE(took, 1150ms) << "the clock ran fast";
    EXPECT_FALSE(e.playing());
}

TEST(PlaybackEngine, SoundIsLaidOnItsTimeLineWithGapsFilledAndOverlapsCut)
{
    // 400-frame pieces; from 1200 on they come 300 frames late (a gap), from
    // 2800 on 500 frames early (an overlap with what was written).
    Rig r(20, 50, 5, 500, 400);
    r.sound->shiftFrom(1200, 300);
    r.sound->shiftFrom(2800, -500);
    PlaybackEngine& e = r.make();
    e.start(true);
    ASSERT_TRUE(r.waitForEnd());
    const auto streams = r.output->streams();
    ASSERT_FALSE(streams.empty());
    const std::vector<int16_t>& s = streams.back();
    // The pictures last 1 s: the track, then silence to the pictures' end.
    EXPECT_EQ(s.size(), size_t(kRate));
    auto expected = [](int64_t p) -> int16_t {
        if (p < 1200)
            return ScriptedSound::trackValue(p);
        if (p < 1500)
            return 0; // the gap
        if (p < 2800 + 300)
            return ScriptedSound::trackValue(p - 300);
        // The overlap: what was already written stays, the piece is cut.
        const int64_t track = p - 300 + 500;
        return track < 4000 ? ScriptedSound::trackValue(track) : int16_t(0);
    };
    int wrong = 0;
    for (size_t p = 0; p < s.size(); ++p)
        if (s[p] != expected(int64_t(p)) && ++wrong < 5)
            ADD_FAILURE() << "sample " << p << ": " << s[p] << " instead of " << expected(int64_t(p));
    EXPECT_EQ(wrong, 0);
}

TEST(PlaybackEngine, SeekStartsTheSoundAtTheTime)
{
    Rig r(40, 50, 10, 2000, 400);
    PlaybackEngine& e = r.make();
    e.start(false);
    ASSERT_TRUE(r.waitForSeek());
    e.seek(1337);
    ASSERT_TRUE(r.waitForSeek());
    e.play();
    ASSERT_TRUE(r.waitFor([](const ShownPicture& p) { return !p.seekResult; }));
    const auto streams = r.output->streams();
    ASSERT_FALSE(streams.back().empty());
    EXPECT_EQ(streams.back()[0], ScriptedSound::trackValue(1337 * kRate / 1000));
    EXPECT_GE(e.clockMs(), 1337);
}

TEST(PlaybackEngine, DamagedPictureKeepsThePreviousAndACutFileSaysWhereItStopped)
{
    Rig r(40, 40, 10);
    r.pics->damage(3);
    r.pics->cutAt(8, "x.mp4: reading stopped at byte 1234");
    PlaybackEngine& e = r.make();
    e.start(true);
    ASSERT_TRUE(r.waitForEnd());
    bool sawThird = false;
    for (const ShownPicture& p : r.shown)
        if (p.timing.index == 3) {
            sawThird = true;
            EXPECT_EQ(pictureIndex(p), 2) << "a picture that cannot be shown leaves the previous one up";
        }
    EXPECT_TRUE(sawThird || r.shown.size() < 8);
    EXPECT_EQ(r.shown.back().timing.index, 7);
    int64_t at = 0;
    std::string why;
    ASSERT_TRUE(e.stoppedEarly(at, why));
    EXPECT_EQ(at, 320);
    EXPECT_EQ(why, "x.mp4: reading stopped at byte 1234");
    bool told = false;
    for (const std::string& m : e.takeMessages())
        told |= m.find("Stopped at 0:00.3") != std::string::npos && m.find("byte 1234") != std::string::npos;
    EXPECT_TRUE(told);
}

TEST(PlaybackEngine, PlayAtTheEndStartsAgain)
{
    Rig r(10, 30, 5);
    PlaybackEngine& e = r.make();
    e.start(true);
    ASSERT_TRUE(r.waitForEnd());
    e.play();
    ASSERT_TRUE(r.waitForSeek());
    EXPECT_EQ(pictureIndex(r.shown.back()), 0);
    EXPECT_TRUE(e.playing());
}

TEST(MediaTime, Formats)
{
    EXPECT_EQ(formatMediaTime(0), "0:00.0");
    EXPECT_EQ(formatMediaTime(83456), "1:23.4");
    EXPECT_EQ(formatMediaTime(3723900), "1:02:03.9");
    EXPECT_EQ(formatMediaTime(-5), "0:00.0");
}

} // namespace
} // namespace quillet::player
