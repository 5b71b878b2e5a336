#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/SessionLock.h"
#include "engine/AudioFormats.h"
#include "engine/OutputType.h"
#include "engine/ScreenFrame.h"

namespace quillet {

class FrameGrabber;
class CursorOverlay;

// What a writer needs to open its file.
struct OutputOpenParams {
    std::string fileName;
    int width = 0;  // output picture, multiples of 16
    int height = 0;
    uint8_t bitsPerPixel = 32;
    int framesPerSecond = 15;
    int qualityLevel = 2;
    bool sound = false;
    AudioTargetFormat target;
    CaptureAudioFormat capture;
    // Sample frames by which the sound encoder's output lags its input (0 for
    // an encoder without delay); the writers declare or remove it.
    int audioDelaySamples = 0;
};

// One frame tick's work for the writer of the output type.
struct VideoFrameJob {
    FrameGrabber* grabber = nullptr;
    CursorOverlay* cursor = nullptr; // null: no cursor drawn
    uint64_t cursorSerial = 0;      // the shape to draw (0 keeps the previous)
    SessionLock* lock = nullptr;
    uint32_t framesCounted = 0;     // before this frame
    uint32_t advance = 1;           // frame slots this frame covers
    bool keyFrame = false;          // the session's key-frame decision
    // When the picture shows: the slot it was captured nearest to, which is
    // one after the count, (framesCounted + 1) * 1000 / fps; and when the
    // next one is expected, (framesCounted + advance + 1) * 1000 / fps.
    uint32_t timestampMs = 0;
    uint32_t endTimestampMs = 0;
    // Set by an output that writes raw sound itself (takesPcm) when it wrote
    // some during this frame: the PCM bytes now in its sound track.
    bool soundWritten = false;
    uint64_t soundBytes = 0;
    // Set by the output: bytes coded for this frame, and a limit reached that
    // must end the recording (image count).
    uint32_t codedBytes = 0;
    bool requestStop = false;
    bool produced = false;          // a frame really went into the file
};

// How a writer's failure cut the recording short, for the message at stop.
struct OutputFailure {
    bool outOfSpace = false; // the disk was full
    std::string fileName;    // the file (for images: the first image) that holds what was kept
    uint32_t keptMs = 0;     // play time that file keeps
    int keptImages = -1;     // image output: images written (-1 for the other types)
};

// The writer of one output type together with the video coder it needs. The
// session owns one per recording.
//
// Threads: open and close on the host's thread while no worker runs;
// videoFrame on the video thread, outside the lock (it takes job.lock itself
// around writer calls); soundAac, soundMp3 and soundPcm with the lock held.
class MediaOutput {
public:
    virtual ~MediaOutput() = default;

    // Creates the file and writes its head. Returns 1, or 0 with *failureKey
    // set to the message key of the failure.
    virtual int open(const OutputOpenParams& params, const char** failureKey) = 0;
    // Whether captured sound goes into this output.
    virtual bool takesSound() const = 0;
    virtual void videoFrame(VideoFrameJob& job) = 0;
    // One captured buffer's AAC output: `count` records of a 16-bit length and
    // an ADTS frame (7-byte header first); record i ends at endMs[i] of the
    // sound track, durationMs[i] after the previous record's end.
    virtual void soundAac(const uint8_t* records, size_t length, const uint32_t* endMs, const uint32_t* durationMs,
                          int count) = 0;
    // One captured buffer's MP3 output, ending at endMs.
    virtual void soundMp3(const uint8_t* data, size_t length, uint64_t endMs) = 0;
    // The same with the PCM byte count the buffer held. Returns the frames
    // the writer showed to keep the sound in its place (SWF shows one when no
    // picture came since the previous buffer); they count as recorded frames.
    virtual uint32_t soundMp3Buffer(const uint8_t* data, size_t length, uint32_t pcmBytes, uint64_t endMs)
    {
        (void)pcmBytes;
        soundMp3(data, length, endMs);
        return 0;
    }
    // Display-list depths taken since the last key frame (SWF); the key-frame
    // decision forces a key frame before they reach the cursor's depth.
    virtual uint32_t placedImageCount() const { return 0; }
    // Outputs that take the captured PCM as it is, with no sound coder opened
    // for them: soundPcm gets every captured buffer, with the lock held, and
    // the output writes it from its videoFrame.
    virtual bool takesPcm() const { return false; }
    virtual void soundPcm(const uint8_t*, size_t) {}
    // Finalises the file. framesCounted and fps give the duration.
    virtual int close(uint32_t framesCounted, int framesPerSecond) = 0;
    // The writer reported a failure (disk full, ...) since open.
    virtual bool failed() const = 0;

    // The sound stopped for good (its device went away); the video keeps its
    // own clock from now on. Called with the lock held.
    virtual void soundEnded() {}
    // Outputs of numbered files: how many were written, with the first and
    // last names. -1 for outputs of one file.
    virtual int writtenFiles(std::string* first, std::string* last) const
    {
        (void)first;
        (void)last;
        return -1;
    }
    // After close: what a failure left (nothing special by default).
    virtual OutputFailure failureDetails() const { return {}; }
};

} // namespace quillet
