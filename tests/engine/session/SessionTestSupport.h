#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/input/AudioBufferMailbox.h"
#include "audio/input/AudioInput.h"
#include "engine/outputs/MediaOutput.h"
#include "engine/session/SessionClock.h"
#include "engine/session/SessionHost.h"

namespace quillet::test {

// A clock that moves only when told (sleeps advance it too).
class ManualClock final : public SessionClock {
public:
    uint64_t nowMs() override { return now; }
    void sleepMs(uint32_t ms) override { now += ms; }
    uint64_t now = 1000000;
};

// The main window as the session sees it, recording what it was asked.
class TestHost final : public SessionHost {
public:
    void postCommand(int id) override { commands.push_back(id); }
    void postNotice(int w, int l) override { notices.push_back(w * 10000 + l); }
    AudioInputListener* soundListener() override { return &mailbox; }
    // Keys come back in brackets so that tests see which text was composed.
    std::string messageText(const char* key, const char* = nullptr) override
    {
        return std::string("<") + key + ">";
    }
    void showMessage(const char* key, const std::string& text) override
    {
        messages.push_back(key);
        messageTexts.push_back(text);
    }
    ConfirmAnswer confirm(const std::string& text, const std::string&, ConfirmKind kind) override
    {
        confirmTexts.push_back(text);
        return kind == ConfirmKind::YesNo ? ConfirmAnswer::No : startAnswer;
    }
    void showCountdown() override { ++countdowns; }
    bool countdownCancelled() override { return cancelCountdown; }
    void showStatus(const std::string& e, int icon, int level) override
    {
        elapsed = e;
        trayIcon = icon;
        soundLevel = level;
    }
    void stateChanged(int s) override { states.push_back(s); }
    void playRecording(const std::string&, bool) override {}

    ConfirmAnswer startAnswer = ConfirmAnswer::Yes;
    bool cancelCountdown = false;
    std::vector<int> commands, notices, states;
    std::vector<std::string> messages, messageTexts, confirmTexts;
    int countdowns = 0;
    std::string elapsed;
    int trayIcon = 0, soundLevel = -1;
    AudioBufferMailbox mailbox;
};

// A writer that only records what it is handed.
struct OutputLog {
    int opens = 0, closes = 0;
    const char* failKey = nullptr; // open fails with this key
    bool stopAfterFrame = false;   // asks for the stop at the next frame
    bool failAfterFrame = false;   // reports a write failure after the next frame
    bool failedNow = false;
    std::vector<uint32_t> advances, timestamps, counted;
    std::vector<bool> keys;
    std::vector<uint32_t> aacEnds, aacDurations;
    int mp3Blocks = 0;
    uint32_t closedFrames = 0;
    int soundEndedCalls = 0;
    int files = -1; // numbered files written (-1: one file)
};

class LoggingOutput final : public MediaOutput {
public:
    explicit LoggingOutput(std::shared_ptr<OutputLog> log) : log_(std::move(log)) {}
    int open(const OutputOpenParams&, const char** failureKey) override
    {
        ++log_->opens;
        if (log_->failKey) {
            *failureKey = log_->failKey;
            return 0;
        }
        return 1;
    }
    bool takesSound() const override { return true; }
    void videoFrame(VideoFrameJob& job) override
    {
        // Writers are called under the session lock, as the real ones are.
        SessionGuard g(*job.lock);
        log_->advances.push_back(job.advance);
        log_->timestamps.push_back(job.timestampMs);
        log_->counted.push_back(job.framesCounted);
        log_->keys.push_back(job.keyFrame);
        job.produced = true;
        job.requestStop = log_->stopAfterFrame;
        log_->failedNow = log_->failAfterFrame;
    }
    void soundAac(const uint8_t*, size_t, const uint32_t* endMs, const uint32_t* durationMs, int count) override
    {
        for (int i = 0; i < count; ++i) {
            log_->aacEnds.push_back(endMs[i]);
            log_->aacDurations.push_back(durationMs[i]);
        }
    }
    void soundMp3(const uint8_t*, size_t, uint64_t) override { ++log_->mp3Blocks; }
    int close(uint32_t framesCounted, int) override
    {
        ++log_->closes;
        log_->closedFrames = framesCounted;
        return 1;
    }
    bool failed() const override { return log_->failedNow; }
    void soundEnded() override { ++log_->soundEndedCalls; }
    int writtenFiles(std::string* first, std::string* last) const override
    {
        if (log_->files > 0) {
            *first = "a_000.jpg";
            *last = "a_" + std::to_string(log_->files - 1) + ".jpg";
        }
        return log_->files;
    }

private:
    std::shared_ptr<OutputLog> log_;
};

// A recorder that hands out the buffers the test fills.
class ScriptedAudioInput final : public AudioInput {
public:
    int open(AudioInputListener*, uint32_t samplesPerBuffer, const CaptureAudioFormat* format,
             const std::string& device) override
    {
        ++opens;
        openedDevice = device;
        if (!openSucceeds)
            return 0;
        running_ = true;
        samples = samplesPerBuffer;
        format_ = *format;
        return 1;
    }
    uint8_t* releaseBuffer(AudioBuffer* b) override { return running_ ? b->data : nullptr; }
    int requeueBuffer(AudioBuffer*) override
    {
        ++requeues;
        return 1;
    }
    int stop() override
    {
        const bool was = running_;
        running_ = false;
        return was ? 1 : 0;
    }
    bool running() const override { return running_; }
    uint64_t overrunBytes() const override { return 0; }
    std::string lastError() const override { return {}; }

