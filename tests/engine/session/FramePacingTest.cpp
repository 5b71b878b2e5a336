#include <gtest/gtest.h>

#include "engine/session/FramePacing.h"

namespace quillet {
namespace {

TEST(FramePacing, PeriodNeverBelowFortyMilliseconds)
{
    EXPECT_EQ(framePeriodMs(30), 40u); // 30 requested: runs at 25
    EXPECT_EQ(framePeriodMs(25), 40u);
    EXPECT_EQ(framePeriodMs(15), 66u);
    EXPECT_EQ(framePeriodMs(2), 500u);
    EXPECT_EQ(framePeriodMs(0), 1000u); // nonsense rate counts as 1
}

TEST(FramePacing, WorkingRateIsTheRateThePeriodAllows)
{
    EXPECT_EQ(workingFrameRate(30, false), 25); // 26..30 run (and read) as 25
    EXPECT_EQ(workingFrameRate(26, false), 25);
    EXPECT_EQ(workingFrameRate(25, false), 25);
    EXPECT_EQ(workingFrameRate(15, false), 15);
    EXPECT_EQ(workingFrameRate(15, true), 12); // SWF
    EXPECT_EQ(workingFrameRate(0, false), 1);
}

TEST(VideoPacer, FirstTickAtOnceThenOnePeriodApart)
{
    VideoPacer p(10, 1000);
    EXPECT_TRUE(p.due(1000));
    EXPECT_EQ(p.nextDueMs(), 1100u);
    EXPECT_FALSE(p.due(1099));
    EXPECT_TRUE(p.due(1100));
    EXPECT_EQ(p.waitMs(), 100u);
    EXPECT_EQ(p.lastLatenessMs(), 0u);
}

TEST(VideoPacer, SmallLatenessShortensTheNextWait)
{
    VideoPacer p(10, 0);
    ASSERT_TRUE(p.due(0));
    ASSERT_TRUE(p.due(130)); // 30 ms late: less than half a period
    EXPECT_EQ(p.lastLatenessMs(), 30u);
    EXPECT_EQ(p.waitMs(), 70u);
    EXPECT_EQ(p.nextDueMs(), 200u); // the sleep ends on the original grid
    EXPECT_FALSE(p.due(199));
    EXPECT_TRUE(p.due(200));
}

TEST(VideoPacer, LargeLatenessGivesAFullPeriodWithoutCatchUp)
{
    VideoPacer p(10, 0);
    ASSERT_TRUE(p.due(0));
    ASSERT_TRUE(p.due(350)); // 2.5 periods late
    EXPECT_EQ(p.waitMs(), 100u);
    EXPECT_EQ(p.nextDueMs(), 450u);
    EXPECT_FALSE(p.due(449));
    EXPECT_TRUE(p.due(450));
}

TEST(FrameSlots, LateTickCoversSeveralSlotsOnce)
{
    // 10 fps, frame 5 written; the tick comes 2.5 periods late.
    SlotDecision d = decideFrameSlots(/*now*/ 1000 + 750, /*start*/ 1000, /*counted*/ 5, 10);
    ASSERT_EQ(d.kind, SlotDecision::Frame);
    EXPECT_EQ(d.target - 5, 3u); // 7.5 slots rounds up: advance 3
    d = decideFrameSlots(1000 + 740, 1000, 5, 10);
    ASSERT_EQ(d.kind, SlotDecision::Frame);
    EXPECT_EQ(d.target - 5, 2u); // 7.4 rounds down: advance 2
}

TEST(FrameSlots, NothingDueWhileTheCountIsAhead)
{
    EXPECT_EQ(decideFrameSlots(1000 + 440, 1000, 4, 10).kind, SlotDecision::NoFrame);
    EXPECT_EQ(decideFrameSlots(1000 + 460, 1000, 4, 10).kind, SlotDecision::Frame);
    // A start tick in the future (resume races) is no lag at all.
    EXPECT_EQ(decideFrameSlots(500, 1000, 0, 10).kind, SlotDecision::NoFrame);
}

TEST(FrameSlots, FarBehindReAnchorsInsteadOfBursting)
{
    // 15 fps, 30 frames counted (2 s), the machine slept for 10 s.
    const SlotDecision d = decideFrameSlots(12000, 0, 30, 15);
    ASSERT_EQ(d.kind, SlotDecision::ReAnchor);
    EXPECT_EQ(d.newStartTick, 12000 - 2000);
    // Right after the re-anchor the next slot is one period away.
    EXPECT_EQ(decideFrameSlots(12000, d.newStartTick, 30, 15).kind, SlotDecision::NoFrame);
    const SlotDecision next = decideFrameSlots(12067, d.newStartTick, 30, 15);
    ASSERT_EQ(next.kind, SlotDecision::Frame);
    EXPECT_EQ(next.target, 31u);
    // Exactly three seconds of slots behind is still caught up.
    EXPECT_EQ(decideFrameSlots(5000, 0, 30, 15).kind, SlotDecision::Frame);
}

TEST(KeyFrames, DecisionOrder)
{
    KeyFrameInputs in;
    in.framesPerSecond = 10;
    in.framesSinceKey = 199;
    EXPECT_FALSE(isKeyFrame(in)); // under 20 s
    in.framesSinceKey = 200;
    EXPECT_TRUE(isKeyFrame(in)); // 20 s, nothing coded
    in.bytesSinceKey = 1;
    EXPECT_FALSE(isKeyFrame(in)); // a moderate amount was coded
    in.bytesSinceKey = 512000;
    EXPECT_FALSE(isKeyFrame(in));
    in.bytesSinceKey = 512001;
    EXPECT_TRUE(isKeyFrame(in));
    in.bytesSinceKey = 100;
    in.framesSinceKey = 3000; // five minutes always
    EXPECT_TRUE(isKeyFrame(in));
    in.framesSinceKey = 5;
    in.bytesSinceKey = 0x500001; // more than 5 MiB always
    EXPECT_TRUE(isKeyFrame(in));
    in.bytesSinceKey = 0x500000;
    EXPECT_FALSE(isKeyFrame(in));
    in.placedImageCount = 300; // display-list depth limit first
    EXPECT_TRUE(isKeyFrame(in));
}

TEST(FramePacing, TimestampsUseIntegerDivision)
{
    EXPECT_EQ(frameTimestampMs(1, 15), 66u);
    EXPECT_EQ(frameTimestampMs(15, 15), 1000u);
    // The product passes 32 bits after about three days at 15 fps.
    EXPECT_EQ(frameTimestampMs(5000000u, 15), 333333333u);
}

} // namespace
} // namespace quillet
