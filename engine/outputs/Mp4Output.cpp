#include "engine/outputs/Mp4Output.h"

#include <algorithm>

#include "engine/session/AudioPacing.h"
#include "video/FlvAvcTags.h"

namespace quillet {

int Mp4Output::open(const OutputOpenParams& params, const char** failureKey)
{
    sound_ = params.sound;
    if (!coder_.open(params)) {
        *failureKey = "h264Err";
        return 0;
    }
    if (!mux_.Open(params.fileName.c_str(), params.width, params.height, params.framesPerSecond,
                   static_cast<int>(params.capture.sampleRate), sound_ ? params.capture.channels : 0)) {
        coder_.close();
        *failureKey = "fileErr";
        return 0;
    }
    // The journal makes a killed recording repairable up to its last sample;
    // without it (a folder that takes no further files) the index refreshes
    // still hold. A disk without room for it is no place to record.
    if (!mux_.EnableJournal() && mux_.OutOfSpace()) {
        mux_.Close();
        coder_.close();
        *failureKey = "fileErr";
        return 0;
    }
    // The AAC frames come out of the encoder this late; the file says so, and
    // players skip it.
    if (sound_ && params.audioDelaySamples > 0)
        mux_.SetAudioEncoderDelay(params.audioDelaySamples);
    lastVideoEndMs_ = 0;
    ParameterSets ps;
    const size_t headerLength = coder_.sequenceHeader();
    if (!parseSequenceHeaderTag(coder_.packet(), headerLength, &ps) ||
        !mux_.WriteVideoHead(ps.sps, ps.spsLength, ps.pps, ps.ppsLength)) {
        mux_.Close();
        coder_.close();
        *failureKey = "h264Err";
        return 0;
    }
    return 1;
}

void Mp4Output::videoFrame(VideoFrameJob& job)
{
    const size_t length = coder_.encode(job);
    if (length <= kFlvAvcVideoTagOverhead)
        return;
    job.produced = true;
    job.codedBytes = static_cast<uint32_t>(length);
    const bool key = coder_.lastWasKeyFrame();
    // Every NAL unit in the tag already carries its own 4-byte length, so the
    // bytes from the first length to the trailing tag size are the sample.
    const char* sample = reinterpret_cast<const char*>(coder_.packet() + kFlvAvcNalOffset);
    const int sampleLength = static_cast<int>(length - kFlvAvcVideoTagOverhead);
    // The writer stores the duration with this sample, so it must be the time
    // this picture stands for: its own slots. The gap since the previous
    // picture would start every picture one slot early and give the first a
    // duration of zero. A track starts at 0, so the first picture also covers
    // the time before its stamp; every later one then starts at its own.
    const uint32_t duration = job.endTimestampMs - std::min(lastVideoEndMs_, job.timestampMs);
    lastVideoEndMs_ = job.endTimestampMs;
    SessionGuard g(*job.lock);
    // Every key frame (the first picture is one) gets an index that reaches
    // it, so the file on disk plays up to there whatever happens next.
    if (mux_.WriteVideo(sample, sampleLength, duration, key ? 1 : 0) && key)
        mux_.SaveData();
}

void Mp4Output::soundAac(const uint8_t* records, size_t length, const uint32_t*, const uint32_t* durationMs,
                         int count)
{
    int i = 0;
    forEachAacUnit(records, length, [&](const uint8_t* raw, size_t rawLength) {
        if (i < count)
            mux_.WriteAudio(reinterpret_cast<const char*>(raw), static_cast<int>(rawLength), durationMs[i]);
        ++i;
    });
}

OutputFailure Mp4Output::failureDetails() const
{
    OutputFailure f;
    f.outOfSpace = mux_.OutOfSpace();
    f.fileName = mux_.FileName();
    f.keptMs = mux_.SavedMs();
    return f;
}

int Mp4Output::close(uint32_t, int)
{
    const int ok = mux_.IsOpen() ? mux_.Close() : 1;
    coder_.close();
    return ok;
}

} // namespace quillet
