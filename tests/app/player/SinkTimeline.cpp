#include "tests/app/player/SinkTimeline.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cstdlib>

namespace quillet::player::test {

namespace {

constexpr int kBlockFrames = SinkTimeline::kRate / 200; // 5 ms

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool SinkTimeline::start(const std::string& source)
{
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = kRate;
    spec.channels = 2;
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = kBlockFrames * 4;
    int err = 0;
    pa_simple* s = pa_simple_new(nullptr, "sink-timeline", PA_STREAM_RECORD, source.c_str(), "timeline", &spec,
                                 nullptr, &attr, &err);
    if (!s)
        return false;
    stream_ = s;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void SinkTimeline::stop()
{
    if (!running_)
        return;
    running_ = false;
    thread_.join();
    pa_simple_free(static_cast<pa_simple*>(stream_));
    stream_ = nullptr;
}

void SinkTimeline::run()
{
    auto* s = static_cast<pa_simple*>(stream_);
    int16_t block[kBlockFrames * 2];
    int err = 0;
    while (running_) {
        if (pa_simple_read(s, block, sizeof block, &err) < 0)
            break;
        // The block's last sample reached the monitor one latency ago. A
        // late wake-up only makes a block look later than it was, so the
        // earliest placement of the stream's start over all blocks holds.
        const int64_t lastUs = nowUs() - int64_t(pa_simple_get_latency(s, &err));
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = 0; i < kBlockFrames; ++i)
            samples_.push_back(int16_t((int(block[2 * i]) + int(block[2 * i + 1])) / 2));
        const int64_t firstUs = lastUs - int64_t(samples_.size() - 1) * 1000000 / kRate;
        if (firstUs_ < 0 || firstUs < firstUs_)
            firstUs_ = firstUs;
    }
}

std::vector<int16_t> SinkTimeline::samples() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

int64_t SinkTimeline::firstSampleUs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return firstUs_;
}

std::vector<size_t> soundOnsets(const std::vector<int16_t>& mono, int rate, int threshold, int quietMs)
{
    const int64_t needed = int64_t(quietMs) * rate / 1000;
    std::vector<size_t> out;
    int64_t quiet = needed;
    for (size_t i = 0; i < mono.size(); ++i) {
        if (std::abs(int(mono[i])) > threshold) {
            if (quiet >= needed)
                out.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return out;
}

std::vector<int64_t> SinkTimeline::onsetsUs(int threshold, int quietMs) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> out;
    for (size_t i : soundOnsets(samples_, kRate, threshold, quietMs))
        out.push_back(firstUs_ + int64_t(i) * 1000000 / kRate);
    return out;
}

} // namespace quillet::player::test
