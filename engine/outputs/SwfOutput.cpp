#include "engine/outputs/SwfOutput.h"

#include <algorithm>
#include <cstdio>

#include "audio/input/CaptureBufferSize.h"
#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "engine/QualityLevel.h"
#include "video/DeflateStream.h"

namespace quillet {
namespace {

constexpr int kMarkerSide = 16;
constexpr int kCursorSide = CursorOverlay::kSide;
// Room for deflate's worst case beyond the raw pixels.
size_t deflateBound(size_t raw) { return raw + raw / 1000 + 1024; }

uint32_t opaque(uint32_t rgb24) { return (rgb24 & 0xFFFFFFu) << 8 | 0xFF; }

} // namespace

int SwfOutput::open(const OutputOpenParams& params, const char** failureKey)
{
    *failureKey = "fileErr";
    width_ = params.width;
    height_ = params.height;
    framesPerSecond_ = params.framesPerSecond < 1 ? 1 : params.framesPerSecond;
    qualityLevel_ = clampQualityLevel(params.qualityLevel);
    jpegQuality_ = qualityLevelRow(qualityLevel_).jpegQualitySwfTiles;
    sound_ = params.sound;
    nextId_ = 1;
    depth_ = 1;
    runningOffset_ = 0;
    framesSinceSound_ = 0;

    const SwfPlayerShell shell = shellSet_ ? shell_ : swfPlayerShell();
    const bool shellUsable = shell.size > kSwfPlayerShellMinimum;
    playerMode_ = qualityLevel_ < kLosslessQualityLevel && shellUsable;
    jpegBlocks_ = qualityLevel_ < kLosslessQualityLevel && !playerMode_;
    if (qualityLevel_ < kLosslessQualityLevel && !shellUsable)
        std::fprintf(stderr, "quillet: this build carries no SWF player; %s is recorded in block form\n",
                     params.fileName.c_str());

    ScreenFrame format;
    format.width = width_;
    format.height = height_;
    format.bitsPerPixel = params.bitsPerPixel;
    format.stride = width_ * params.bitsPerPixel / 8;
    format.imageSize = uint32_t(format.stride) * uint32_t(height_);
    if (playerMode_) {
        if (!playerCoder_.init(width_, height_, params.bitsPerPixel)) {
            *failureKey = "startErr";
            return 0;
        }
    } else if (!blockCoder_.init(format, jpegBlocks_ ? TileCoding::Jpeg : TileCoding::Lossless)) {
        *failureKey = "startErr";
        return 0;
    }
    std::remove(params.fileName.c_str());
    if (!writer_.Open(params.fileName.c_str(), float(width_), float(height_), framesPerSecond_))
        return 0;
    writer_.SetBackgroundColor(kBackgroundBgr);
    if (playerMode_) {
        writer_.WriteRaw(shell.data + kSwfPlayerShellTagsOffset,
                         shell.size - kSwfPlayerShellTagsOffset - kSwfPlayerShellTrailer);
        writeSizeMarker();
    }
    depth_ = 1;
    defineCursor();
    if (sound_) {
        // One stream block per captured buffer of one frame's sound.
        chunkSamples_ = captureBufferFrames(OutputSwf, params.capture.sampleRate, framesPerSecond_);
        writer_.WriteSoundStreamHead(static_cast<uint16_t>(std::min<uint32_t>(chunkSamples_, 0xFFFF)));
    }
    if (writer_.Failed()) {
        writer_.Close();
        return 0;
    }
    return 1;
}

void SwfOutput::writeSizeMarker()
{
    SwfShape marker(takeId(), -kMarkerSide, 0, 0, kMarkerSide, kSizeMarkerDepth);
    marker.addLineStyle(1, opaque(uint32_t(height_) << 12 | uint32_t(width_)));
    marker.startOutline(0, 1, 0, 0);
    marker.addEdge(-kMarkerSide, 0);
    marker.addEdge(0, kMarkerSide);
    marker.setTranslation(15, -1);
    writer_.DefineCharacter(marker, kSizeMarkerDepth, true);
}

void SwfOutput::defineCursor()
{
    uint8_t picture[CursorOverlay::kPictureBytes];
    arrowCursorPicture(picture);
    std::vector<uint8_t> argb;
    swfCursorPicture(picture, argb);
    std::vector<uint8_t> packed(deflateBound(argb.size()));
    DeflateStream deflate;
    size_t length = 0;
    if (deflate.open()) {
        deflate.setOutput(packed.data(), packed.size());
        if (deflate.feed(argb.data(), argb.size(), Z_FINISH))
            length = deflate.totalOut();
    }
    const uint16_t bitmapId = takeId();
    SwfBitmap bitmap(bitmapId, packed.data(), length, kSwfTagDefineBitsLossless2, SwfBitmap::kFormat32Bit,
                     kCursorSide, kCursorSide);
    writer_.DefineCharacter(bitmap, 0, false);
    cursorShape_ = std::make_unique<SwfShape>(takeId(), 0, 0, kCursorSide, kCursorSide, kCursorDepth);
    cursorShape_->addBitmapFill(bitmapId, SwfShape::kFillRepeatingBitmap, kCursorSide, kCursorSide, 0, 0,
                                kCursorSide, kCursorSide);
    cursorShape_->startOutline(1, 0, 0, 0);
    cursorShape_->addEdge(kCursorSide, 0);
    cursorShape_->addEdge(0, kCursorSide);
    cursorShape_->addEdge(-kCursorSide, 0);
    cursorShape_->addEdge(0, -kCursorSide);
    // Placed with the first frame, at the pointer: a placement and a move at
    // one depth in one frame make players complain when they loop.
    cursorPlaced_ = false;
}

void SwfOutput::addPicture(CharacterList& list, const uint8_t* image, size_t length, uint16_t tag, int width,
                           int height, int x, int y)
{
    const uint16_t bitmapId = takeId();
    list.push_back(std::make_unique<SwfBitmap>(bitmapId, image, length, tag, SwfBitmap::kFormat32Bit,
                                               uint16_t(width), uint16_t(height)));
    auto shape = std::make_unique<SwfShape>(takeId(), 0, 0, width, height, 0);
    shape->addBitmapFill(bitmapId, SwfShape::kFillRepeatingBitmap, width, height, 0, 0, width, height);
    shape->startOutline(1, 0, 0, 0);
    shape->addEdge(width, 0);
    shape->addEdge(0, height);
    shape->addEdge(-width, 0);
    shape->addEdge(0, -height);
    if (x != 0 || y != 0)
        shape->setTranslation(x, y);
    list.push_back(std::move(shape));
}

size_t SwfOutput::codeBlockMode(const ScreenFrame& frame, std::vector<Rect>& rects, bool& key, CharacterList& list)
{
    // The cursor's depth is never reached between key frames: a frame whose
    // rectangles would get there starts a key frame instead.
    if (!key && depth_ + rects.size() >= kCursorDepth)
        key = true;
    if (key)
        rects.assign(1, Rect{0, 0, frame.width - 1, frame.height - 1});
    size_t total = 0;
    for (const Rect& r : rects) {
        const int w = r.right - r.left + 1, h = r.bottom - r.top + 1;
        size_t length = 0;
        uint16_t tag = kSwfTagDefineBitsLossless;
        if (jpegBlocks_) {
            const size_t raw = BlockCoder::bgr24Size(w, h);
            pixels_.resize(raw);
            coded_.resize(raw + JpegEncoder::kHeaderBytes + 4096);
            if (!blockCoder_.to_bgr24(frame, pixels_.data(), pixels_.size(), r.left, r.top, w, h) ||
                !jpeg_.encode_image(pixels_.data(), coded_.data(), coded_.size(), w, h, &length))
                length = 0;
            tag = kSwfTagDefineBitsJpeg2;
        } else {
            coded_.resize(deflateBound(size_t(w) * size_t(h) * 4));
            length = blockCoder_.code_lossless_tile(frame, coded_.data(), coded_.size(), r);
        }
        if (length == 0)
            continue;
        addPicture(list, coded_.data(), length, tag, w, h, r.left, r.top);
        total += length;
    }
    return total;
}

size_t SwfOutput::codePlayerMode(const ScreenFrame& frame, const std::vector<Rect>& rects, bool key,
                                 uint32_t frameNumber, CharacterList& list)
{
    if (key) {
        // The key frame's number on the line of a marker above the stage's
        // right edge.
        auto marker = std::make_unique<SwfShape>(takeId(), 0, 0, kMarkerSide, kMarkerSide, 0);
        marker->addLineStyle(1, opaque(frameNumber));
        marker->startOutline(0, 1, 0, 0);
        marker->addEdge(kMarkerSide, 0);
        marker->addEdge(0, kMarkerSide);
        marker->setTranslation(width_ + 2, -1);
        list.push_back(std::move(marker));
    }
    SwfBlockData data;
    if (!playerCoder_.code(frame, rects.data(), int(rects.size()), key, jpegQuality_, data) || data.empty())
        return 0;
    const int u = data.losslessWidth, h = data.losslessHeight;
    const int64_t left = int64_t(width_) + 2 + runningOffset_;
    const uint16_t bitmapId = takeId();
    list.push_back(std::make_unique<SwfBitmap>(bitmapId, data.lossless.data(), data.lossless.size(),
                                               kSwfTagDefineBitsLossless, SwfBitmap::kFormat32Bit, uint16_t(u),
                                               uint16_t(h)));
    // The line tells the player the bitmap's width (red x 8) and the mosaic's
    // width in blocks (green); the bitmap sits 2 pixels inside the line.
    auto shape = std::make_unique<SwfShape>(takeId(), 0, 0, u + 3, h + 3, 0);
    shape->addBitmapFill(bitmapId, SwfShape::kFillRepeatingBitmap, u, h, 2, 2, u, h);
    shape->addLineStyle(1, uint32_t(u / 8) << 24 | uint32_t(data.mosaicWidth / 16) << 16 |
                               uint32_t(kLosslessMarkBlue) << 8 | 0xFF);
    shape->startOutline(1, 1, 0, 0);
    shape->addEdge(u + 3, 0);
    shape->addEdge(0, h + 3);
    shape->addEdge(-(u + 3), 0);
    shape->addEdge(0, -(h + 3));
    shape->setTranslation(int32_t(left), 0);
    list.push_back(std::move(shape));
    runningOffset_ += u + 4;
    if (!data.jpeg.empty()) {
        addPicture(list, data.jpeg.data(), data.jpeg.size(), kSwfTagDefineBitsJpeg2, data.mosaicWidth,
                   data.mosaicHeight, int32_t(left + u + 4), 0);
        runningOffset_ += data.mosaicWidth;
    }
    return data.bytes();
}

void SwfOutput::videoFrame(VideoFrameJob& job)
{
    if (!writer_.IsOpen())
        return;
    // Players count frames and character IDs in 16 bits: the recording ends
    // through the normal stop path before either runs out.
    const uint32_t fps = uint32_t(framesPerSecond_);
    if (nextId_ >= kStopCharacterId || job.framesCounted >= fps * kMaxSeconds ||
        job.framesCounted + job.advance > kMaxFrames) {
        job.requestStop = true;
        return;
    }
    FrameGrabber& grabber = *job.grabber;
    grabber.scaleToOutput();
    grabber.mapAndShrink();
    const ScreenFrame& frame = grabber.frame();
    std::vector<Rect> rects;
    for (int i = 0; i < grabber.tileCount(); ++i) {
        const FrameTile t = grabber.tile(i);
        if (!t.isDirty())
            continue;
        Rect r = t.dirty;
        r.left = std::max(0, r.left);
        r.top = std::max(0, r.top);
        r.right = std::min(frame.width - 1, std::max(r.right, r.left + kMinRectSide - 1));
        r.bottom = std::min(frame.height - 1, std::max(r.bottom, r.top + kMinRectSide - 1));
        r.left = std::max(0, std::min(r.left, r.right - kMinRectSide + 1));
        r.top = std::max(0, std::min(r.top, r.bottom - kMinRectSide + 1));
        rects.push_back(r);
    }
    bool key = job.keyFrame;
    // IDs one frame can take: a bitmap and a shape per rectangle (block
    // mode), or a marker and two pairs (player mode).
    const uint32_t needed = playerMode_ ? 5 : 2 * uint32_t(std::max<size_t>(rects.size(), 1));
    if (nextId_ + needed - 1 > kLastCharacterId) {
        job.requestStop = true;
        return;
    }
    CharacterList list;
    const size_t bytes = playerMode_ ? codePlayerMode(frame, rects, key, job.framesCounted, list)
                                     : codeBlockMode(frame, rects, key, list);
    job.codedBytes = static_cast<uint32_t>(bytes);
    job.produced = true;

    SessionGuard g(*job.lock);
    if (key) {
        for (uint16_t d = 1; d < depth_; ++d)
            writer_.RemoveObject(d);
        depth_ = 1;
    }
    for (auto& c : list) {
        if (c->type() == SwfCharacter::kBitmap) {
            writer_.DefineCharacter(*c, 0, false);
        } else {
            writer_.DefineCharacter(*c, depth_, true);
            ++depth_;
        }
    }
    moveCursor(job);
    for (uint32_t i = 0; i < job.advance; ++i)
        writer_.ShowFrame();
    framesSinceSound_ += job.advance;
    // Every key frame makes the file on disk playable up to here.
    if (key)
        writer_.Refresh();

    if (playerMode_ && qualityLevel_ == kAdaptiveLevel) {
        if (bytes < kAdaptLowBytes && jpegQuality_ < kAdaptMaxQuality)
            jpegQuality_ += kAdaptStep;
        else if (bytes > kAdaptHighBytes && jpegQuality_ > kAdaptMinQuality)
            jpegQuality_ -= kAdaptStep;
    }
}

void SwfOutput::moveCursor(VideoFrameJob& job)
{
    if (!cursorShape_)
        return;
    const bool moved = job.cursor && job.cursor->changed(job.cursorSerial);
    if (job.cursor)
        cursorShape_->setTranslation(job.cursor->x(), job.cursor->y());
    if (!cursorPlaced_) {
        writer_.DefineCharacter(*cursorShape_, kCursorDepth, true);
        cursorPlaced_ = true;
    } else if (moved) {
        writer_.PlaceCharacter(*cursorShape_, kCursorDepth, nullptr, 0);
    }
}

uint32_t SwfOutput::soundMp3Buffer(const uint8_t* data, size_t length, uint32_t pcmBytes, uint64_t)
{
    if (!writer_.IsOpen() || !sound_)
        return 0;
    uint32_t shown = 0;
    if (framesSinceSound_ == 0) {
        writer_.ShowFrame();
        shown = 1;
    }
    writer_.WriteSoundBlock(data, length, static_cast<uint16_t>(std::min<uint32_t>(pcmBytes / 2, 0xFFFF)));
    framesSinceSound_ = 0;
    return shown;
}

void SwfOutput::soundMp3(const uint8_t* data, size_t length, uint64_t endMs)
{
    // The encoder's last frames at stop: one more block of about a buffer.
    soundMp3Buffer(data, length, chunkSamples_ * 2, endMs);
}

int SwfOutput::close(uint32_t, int)
{
    if (!writer_.IsOpen())
        return 1;
    cursorShape_.reset();
    return writer_.Close();
}

} // namespace quillet
