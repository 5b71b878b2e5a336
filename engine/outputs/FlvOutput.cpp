#include "engine/outputs/FlvOutput.h"

#include "video/FlvAvcTags.h"

namespace quillet {

int FlvOutput::open(const OutputOpenParams& params, const char** failureKey)
{
    sound_ = params.sound;
    width_ = params.width;
    height_ = params.height;
    fileName_ = params.fileName;
    if (!writer_.CreateFlvFile(params.fileName.c_str())) {
        *failureKey = "fileErr";
        return 0;
    }
    // Marks the file as unfinished until its final metadata is written.
    writer_.EnableJournal(params.framesPerSecond);
    if (!coder_.open(params)) {
        writer_.FinishFlv(width_, height_, 0, params.framesPerSecond);
        *failureKey = "h264Err";
        return 0;
    }
    // AAC frames come out of the encoder late, and FLV cannot declare it. But
    // every picture here is also shown late, by the composition time its tag
    // carries, and that already covers the delay at every rate we record
    // (66 ms against 64 ms at 32000 Hz). Only what remains beyond it is taken
    // off the sound tags; taking off all of it would put the pictures 64 ms
    // behind the sound. MP3 tags are left alone.
    if (sound_ && params.audioDelaySamples > 0) {
        const uint64_t rate = params.capture.sampleRate;
        const uint64_t covered = (uint64_t(kFlvAvcCompositionTime) * rate + 999) / 1000;
        const uint64_t lag = static_cast<uint64_t>(params.audioDelaySamples);
        const uint32_t delay = covered >= lag ? 0u : static_cast<uint32_t>(lag - covered);
        writer_.SetAudioEncoderDelay(delay, params.capture.sampleRate);
    }
    const size_t headerLength = coder_.sequenceHeader();
    if (headerLength == 0 ||
        !writer_.WriteFlvHeader(width_, height_, params.capture.channels, coder_.packet(),
                                static_cast<int>(headerLength))) {
        writer_.FinishFlv(width_, height_, 0, params.framesPerSecond);
        coder_.close();
        *failureKey = "fileErr";
        return 0;
    }
    return 1;
}

void FlvOutput::videoFrame(VideoFrameJob& job)
{
    const size_t length = coder_.encode(job);
    if (length == 0)
        return;
    job.produced = true;
    job.codedBytes = static_cast<uint32_t>(length);
    SessionGuard g(*job.lock);
    writer_.WriteFlvVideo(coder_.packet(), static_cast<int>(length), coder_.lastWasKeyFrame() ? 1 : 0,
                          job.timestampMs);
}

void FlvOutput::soundAac(const uint8_t* records, size_t length, const uint32_t* endMs, const uint32_t*, int count)
{
    writer_.WriteFlvAudio(records, static_cast<int>(length), endMs, count);
}

void FlvOutput::soundMp3(const uint8_t* data, size_t length, uint64_t endMs)
{
    writer_.WriteFlvAudioMp3(data, static_cast<int>(length), static_cast<uint32_t>(endMs));
}

OutputFailure FlvOutput::failureDetails() const
{
    OutputFailure f;
    f.outOfSpace = writer_.OutOfSpace();
    f.fileName = fileName_;
    f.keptMs = writer_.FinalMs();
    return f;
}

int FlvOutput::close(uint32_t framesCounted, int framesPerSecond)
{
    int ok = 1;
    if (writer_.IsOpen())
        ok = writer_.FinishFlv(width_, height_, framesCounted, framesPerSecond);
    coder_.close();
    return ok;
}

} // namespace quillet
