#pragma once
#include <array>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "audio/input/AudioInput.h"
#include "audio/pulse/PulseConnection.h"

namespace quillet {

// AudioInput on a PulseAudio record stream. The stream's data arrives on the
// connection's event thread, is queued in order and poured into the three
// buffers; each full buffer is announced to the listener from that thread.
//
// A named device is recorded with moving disabled, so when it disappears the
// recording fails visibly instead of silently continuing from another device;
// the default device (empty name) follows the server when it moves streams.
class PulseRecorder : public AudioInput {
public:
    // Bytes per fragment the server sends: small, so buffers fill evenly.
    static constexpr uint32_t kFragmentMs = 20;
    // Sound kept for a consumer that holds every buffer; beyond this the
    // newest sound is dropped and counted in overrunBytes().
    static constexpr uint32_t kMaxQueuedMs = 10000;

    PulseRecorder() = default;
    ~PulseRecorder() override;

    int open(AudioInputListener* listener, uint32_t samplesPerBuffer, const CaptureAudioFormat* format,
             const std::string& device) override;
    uint8_t* releaseBuffer(AudioBuffer* buffer) override;
    int requeueBuffer(AudioBuffer* buffer) override;
    int stop() override;
    bool running() const override { return running_.load(); }
    uint64_t overrunBytes() const override;
    std::string lastError() const override;

private:
    enum class Stage { Idle, Free, Filling, Delivered, Held };
    struct Slot {
        AudioBuffer header;
        std::vector<uint8_t> storage;
        Stage stage = Stage::Idle;
    };

    static void onStreamState(pa_stream* s, void* self);
    static void onStreamRead(pa_stream* s, size_t bytes, void* self);
    static void onStreamMoved(pa_stream* s, void* self);

    // The following run with the loop locked.
    void takeStreamData();
    void pump();
    void deliver(int slot);
    void fail(const std::string& why);
    int slotOf(const AudioBuffer* buffer) const;
    void closeStream();

    void setError(const std::string& text);

    PulseConnection connection_;
    pa_stream* stream_ = nullptr;
    AudioInputListener* listener_ = nullptr;
    std::atomic<bool> running_{false};
    bool opening_ = false;
    bool failed_ = false;
    bool failureAnnounced_ = false;

    std::array<Slot, kBufferCount> slots_;
    std::deque<int> freeSlots_; // in the order they were handed back
    int filling_ = -1;
    uint64_t nextSequence_ = 0;

    // Recorded sound not yet in a buffer: queue_[queueStart_, end).
    std::vector<uint8_t> queue_;
    size_t queueStart_ = 0;
    size_t maxQueued_ = 0;
    uint64_t overrun_ = 0;

    mutable std::mutex errorMutex_;
    std::string error_;
};

} // namespace quillet
