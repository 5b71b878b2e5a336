#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/SwfOutput.h"
#include "engine/session/RecordingSession.h"
#include "tests/engine/session/SessionTestSupport.h"
#include "tests/mux/SwfTestReader.h"

namespace quillet {
namespace {

using test::SwfFile;
using test::SwfTag;

std::string tempSwf(const char* name)
{
    return "/tmp/quillet-swfrec-" + std::to_string(getpid()) + "-" + name + ".swf";
}

bool isDefinition(uint16_t code)
{
    return code == kSwfTagDefineShape3 || code == kSwfTagDefineBitsLossless || code == kSwfTagDefineBitsLossless2 ||
           code == kSwfTagDefineBitsJpeg2;
}

// The SWF writer of the engine driven frame by frame on a scripted screen.
struct OutputRig {
    explicit OutputRig(const char* name, int w = 320, int h = 240) : screen(w, h), path(tempSwf(name)) {}
    ~OutputRig() { std::remove(path.c_str()); }

    int open(int level, bool sound = false)
    {
        if (!grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, false))
            return 0;
        OutputOpenParams p;
        p.fileName = path;
        p.width = grabber.width();
        p.height = grabber.height();
        p.bitsPerPixel = grabber.bitsPerPixel();
        p.framesPerSecond = 12;
        p.qualityLevel = level;
        p.sound = sound;
        p.capture.sampleRate = 11025;
        const char* key = nullptr;
        return out.open(p, &key);
    }
    VideoFrameJob frame(bool key)
    {
        now += 83;
        grabber.capture(false);
        VideoFrameJob job;
        job.grabber = &grabber;
        job.cursor = &cursor;
        job.lock = &lock;
        job.framesCounted = counted;
        job.advance = 1;
        job.keyFrame = key;
        out.videoFrame(job);
        if (!job.requestStop)
            counted += job.advance;
        return job;
    }
    SwfFile close()
    {
        out.close(counted, 12);
        SwfFile f;
        EXPECT_TRUE(f.load(path));
        EXPECT_TRUE(f.wellFormed);
        EXPECT_EQ(f.length, f.bytes.size());
        EXPECT_EQ(f.frameCount, f.count(kSwfTagShowFrame));
        return f;
    }

