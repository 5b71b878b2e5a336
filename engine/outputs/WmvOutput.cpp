#include "engine/outputs/WmvOutput.h"

#include <algorithm>

#include "engine/outputs/CursorBurnIn.h"
#include "capture/FrameGrabber.h"
#include "engine/QualityLevel.h"
#include "engine/session/AudioPacing.h"
#include "engine/session/FramePacing.h"

namespace quillet {

uint32_t WmvOutput::pictureTimeMs(uint32_t slot, int framesPerSecond)
{
    const uint64_t fps = framesPerSecond < 1 ? 1 : static_cast<uint64_t>(framesPerSecond);
    return slot == 0 ? 0 : static_cast<uint32_t>((4 * uint64_t(slot) - 1) * 1000 / (4 * fps));
}

int WmvOutput::open(const OutputOpenParams& params, const char** failureKey)
{
    sound_ = params.sound;
    WmvBitmapInfo bitmap;
    bitmap.biWidth = params.width;
    bitmap.biHeight = params.height;
    bitmap.biBitCount = params.bitsPerPixel;
    bitmap.biSizeImage = static_cast<uint32_t>(params.width) * params.bitsPerPixel / 8 *
                         static_cast<uint32_t>(params.height);
    WmvWaveFormat wave;
    wave.nChannels = params.capture.channels;
    wave.nSamplesPerSec = params.capture.sampleRate;
    wave.wBitsPerSample = params.capture.bitsPerSample;
    wave.nAvgBytesPerSec = params.target.avgBytesPerSecond;
    writer_.SetCodecChoice(params.qualityLevel > 0 ? 1 : 0);
    if (!writer_.Open(params.fileName.c_str(), bitmap, params.framesPerSecond,
                      wmvBitrate(params.width, params.height, params.qualityLevel), sound_ ? &wave : nullptr)) {
        *failureKey = "wmvErr";
        return 0;
    }
    framesPerSecond_ = params.framesPerSecond;
    bytesPerSecond_ = params.capture.avgBytesPerSecond ? params.capture.avgBytesPerSecond : 1;
    blockAlign_ = params.capture.blockAlign ? params.capture.blockAlign : 2;
    queue_.reset(sound_ ? kQueueBytes : 0);
    piece_.assign(sound_ ? kPieceBytes : 0, 0);
    soundBytes_ = 0;
    picturesWritten_ = 0;
    closeFailed_ = false;
    return 1;
}

void WmvOutput::soundPcm(const uint8_t* pcm, size_t bytes)
{
    if (!sound_ || !pcm || bytes == 0)
        return;
    // No picture has come for a while (the picture clock waits for the
    // sound after a pull-back, or the coder is slow): rather than lose sound,
    // what is queued goes into the file now. The lock is held, so the writer
    // is not in use on the video thread.
    if (queue_.size() + bytes > queue_.capacity())
        drainSound();
    queue_.put(pcm, bytes);
}

void WmvOutput::drainSound()
{
    for (;;) {
        // Whole sample frames only; a part of one waits for the rest.
        const size_t whole = std::min(queue_.size(), piece_.size());
        const size_t n = queue_.take(piece_.data(), whole - whole % blockAlign_);
        if (n == 0) {
            // Sound the queue had no room for is not there to write: its
            // length is skipped (with a part of a sample frame before it), so
            // what follows keeps its place; the writer fills the gap with
            // silence.
            if (!queue_.hasDropped())
                return;
            soundBytes_ += queue_.take(piece_.data(), queue_.size());
            soundBytes_ += queue_.takeDropped();
            continue;
        }
        const uint32_t ms = static_cast<uint32_t>(audioMsForBytes(soundBytes_, bytesPerSecond_));
        writer_.WriteAudio(ms, piece_.data(), n);
        soundBytes_ += n;
        wroteSinceFrame_ = true;
    }
}

void WmvOutput::videoFrame(VideoFrameJob& job)
{
    FrameGrabber& grabber = *job.grabber;
    drawCursorIn(job);
    // Only what changed since the last picture is converted again; the
    // cursor's drawing and removal are among the changes.
    const std::vector<Rect>& changed = grabber.outputChanges();
    const WmvChanges changes{changed.data(), changed.size()};
    const ScreenFrame& frame = grabber.frame();
    {
        SessionGuard g(*job.lock);
        const uint32_t ms = picturesWritten_ ? pictureTimeMs(job.framesCounted + job.advance, framesPerSecond_) : 0;
        const uint32_t end = frameTimestampMs(job.framesCounted + job.advance, framesPerSecond_);
        job.produced = writer_.WriteVideo(ms, frame.bits, frame.imageSize, end > ms ? end - ms : 1, &changes) != 0;
        picturesWritten_ += job.produced ? 1 : 0;
        if (sound_) {
            drainSound();
            job.soundWritten = wroteSinceFrame_;
            job.soundBytes = soundBytes_;
            wroteSinceFrame_ = false;
        }
    }
    // A refused picture leaves the changes spent as well: the writer takes
    // the next picture whole after a failure, and never skips one it took.
    grabber.clearOutputChanges();
    takeCursorOut(job);
}

int WmvOutput::close(uint32_t, int)
{
    if (!writer_.IsOpen())
        return 1;
    // Sound captured after the last picture still belongs to the recording.
    if (sound_)
        drainSound();
    // The writer forgets everything at its close, also that the end of the
    // file could not be written.
    closeFailed_ = !writer_.Close();
    return closeFailed_ ? 0 : 1;
}

} // namespace quillet