    // A buffer of the opened size filled with a constant sample value.
    AudioBuffer* fill(int16_t value)
    {
        const size_t bytes = size_t(samples) * format_.blockAlign;
        data_.assign(bytes, 0);
        for (size_t i = 0; i + 1 < bytes; i += 2) {
            data_[i] = uint8_t(value);
            data_[i + 1] = uint8_t(uint16_t(value) >> 8);
        }
        buffer_.data = data_.data();
        buffer_.bufferLength = buffer_.bytesRecorded = uint32_t(bytes);
        return &buffer_;
    }

    bool openSucceeds = true;
    int opens = 0, requeues = 0;
    uint32_t samples = 0;
    std::string openedDevice;

private:
    bool running_ = false;
    CaptureAudioFormat format_;
    std::vector<uint8_t> data_;
    AudioBuffer buffer_;
};

// Output of a command line, or "" when it could not run.
inline std::string commandOutput(const std::string& cmd)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// One ffprobe entry of the selected streams ("v:0", "a:0"), without the line end.
inline std::string probe(const std::string& file, const std::string& select, const std::string& entry)
{
    std::string out = commandOutput("ffprobe -v error -select_streams " + select + " -show_entries " + entry +
                                    " -of default=nw=1:nk=1 '" + file + "' 2>/dev/null");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// Energy of one frequency in mono 16-bit PCM (Goertzel), normalised per sample.
inline double toneEnergy(const std::vector<int16_t>& pcm, double freq, double rate)
{
    const double k = 2 * std::cos(2 * M_PI * freq / rate);
    double s1 = 0, s2 = 0;
    for (int16_t v : pcm) {
        const double s0 = v + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / double(pcm.size() ? pcm.size() : 1);
}

// A WMV recording as players see it: an ASF file with one wmv2 picture
// stream of the size and one wmav2 sound stream at 22050 Hz mono.
inline void expectWmvStreams(const std::string& file, int width, int height)
{
    EXPECT_EQ(probe(file, "v:0", "format=format_name"), "asf") << file;
    EXPECT_EQ(probe(file, "v:0", "stream=codec_name"), "wmv2") << file;
    EXPECT_EQ(probe(file, "v:0", "stream=width"), std::to_string(width)) << file;
    EXPECT_EQ(probe(file, "v:0", "stream=height"), std::to_string(height)) << file;
    EXPECT_EQ(probe(file, "a:0", "stream=codec_name"), "wmav2") << file;
    EXPECT_EQ(probe(file, "a:0", "stream=sample_rate"), "22050") << file;
    EXPECT_EQ(probe(file, "a:0", "stream=channels"), "1") << file;
}

} // namespace quillet::test