    SyntheticScreen screen;
    uint64_t now = 1000;
    FrameGrabber grabber{screen, [this] { return now; }};
    CursorOverlay cursor{screen};
    SessionLock lock;
    SwfOutput out;
    uint32_t counted = 0;
    std::string path;
};

// Tags between the n-th and the (n+1)-th ShowFrame (frames counted from 1).
std::vector<const SwfTag*> frameTags(const SwfFile& f, int n)
{
    std::vector<const SwfTag*> out;
    int frame = 1;
    for (const SwfTag& t : f.tags) {
        if (t.code == kSwfTagShowFrame) {
            if (frame++ == n)
                break;
            continue;
        }
        if (frame == n)
            out.push_back(&t);
    }
    return out;
}

TEST(SwfOutput, BlockModeKeyFrameRemovesEveryDepthPlacedSince)
{
    OutputRig rig("keyframe");
    rig.screen.fill(Rect{0, 0, 320, 240}, 0x3060C0);
    ASSERT_EQ(rig.open(4), 1);
    EXPECT_FALSE(rig.out.playerMode());
    rig.frame(true);
    EXPECT_EQ(rig.out.placedImageCount(), 2u);
    for (int i = 0; i < 3; ++i) {
        rig.screen.fill(Rect{100 + 20 * i, 40, 110 + 20 * i, 50}, 0xFF0000);
        rig.frame(false);
    }
    EXPECT_EQ(rig.out.placedImageCount(), 5u);
    rig.frame(true);
    EXPECT_EQ(rig.out.placedImageCount(), 2u);
    const SwfFile f = rig.close();

    std::vector<int> removed;
    for (const SwfTag* t : frameTags(f, 5))
        if (t->code == kSwfTagRemoveObject2)
            removed.push_back(int(t->le16(0)));
    EXPECT_EQ(removed, (std::vector<int>{1, 2, 3, 4}));
    // The changes sit where they were drawn, each on the next depth.
    for (int frame = 2; frame <= 4; ++frame) {
        int placed = 0;
        for (const SwfTag* t : frameTags(f, frame)) {
            if (t->code != kSwfTagPlaceObject2 || !(t->body[0] & 0x02))
                continue;
            const test::SwfPlacement p = test::readPlacement(*t);
            EXPECT_EQ(p.depth, frame);
            // Rectangles start at multiples of 16 around the change.
            EXPECT_EQ(p.matrix.translateX % (16 * 20), 0);
            EXPECT_LE(p.matrix.translateX, (100 + 20 * (frame - 2)) * 20);
            EXPECT_LE(p.matrix.translateY, 40 * 20);
            ++placed;
        }
        EXPECT_EQ(placed, 1) << "frame " << frame;
    }
}

TEST(SwfOutput, LongBlockRecordingKeepsDepthsAndIdsInRange)
{
    // 16 tiles of 320 x 240; every tile changes in every frame, the most
    // characters a frame takes.
    OutputRig rig("ids", 1280, 960);
    ASSERT_EQ(rig.open(4), 1);
    bool stopped = false;
    int frames = 0;
    for (; frames < 4000 && !stopped; ++frames) {
        for (int y = 0; y < 960; y += 240)
            for (int x = 0; x < 1280; x += 320)
                rig.screen.fill(Rect{x + 8, y + 8, x + 24, y + 24}, uint32_t(frames * 2654435761u) & 0xFFFFFF);
        stopped = rig.frame(false).requestStop;
        ASSERT_LT(rig.out.placedImageCount(), uint32_t(SwfOutput::kCursorDepth));
    }
    ASSERT_TRUE(stopped) << "the recording must end before the IDs run out";
    EXPECT_GT(frames, 1500);
    EXPECT_LT(frames, 3600) << "the IDs ran out before the five-minute limit";
    const SwfFile f = rig.close();
    std::set<uint32_t> ids;
    for (const SwfTag& t : f.tags) {
        if (isDefinition(t.code)) {
            EXPECT_TRUE(ids.insert(t.le16(0)).second) << "ID " << t.le16(0) << " defined twice";
        }
        if (t.code == kSwfTagPlaceObject2 && (t.body[0] & 0x02) && t.le16(1) == SwfOutput::kCursorDepth) {
            EXPECT_EQ(t.le16(3), 2u) << "only the cursor is placed at its depth";
        }
    }
    EXPECT_LE(*ids.rbegin(), 0xFFFFu);
    EXPECT_GE(*ids.rbegin(), SwfOutput::kStopCharacterId - 40);
}

TEST(SwfOutput, PlayerModeCarriesThePlayerAndItsMarkers)
{
    OutputRig rig("player");
    rig.screen.fill(Rect{0, 0, 320, 240}, 0x3060C0);
    ASSERT_EQ(rig.open(2), 1);
    ASSERT_TRUE(rig.out.playerMode()) << "this build has no player shell";
    EXPECT_EQ(rig.out.jpegQuality(), 75);
    rig.frame(true);
    EXPECT_EQ(rig.out.jpegQuality(), 80) << "a small frame raises the quality at level 2";
    rig.screen.fill(Rect{16, 16, 48, 48}, 0xFFFFFF);
    rig.frame(false);
    const SwfFile f = rig.close();

    std::vector<uint16_t> codes;
    for (const SwfTag& t : f.tags)
        codes.push_back(t.code);
    ASSERT_GE(codes.size(), 8u);
    EXPECT_EQ((std::vector<uint16_t>(codes.begin(), codes.begin() + 6)),
              (std::vector<uint16_t>{kSwfTagFileAttributes, kSwfTagSetBackgroundColor, 24, 86, 82, 76}));
    const SwfTag& symbols = f.tags[5];
    const std::string name(symbols.body.begin() + 4, symbols.body.end() - 1);
    EXPECT_EQ(name, "aswf_fla.MainTimeline");
    EXPECT_EQ(symbols.le16(2), 0u) << "bound to the main timeline";

    // The size marker's line holds height << 12 | width.
    const SwfTag& marker = f.tags[6];
    ASSERT_EQ(marker.code, kSwfTagDefineShape3);
    static const uint8_t kOneLine[] = {0x01, 0x14, 0x00};
    const auto line = std::search(marker.body.begin(), marker.body.end(), std::begin(kOneLine), std::end(kOneLine));
    ASSERT_NE(line, marker.body.end()) << "one line style of 20 twips";
    const uint32_t colour = uint32_t(line[3]) << 16 | uint32_t(line[4]) << 8 | line[5];
    EXPECT_EQ(colour, (240u << 12) | 320u);

    // Frame 1: the key-frame marker above the stage's right edge, then the
    // lossless shape right of it; frame 2 only the changed blocks.
    int32_t lastX = 0;
    for (int frame = 1; frame <= 2; ++frame) {
        std::vector<test::SwfPlacement> placed;
        for (const SwfTag* t : frameTags(f, frame))
            if (t->code == kSwfTagPlaceObject2 && (t->body[0] & 0x02) && t->le16(1) < SwfOutput::kCursorDepth)
                placed.push_back(test::readPlacement(*t));
        if (frame == 1) {
            ASSERT_EQ(placed.size(), 2u);
            EXPECT_EQ(placed[0].matrix.translateX, (320 + 2) * 20);
            EXPECT_EQ(placed[0].matrix.translateY, -20);
            placed.erase(placed.begin());
        }
        ASSERT_EQ(placed.size(), 1u) << "frame " << frame << ": flat blocks need no mosaic";
        EXPECT_GT(placed[0].matrix.translateX, lastX) << "each frame's data lies further right";
        EXPECT_EQ(placed[0].matrix.translateY, 0);
        lastX = placed[0].matrix.translateX;
    }
}

TEST(SwfOutput, WithoutAUsablePlayerTheFileIsRecordedInBlockForm)
{
    std::vector<uint8_t> small(3000, 0);
    OutputRig rig("noplayer");
    rig.out.setPlayerShell(SwfPlayerShell{small.data(), small.size()});
    rig.screen.fill(Rect{0, 0, 320, 240}, 0x3060C0);
    ASSERT_EQ(rig.open(1), 1);
    EXPECT_FALSE(rig.out.playerMode());
    rig.frame(true);
    const SwfFile f = rig.close();
    EXPECT_EQ(f.count(82), 0) << "no script";
    EXPECT_EQ(f.count(kSwfTagDefineBitsJpeg2), 1) << "the picture as a JPEG bitmap";
    bool onStage = false;
    for (const SwfTag& t : f.tags)
        if (t.code == kSwfTagPlaceObject2 && (t.body[0] & 0x02) && t.le16(1) == 1)
            onStage = test::readPlacement(t).matrix.translateX == 0;
    EXPECT_TRUE(onStage);
}

// A session recording SWF with the real writer.
struct SessionRig {
    SessionRig()
    {
        env.screen = &screen;
        env.clock = &clock;
        env.runVideoThread = false;
        env.soundInput = &audio;
        env.sources.build(AudioSystemInfo{});
        settings.framesPerSecond = 15;
        settings.recordSound = true;
        settings.qualityLevel = 4;
        settings.outputFileName = path;
        screen.fill(Rect{0, 0, 320, 240}, 0x3060C0);
    }
    ~SessionRig() { std::remove(path.c_str()); }
    std::string path = tempSwf("session");
    SyntheticScreen screen{320, 240};
    test::ManualClock clock;
    test::TestHost host;
    test::ScriptedAudioInput audio;
    SessionEnvironment env;
    RecordSettings settings;
};

TEST(SwfRecording, FrameRateCappedAt12AndSoundBlocksKeepTheirPlace)
{
    SessionRig rig;
    RecordingSession s(rig.host, rig.env);
    ASSERT_EQ(s.start(rig.settings, "SWF", true, "/tmp/", 4), 1);
    EXPECT_EQ(s.counters().framesPerSecond, 12);
    EXPECT_EQ(rig.audio.samples, 11025u / 12) << "one frame of sound per buffer";
    rig.clock.now += 84;
    s.frameTick();
    ASSERT_EQ(s.counters().framesCounted, 1u);
    // Two buffers with no picture in between: the second shows a frame first.
    s.onAudioChunk(&rig.audio, rig.audio.fill(1000));
    s.onAudioChunk(&rig.audio, rig.audio.fill(1000));
    EXPECT_EQ(s.counters().framesCounted, 2u);
    s.stop();
    EXPECT_EQ(s.counters().framesPerSecond, 15) << "the stored setting returns after stop";

    SwfFile f;
    ASSERT_TRUE(f.load(rig.path));
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.length, f.bytes.size());
    EXPECT_EQ(f.frameRate, 12 * 256);
    EXPECT_EQ(f.frameCount, f.count(kSwfTagShowFrame));
    std::vector<uint16_t> order;
    for (const SwfTag& t : f.tags)
        if (t.code == kSwfTagShowFrame || t.code == kSwfTagSoundStreamBlock || t.code == kSwfTagSoundStreamHead2)
            order.push_back(t.code);
    ASSERT_GE(order.size(), 5u);
    EXPECT_EQ((std::vector<uint16_t>(order.begin(), order.begin() + 5)),
              (std::vector<uint16_t>{kSwfTagSoundStreamHead2, kSwfTagShowFrame, kSwfTagSoundStreamBlock,
                                     kSwfTagShowFrame, kSwfTagSoundStreamBlock}));
    for (const SwfTag& t : f.tags) {
        if (t.code == kSwfTagSoundStreamHead2) {
            EXPECT_EQ(t.le16(2), 918u);
        }
        if (t.code == kSwfTagSoundStreamBlock && t.body.size() > 4) {
            EXPECT_EQ(t.le16(0), 918u) << "sample count: half the buffer's bytes";
        }
    }
}

