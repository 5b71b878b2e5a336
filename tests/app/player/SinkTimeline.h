#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::player::test {

// Indexes of the mono samples at which a sound louder than threshold starts
// after quietMs of quiet (a sound at the very start counts).
std::vector<size_t> soundOnsets(const std::vector<int16_t>& mono, int rate, int threshold, int quietMs);

// What the default sink ("speaker" on the test desktop) plays, read from its
// monitor, with every sample placed on the monotonic clock: the time it
// reached the monitor, as the sound server reports its latency.
class SinkTimeline {
public:
    static constexpr int kRate = 48000;

    ~SinkTimeline() { stop(); }
    // Returns false when the monitor cannot be read.
    bool start(const std::string& source = "speaker.monitor");
    void stop();

    // Mono samples (the channels mixed) and the monotonic time (us) of the first.
    std::vector<int16_t> samples() const;
    int64_t firstSampleUs() const;
    // Monotonic times (us) at which a sound starts after quietMs of quiet.
    std::vector<int64_t> onsetsUs(int threshold, int quietMs) const;

private:
    void run();

    std::atomic<bool> running_{false};
    std::thread thread_;
    void* stream_ = nullptr; // pa_simple
    mutable std::mutex mutex_;
    std::vector<int16_t> samples_;
    int64_t firstUs_ = -1;
};

} // namespace quillet::player::test
