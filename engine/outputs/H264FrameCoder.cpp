#include "engine/outputs/H264FrameCoder.h"

#include "base/ByteOrder.h"
#include "engine/outputs/CursorBurnIn.h"
#include "capture/FrameGrabber.h"
#include "engine/QualityLevel.h"
#include "engine/session/AudioPacing.h"
#include "video/FlvAvcTags.h"

namespace quillet {

int H264FrameCoder::open(const OutputOpenParams& params)
{
    encoder_.set_input_mode(params.bitsPerPixel == 24 ? H264InputMode::Bgr24 : H264InputMode::Bgra32);
    const int factor = qualityLevelRow(params.qualityLevel).videoBitrateFactor;
    encoder_.set_bitrate(params.width, params.height, (params.width + params.height) * factor / 1120);
    if (params.bitsPerPixel == 16 && !expander_.set_size(params.width, params.height))
        return 0;
    packet_.assign(H264Encoder::recommended_output_capacity(params.width, params.height), 0);
    return encoder_.open(params.width, params.height, static_cast<uint8_t>(params.framesPerSecond));
}

size_t H264FrameCoder::sequenceHeader()
{
    return encoder_.sequence_header_tag(packet_.data(), packet_.size(), 0);
}

size_t H264FrameCoder::encode(VideoFrameJob& job)
{
    FrameGrabber& grabber = *job.grabber;
    drawCursorIn(job);
    const ScreenFrame& frame = grabber.frame();
    const uint8_t* pixels = frame.bits;
    size_t bytes = frame.imageSize;
    if (frame.bitsPerPixel == 16) {
        const bool fits = frame.width == expander_.width() && frame.height == expander_.height() &&
                          frame.stride == frame.width * 2;
        pixels = fits && expander_.expand_rgb555(frame.bits) ? expander_.data() : nullptr;
        bytes = expander_.size();
    }
    // Only what changed since the last picture is converted, and the encoder
    // skips the rest unanalysed. The cursor's drawing and removal are among
    // the grabber's output changes, so its old and new places count.
    const std::vector<Rect>& changed = grabber.outputChanges();
    size_t length = 0;
    if (pixels) {
        length = encoder_.encode_changed(pixels, bytes, changed.data(), changed.size(), packet_.data(),
                                         packet_.size(), job.timestampMs);
        // A refused picture makes the encoder take the next one whole, so the
        // changes are spent either way.
        grabber.clearOutputChanges();
    }
    takeCursorOut(job);
    return length;
}

int parseSequenceHeaderTag(const uint8_t* tag, size_t length, ParameterSets* out)
{
    // 11-byte tag header, 5-byte AVC packet header, then the decoder
    // configuration: version, profile, compatibility, level, length size,
    // SPS count, SPS length (16 bits), SPS, PPS count, PPS length, PPS.
    constexpr size_t kSpsLengthAt = 22;
    if (!tag || length < kSpsLengthAt + 2)
        return 0;
    const size_t spsLen = getBE16(tag + kSpsLengthAt);
    const size_t ppsCountAt = kSpsLengthAt + 2 + spsLen;
    if (spsLen == 0 || ppsCountAt + 3 > length)
        return 0;
    const size_t ppsLen = getBE16(tag + ppsCountAt + 1);
    if (ppsLen == 0 || ppsCountAt + 3 + ppsLen > length)
        return 0;
    out->sps = tag + kSpsLengthAt + 2;
    out->spsLength = static_cast<int>(spsLen);
    out->pps = tag + ppsCountAt + 3;
    out->ppsLength = static_cast<int>(ppsLen);
    return 1;
}

} // namespace quillet