TEST(SwfRecording, VideoAheadOfTheSoundIsCodedButNotShown)
{
    SessionRig rig;
    auto log = std::make_shared<test::OutputLog>();
    rig.env.outputFactory = [log](OutputType) { return std::make_unique<test::LoggingOutput>(log); };
    RecordingSession s(rig.host, rig.env);
    ASSERT_EQ(s.start(rig.settings, "SWF", true, "/tmp/", 4), 1);
    rig.clock.now += 84;
    s.frameTick(); // wall clock: frame 1
    s.onAudioChunk(&rig.audio, rig.audio.fill(0));
    for (int i = 0; i < 3; ++i) { // sound reached frame 2 only
        rig.clock.now += 84;
        s.frameTick();
    }
    s.onAudioChunk(&rig.audio, rig.audio.fill(0));
    rig.clock.now += 84;
    s.frameTick();
    EXPECT_EQ(log->advances, (std::vector<uint32_t>{1, 1, 0, 0, 1}));
    // The sound stops coming: once it is two seconds behind, the pictures
    // follow the wall clock again instead of freezing.
    log->advances.clear();
    for (int i = 0; i < 36; ++i) {
        rig.clock.now += 84;
        s.frameTick();
    }
    s.stop();
    ASSERT_EQ(log->advances.size(), 36u);
    EXPECT_EQ(log->advances.front(), 0u);
    EXPECT_GE(log->advances.back(), 1u);
    uint32_t shown = 0;
    for (uint32_t a : log->advances)
        shown += a;
    EXPECT_GE(shown, 36u - 2 * 12 - 2) << "at most two seconds of frames wait for the sound";
}

} // namespace
} // namespace quillet
