#include "audio/input/AudioBufferMailbox.h"

#include <chrono>

namespace quillet {

void AudioBufferMailbox::audioBufferDone(AudioInput& input, AudioBuffer* buffer)
{
    post({AudioInputEvent::BufferDone, &input, buffer, {}});
}

void AudioBufferMailbox::audioInputFailed(AudioInput& input)
{
    post({AudioInputEvent::Failed, &input, nullptr, {}});
}

void AudioBufferMailbox::audioInputMoved(AudioInput& input, const std::string& device)
{
    post({AudioInputEvent::Moved, &input, nullptr, device});
}

void AudioBufferMailbox::post(const AudioInputEvent& event)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
    }
    ready_.notify_one();
}

int AudioBufferMailbox::wait(int timeoutMs, AudioInputEvent& event)
{
    std::unique_lock<std::mutex> guard(mutex_);
    const auto timeout = std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    if (!ready_.wait_for(guard, timeout, [this] { return !events_.empty(); }))
        return 0;
    event = events_.front();
    events_.pop_front();
    return 1;
}

void AudioBufferMailbox::clear()
{
    std::lock_guard<std::mutex> guard(mutex_);
    events_.clear();
}

size_t AudioBufferMailbox::pending() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return events_.size();
}

} // namespace quillet
