#pragma once
#include <cstdint>
#include <vector>

#include "engine/ScreenFrame.h"

// A scripted desktop for the screen codec's tests and benchmark, drawn
// directly into bottom-up frames of 16 (5-5-5), 24 or 32 bits per pixel:
// a background with icons, a window that moves, a menu that comes and goes
// and comes back, a window of text that scrolls, and a video-like picture
// that changes every frame. The same frame index always gives the same
// picture.
namespace quillet::test {

struct SceneParts {
    bool movingWindow = true;
    bool menu = true;
    bool scrollingText = true;
    bool video = true;
};

class DesktopScene {
public:
    DesktopScene(int32_t width, int32_t height, int bitsPerPixel, SceneParts parts = {});

    // Draws frame t and returns it; tiles hold the dirty rectangles against
    // the previously drawn frame (all tiles dirty for the first frame),
    // aligned as the frame grabber aligns them.
    const ScreenFrame& draw(int t);
    // The whole frame as tiles, for key frames.
    void fullTiles(ScreenFrame& frame) const;

    // Where the video-like picture is (exclusive right and bottom).
    Rect videoArea() const { return video_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    void paint(int t);
    void store();
    void markChanges();

    int32_t width_;
    int32_t height_;
    int bpp_;
    SceneParts parts_;
    Rect video_;
    std::vector<uint8_t> rgb_;      // top-down, R, G, B
    std::vector<uint8_t> previous_; // the previous frame's rgb_
    std::vector<uint8_t> bits_;     // the stored frame
    ScreenFrame frame_;
    bool first_ = true;
};

// The grid of up to 16 tiles the tests split a frame into (inclusive).
int tile_grid(int32_t width, int32_t height, Rect tiles[kMaxTiles]);

} // namespace quillet::test
