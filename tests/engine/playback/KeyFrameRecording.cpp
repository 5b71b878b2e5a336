#include "tests/engine/playback/KeyFrameRecording.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/SessionLock.h"
#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/AviOutput.h"
#include "engine/outputs/OwnRecordOutput.h"
#include "tests/engine/playback/PlaybackScene.h"
#include "tests/engine/playback/PlaybackTestFiles.h"

namespace quillet::test {

KeyFrameRecording writeKeyFrameRecording(const char* ext, const std::string& name, bool (*keyAt)(int))
{
    KeyFrameRecording w;
    w.file = scratchPath(name + "." + ext);
    SyntheticScreen screen(400, 272, 32);
    PlaybackScene scene(screen, Rect{0, 0, 400, 272});
    scene.paint(0);
    FrameGrabber grabber(screen);
    EXPECT_EQ(grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true), 1);
    CursorOverlay cursor(screen);
    cursor.setArea(grabber.captureArea());
    std::unique_ptr<MediaOutput> out;
    if (std::string(ext) == "avi")
        out = std::make_unique<AviOutput>();
    else
        out = std::make_unique<OwnRecordOutput>();
    OutputOpenParams p;
    p.fileName = w.file;
    p.width = grabber.width();
    p.height = grabber.height();
    p.bitsPerPixel = grabber.bitsPerPixel();
    p.framesPerSecond = kKeyFrameFps;
    const char* failure = nullptr;
    EXPECT_EQ(out->open(p, &failure), 1);
    SessionLock lock;
    uint32_t counted = 0;
    for (int i = 0; i < kKeyFrameFrames; ++i) {
        scene.paint(i);
        grabber.capture(false);
        VideoFrameJob job;
        job.grabber = &grabber;
        job.cursor = &cursor;
        job.cursorSerial = screen.cursorSerial();
        job.lock = &lock;
        job.framesCounted = counted;
        job.advance = ticksOf(i);
        job.keyFrame = keyAt(i);
        out->videoFrame(job);
        EXPECT_TRUE(job.produced);
        w.pictures.emplace_back();
        w.frames.emplace_back();
        scene.capture(w.frames.back(), w.pictures.back());
        w.ticks.push_back(counted);
        counted += job.advance;
    }
    for (size_t i = 0; i < w.frames.size(); ++i)
        w.frames[i].bits = w.pictures[i].data();
    EXPECT_EQ(out->close(counted, kKeyFrameFps), 1);
    EXPECT_FALSE(out->failed());
    return w;
}

} // namespace quillet::test
