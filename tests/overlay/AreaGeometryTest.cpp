#include <gtest/gtest.h>

#include "overlay/AreaGeometry.h"
#include "overlay/CountdownPath.h"

namespace quillet {
namespace {

TEST(AreaGeometry, FrameZonesFollowTheRing)
{
    const Rect w{10, 20, 110, 100}; // 100 × 80, midpoint x = 60
    EXPECT_EQ(frameZoneAt(w, 10, 20), DragZone::TopLeft);
    EXPECT_EQ(frameZoneAt(w, 15, 25), DragZone::TopLeft);
    EXPECT_EQ(frameZoneAt(w, 12, 60), DragZone::Left);
    EXPECT_EQ(frameZoneAt(w, 12, 99), DragZone::BottomLeft);
    EXPECT_EQ(frameZoneAt(w, 109, 21), DragZone::TopRight);
    EXPECT_EQ(frameZoneAt(w, 104, 60), DragZone::Right);
    EXPECT_EQ(frameZoneAt(w, 109, 94), DragZone::BottomRight);
    // Top and bottom resize only on the handle left of the midpoint.
    EXPECT_EQ(frameZoneAt(w, 54, 22), DragZone::Top);
    EXPECT_EQ(frameZoneAt(w, 59, 22), DragZone::Top);
    EXPECT_EQ(frameZoneAt(w, 60, 22), DragZone::Move);
    EXPECT_EQ(frameZoneAt(w, 53, 22), DragZone::Move);
    EXPECT_EQ(frameZoneAt(w, 56, 97), DragZone::Bottom);
    EXPECT_EQ(frameZoneAt(w, 30, 97), DragZone::Move);
    EXPECT_EQ(frameZoneAt(w, 9, 60), DragZone::None);
    EXPECT_EQ(frameZoneAt(w, 110, 60), DragZone::None);

    const auto h = frameHandles(100, 80);
    EXPECT_EQ(h[0], (Rect{0, 0, 6, 6}));
    EXPECT_EQ(h[3], (Rect{94, 74, 100, 80}));
    EXPECT_EQ(h[4], (Rect{44, 0, 50, 6})) << "the middle handle ends at the midpoint";
    EXPECT_EQ(h[6], (Rect{0, 34, 6, 40}));
    for (const Rect& r : h) {
        EXPECT_EQ(rectWidth(r), kFrameRing);
        EXPECT_EQ(rectHeight(r), kFrameRing);
    }
}

TEST(AreaGeometry, DragsMoveResizeAndKeepTheirLimits)
{
    const Rect r{100, 100, 300, 200};
    EXPECT_EQ(draggedRect(r, DragZone::Move, -30, 15, 64, Rect{}), (Rect{70, 115, 270, 215}));
    EXPECT_EQ(draggedRect(r, DragZone::Right, 50, 99, 64, Rect{}), (Rect{100, 100, 350, 200}));
    EXPECT_EQ(draggedRect(r, DragZone::TopLeft, 10, -20, 64, Rect{}), (Rect{110, 80, 300, 200}));
    // Never smaller than the minimum: the opposite edge stays.
    EXPECT_EQ(draggedRect(r, DragZone::Left, 500, 0, 64, Rect{}), (Rect{236, 100, 300, 200}));
    EXPECT_EQ(draggedRect(r, DragZone::Bottom, 0, -500, 32, Rect{}), (Rect{100, 100, 300, 132}));
    // Inside bounds: a move stops at the edge, a resize is cut there.
    const Rect screen{0, 0, 320, 240};
    EXPECT_EQ(draggedRect(r, DragZone::Move, 100, 100, 32, screen), (Rect{120, 140, 320, 240}));
    EXPECT_EQ(draggedRect(r, DragZone::Move, -500, -500, 32, screen), (Rect{0, 0, 200, 100}));
    EXPECT_EQ(draggedRect(r, DragZone::BottomRight, 100, 100, 32, screen), (Rect{100, 100, 320, 240}));

    EXPECT_EQ(trackerZoneAt(r, 100, 100), DragZone::TopLeft);
    EXPECT_EQ(trackerZoneAt(r, 199, 195), DragZone::Bottom);
    EXPECT_EQ(trackerZoneAt(r, 150, 150), DragZone::Move);
    EXPECT_EQ(trackerZoneAt(r, 99, 150), DragZone::None);
}

TEST(AreaGeometry, DraggedRectanglesAndTheirMinimumSizes)
{
    EXPECT_EQ(spannedRect(140, 140, 100, 100), (Rect{100, 100, 140, 140}));
    EXPECT_TRUE(bigEnough(spannedRect(100, 100, 140, 140), kDragMinimum)) << "40 × 40 is accepted";
    EXPECT_FALSE(bigEnough(spannedRect(100, 100, 131, 140), kDragMinimum)) << "31 × 40 is refused";
    EXPECT_TRUE(bigEnough(Rect{0, 0, 32, 32}, kDragMinimum));
    EXPECT_FALSE(bigEnough(Rect{0, 0, 63, 200}, kPickMinimum)) << "a small tool window";
    EXPECT_EQ(grown(Rect{10, 10, 20, 20}, kFrameRing), (Rect{4, 4, 26, 26}));
}

TEST(CountdownPath, SlidesFromTheMiddleToTheCorner)
{
    const CountdownPath full(Rect{0, 0, 1920, 1080});
    EXPECT_EQ(full.x(5), 810);
    EXPECT_EQ(full.y(5), 390);
    EXPECT_EQ(full.x(4) - full.x(5), 202);
    EXPECT_EQ(full.y(4) - full.y(5), 138);
    EXPECT_EQ(full.y(0), 1080) << "the last step leaves the screen";

    // Odd sizes divide as integers; a second monitor's origin is added.
    const CountdownPath odd(Rect{1920, 0, 1920 + 1366, 769});
    EXPECT_EQ(odd.x(5), 1920 + 533);
    EXPECT_EQ(odd.y(5), 234);
    EXPECT_EQ(odd.x(0), 1920 + 533 + 5 * 146);
    EXPECT_EQ(odd.y(0), 234 + 5 * 107);
    EXPECT_LE(odd.y(0), 769);
    EXPECT_GT(odd.y(0) + 10, 769);

    EXPECT_EQ(CountdownPath::pointTenths(5), 1600);
    EXPECT_EQ(CountdownPath::pointTenths(1), 400);
    EXPECT_EQ(CountdownPath::pointTenths(0), 100);
}

} // namespace
} // namespace quillet
