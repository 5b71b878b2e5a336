#include "engine/outputs/ImageOutput.h"

#include <algorithm>
#include <cstdio>

#include "base/DirectFileSink.h"
#include "engine/outputs/CursorBurnIn.h"
#include "capture/FrameGrabber.h"
#include "engine/QualityLevel.h"

namespace quillet {
namespace {

// Room for one coded image beyond the raw 24-bit picture (headers, and the
// few bytes deflate may add to incompressible rows).
constexpr size_t kImageSlack = 30000;
constexpr size_t kMinImageBuffer = 640000;

} // namespace

int ImageOutput::open(const OutputOpenParams& params, const char** failureKey)
{
    const size_t dot = params.fileName.rfind('.');
    baseName_ = dot == std::string::npos ? params.fileName : params.fileName.substr(0, dot);
    png_ = params.qualityLevel >= kLosslessQualityLevel;
    imageCounter_ = 0;
    failed_ = outOfSpace_ = false;
    jpeg_.set_quality(qualityLevelRow(params.qualityLevel).jpegQualityImages);
    ScreenFrame format;
    format.width = params.width;
    format.height = params.height;
    format.bitsPerPixel = params.bitsPerPixel;
    format.stride = params.width * params.bitsPerPixel / 8;
    format.imageSize = static_cast<uint32_t>(format.stride) * static_cast<uint32_t>(params.height);
    if (!coder_.init(format, TileCoding::Jpeg)) {
        *failureKey = "startErr";
        return 0;
    }
    const size_t raw = BlockCoder::bgr24Size(params.width, params.height);
    pixels_.assign(raw, 0);
    out_.assign(std::max(raw, kMinImageBuffer) + kImageSlack, 0);
    return 1;
}

std::string ImageOutput::imageName(int n) const
{
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, png_ ? "_%03d.png" : "_%03d.jpg", n);
    return baseName_ + suffix;
}

void ImageOutput::videoFrame(VideoFrameJob& job)
{
    FrameGrabber& grabber = *job.grabber;
    grabber.scaleToOutput();
    grabber.mapAndShrink();

    // Tile 0 (top-left) does not take part: a clock or a blinking icon there
    // would otherwise write an image every frame. A small area has that one
    // tile only, and then it must count, or no image would ever be written.
    Rect u{};
    bool any = false;
    int64_t sum = 0;
    const int firstTile = grabber.tileCount() > 1 ? 1 : 0;
    for (int i = firstTile; i < grabber.tileCount(); ++i) {
        const FrameTile t = grabber.tile(i);
        if (!t.isDirty())
            continue;
        const Rect& d = t.dirty;
        sum += (d.right - d.left + 1) + (d.bottom - d.top + 1);
        if (!any) {
            u = d;
            any = true;
        } else {
            u.left = std::min(u.left, d.left);
            u.top = std::min(u.top, d.top);
            u.right = std::max(u.right, d.right);
            u.bottom = std::max(u.bottom, d.bottom);
        }
    }
    const ScreenFrame& frame = grabber.frame();
    if (!any || frame.width + frame.height >= kChangeDivisor * sum)
        return;
    Rect check = u;
    if (coder_.tighten(frame, &check, 1) <= 0)
        return;

    drawCursorIn(job);
    const int written = writeImage(grabber.frame());
    takeCursorOut(job);
    if (!written) {
        failed_ = true;
        return;
    }
    job.produced = true;
    ++imageCounter_;
    if (imageCounter_ > kLastImageNumber)
        job.requestStop = true;
}

int ImageOutput::writeImage(const ScreenFrame& frame)
{
    if (!coder_.to_bgr24(frame, pixels_.data(), pixels_.size(), 0, 0, frame.width, frame.height))
        return 0;
    size_t size = 0;
    if (png_) {
        if (pngWriter_.write_png(pixels_.data(), frame.width, frame.height, out_.data(), out_.size()) == 0)
            return 0;
        size = pngWriter_.file_size();
    } else if (!jpeg_.encode_image(pixels_.data(), out_.data(), out_.size(), frame.width, frame.height, &size)) {
        return 0;
    }
    // The image is complete in memory before its file exists, so a failed
    // write (disk full) is the only way to a partial file, and that is removed.
    const std::string name = imageName(imageCounter_);
    DirectFileSink file;
    const int ok = file.open(name) && file.write(out_.data(), size);
    if (!file.close() || !ok) {
        outOfSpace_ = isOutOfSpaceError(file.systemError());
        std::remove(name.c_str());
        return 0;
    }
    return 1;
}

int ImageOutput::writtenFiles(std::string* first, std::string* last) const
{
    if (imageCounter_ > 0) {
        if (first)
            *first = imageName(0);
        if (last)
            *last = imageName(imageCounter_ - 1);
    }
    return imageCounter_;
}

OutputFailure ImageOutput::failureDetails() const
{
    OutputFailure f;
    f.outOfSpace = outOfSpace_;
    // The first image stands for the series; with none kept, their folder.
    f.fileName = imageCounter_ > 0 ? imageName(0) : baseName_.substr(0, baseName_.rfind('/') + 1);
    f.keptImages = imageCounter_;
    return f;
}

int ImageOutput::close(uint32_t, int)
{
    pixels_.clear();
    out_.clear();
    return failed_ ? 0 : 1;
}

} // namespace quillet
