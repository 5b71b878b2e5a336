#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "audio/input/AudioInput.h"

namespace quillet {

// One recorder notification as the consumer's thread receives it.
struct AudioInputEvent {
    enum Kind { BufferDone, Failed, Moved };
    Kind kind = BufferDone;
    AudioInput* input = nullptr;
    AudioBuffer* buffer = nullptr; // BufferDone only
    std::string device;            // Moved only: the new device
};

// A listener for consumers without a message loop of their own (the
// command-line recorder, tests): the capture thread posts, the consumer's
// thread waits. Events come out in the order they were posted.
class AudioBufferMailbox : public AudioInputListener {
public:
    void audioBufferDone(AudioInput& input, AudioBuffer* buffer) override;
    void audioInputFailed(AudioInput& input) override;
    void audioInputMoved(AudioInput& input, const std::string& device) override;

    // Takes the oldest event, waiting up to timeoutMs for one. Returns 1 with
    // the event, 0 on time-out.
    int wait(int timeoutMs, AudioInputEvent& event);
    // Drops pending events (after a recorder's stop, its notifications are stale).
    void clear();
    size_t pending() const;

private:
    void post(const AudioInputEvent& event);

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<AudioInputEvent> events_;
};

} // namespace quillet
