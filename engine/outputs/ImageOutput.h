#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/outputs/MediaOutput.h"
#include "video/BlockCoder.h"
#include "video/JpegEncoder.h"
#include "video/PngWriter.h"

namespace quillet {

// Numbered still images: one JPEG (PNG at the lossless quality level) each
// time the screen changed enough. No sound.
class ImageOutput final : public MediaOutput {
public:
    // Files are numbered 000 .. 1000; after that the recording ends.
    static constexpr int kLastImageNumber = 1000;
    // Changes whose rectangles' summed width + height is at most a fifth of
    // the frame's width + height are too small to be worth an image.
    static constexpr int kChangeDivisor = 5;

    int open(const OutputOpenParams& params, const char** failureKey) override;
    bool takesSound() const override { return false; }
    void videoFrame(VideoFrameJob& job) override;
    void soundAac(const uint8_t*, size_t, const uint32_t*, const uint32_t*, int) override {}
    void soundMp3(const uint8_t*, size_t, uint64_t) override {}
    int close(uint32_t framesCounted, int framesPerSecond) override;
    bool failed() const override { return failed_; }
    OutputFailure failureDetails() const override;

    int writtenFiles(std::string* first, std::string* last) const override;

    int imageCounter() const { return imageCounter_; }
    // The name of image n.
    std::string imageName(int n) const;

private:
    int writeImage(const ScreenFrame& frame);

    std::string baseName_;
    bool png_ = false;
    int imageCounter_ = 0;
    bool failed_ = false;
    bool outOfSpace_ = false;
    BlockCoder coder_;
    JpegEncoder jpeg_;
    PngWriter pngWriter_;
    std::vector<uint8_t> pixels_;
    std::vector<uint8_t> out_;
};

} // namespace quillet
