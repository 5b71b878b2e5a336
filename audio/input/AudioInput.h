#pragma once
#include <cstdint>
#include <string>

#include "audio/input/AudioBuffer.h"
#include "engine/AudioFormats.h"

namespace quillet {

class AudioInput;

// Receives a recorder's notifications. Both calls come from the recorder's own
// capture thread, so an implementation must only hand them over to the
// consumer's thread (post a message, push into a queue) and return at once:
// it must not block, and must not call back into the recorder.
class AudioInputListener {
public:
    virtual ~AudioInputListener() = default;
    // A buffer was filled; buffers are announced strictly in recording order.
    virtual void audioBufferDone(AudioInput& input, AudioBuffer* buffer) = 0;
    // The device stopped delivering (unplugged, removed, sound server gone).
    // Announced once, after every buffer that still held recorded sound, so
    // a consumer that handles notifications in order loses nothing.
    virtual void audioInputFailed(AudioInput& input) = 0;
    // The sound server moved the recording to another device (the default
    // device was removed, and the recording follows the new default).
    virtual void audioInputMoved(AudioInput& input, const std::string& device)
    {
        (void)input;
        (void)device;
    }
};

// Records 16-bit (or 8-bit) PCM from one capture device into a ring of three
// buffers of a fixed size. The device keeps recording into the other buffers
// while the consumer processes one.
//
// Thread rules: open, releaseBuffer, requeueBuffer and stop are called from the
// consumer's thread (the one the listener forwards to). Results follow the
// project's convention: 1 success, 0 failure.
class AudioInput {
public:
    static constexpr int kBufferCount = 3;

    virtual ~AudioInput() = default;

    // Opens the device and starts recording. device: a name from the device
    // list, or empty for the system's default capture device. format: null
    // records the default format (8000 Hz mono 8-bit). Fails when already
    // running, when listener is null, when samplesPerBuffer is 0, when the
    // format is not 8- or 16-bit PCM with 1 or 2 channels, or when the device
    // cannot be opened; then nothing stays open and lastError() says why.
    virtual int open(AudioInputListener* listener, uint32_t samplesPerBuffer,
                     const CaptureAudioFormat* format, const std::string& device) = 0;

    // Takes a buffer announced by audioBufferDone. Returns its data (valid
    // bytes: buffer->bytesRecorded), or null when not running, when the buffer
    // is not one this recorder has announced and not yet handed out, or when
    // an older announced buffer has not been taken yet. Stale notifications
    // from before a stop() are recognised that way, even after a new open.
    virtual uint8_t* releaseBuffer(AudioBuffer* buffer) = 0;

    // Gives a released buffer back for refilling. Returns 1 when it was queued.
    virtual int requeueBuffer(AudioBuffer* buffer) = 0;

    // Stops recording and closes the device. Returns 0 when it was not
    // running. When it returns, the listener is never called again; buffers
    // still being filled are discarded, as a reset device discards them.
    virtual int stop() = 0;

    virtual bool running() const = 0;
    // Bytes dropped because the consumer kept all buffers for too long.
    virtual uint64_t overrunBytes() const = 0;
    // Text of the last failure of open or of the device while running.
    virtual std::string lastError() const = 0;
};

} // namespace quillet
