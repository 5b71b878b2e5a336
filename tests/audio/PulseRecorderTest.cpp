#include "audio/pulse/PulseRecorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "audio/input/AudioBufferMailbox.h"
#include "audio/input/AudioPlatform.h"
#include "audio/input/CaptureBufferSize.h"
#include "audio/input/WaveFormatRecord.h"
#include "audio/pulse/PulseConnection.h"
#include "tests/audio/SoundTestKit.h"

namespace quillet {
namespace {

using namespace soundtest;
using Clock = std::chrono::steady_clock;

CaptureAudioFormat pcmFormat(uint16_t channels, uint32_t rate)
{
    CaptureAudioFormat f;
    f.channels = channels;
    f.sampleRate = rate;
    f.blockAlign = static_cast<uint16_t>(channels * 2);
    f.avgBytesPerSecond = rate * f.blockAlign;
    return f;
}

// Handles count buffer notifications the way the engine does (release, read,
// requeue), checking that each is whole and in order.
void collect(AudioInput& input, AudioBufferMailbox& box, int count, std::vector<uint8_t>& pcm,
             uint64_t firstSequence = 0)
{
    for (int i = 0; i < count; ++i) {
        AudioInputEvent ev;
        ASSERT_EQ(box.wait(3000, ev), 1) << "no buffer " << i << " within 3 s";
        ASSERT_EQ(ev.kind, AudioInputEvent::BufferDone) << input.lastError();
        ASSERT_EQ(ev.input, &input);
        uint8_t* data = input.releaseBuffer(ev.buffer);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(ev.buffer->bytesRecorded, ev.buffer->bufferLength);
        EXPECT_EQ(ev.buffer->sequence, firstSequence + static_cast<uint64_t>(i));
        pcm.insert(pcm.end(), data, data + ev.buffer->bytesRecorded);
        ASSERT_EQ(input.requeueBuffer(ev.buffer), 1);
    }
}

TEST(PulseRecorder, MicrophoneToneArrivesInWholeOrderedBuffers)
{
    REQUIRE_TEST_SOUND_SERVER();
    const std::string tone = writeToneWav(1000, 6);
    ASSERT_FALSE(tone.empty());

    // What an MP4 recording at quality 3 asks for: 32000 Hz stereo, 5120 frames.
    const CaptureAudioFormat f = captureFormatFor(buildAudioTargetFormat(3, OutputMp4));
    const uint32_t frames = captureBufferFrames(OutputMp4, f.sampleRate, 15);
    AudioBufferMailbox box;
    std::unique_ptr<AudioInput> rec = createAudioInput();
    ASSERT_EQ(rec->open(&box, frames, &f, ""), 1) << rec->lastError();
    ChildProcess player;
    ASSERT_EQ(player.start({"paplay", "-d", "micfeed", tone}), 1);

    std::vector<uint8_t> pcm;
    ASSERT_NO_FATAL_FAILURE(collect(*rec, box, 16, pcm));
    EXPECT_EQ(pcm.size(), 16u * 20480);
    EXPECT_EQ(rec->overrunBytes(), 0u);
    EXPECT_EQ(rec->stop(), 1);

    for (int ch = 0; ch < 2; ++ch) {
        const Spectrum s = analyse(channelOf(pcm, 2, ch), f.sampleRate);
        EXPECT_NEAR(s.peakHz, 1000.0, 4.0) << "channel " << ch;
        EXPECT_GT(s.peakShare, 0.8) << "channel " << ch;
        EXPECT_GT(s.rms, 0.1) << "channel " << ch;
    }
}

TEST(PulseRecorder, NamedDeviceStopsDiscardsStaleNoticesAndRestarts)
{
    REQUIRE_TEST_SOUND_SERVER();
    const CaptureAudioFormat f = pcmFormat(1, 16000);
    AudioBufferMailbox box;
    PulseRecorder rec;
    ASSERT_EQ(rec.open(&box, 16000 / 4, &f, "mic"), 1) << rec.lastError();
    EXPECT_EQ(rec.open(&box, 4000, &f, "mic"), 0) << "open while running must fail";
    EXPECT_TRUE(rec.running());

    AudioInputEvent first;
    ASSERT_EQ(box.wait(3000, first), 1);
    ASSERT_EQ(first.kind, AudioInputEvent::BufferDone);
    ASSERT_NE(rec.releaseBuffer(first.buffer), nullptr);
    EXPECT_EQ(rec.releaseBuffer(first.buffer), nullptr) << "a buffer is handed out once";
    EXPECT_EQ(first.buffer->bytesRecorded, 8000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // let more notices queue up

    EXPECT_EQ(rec.stop(), 1);
    EXPECT_FALSE(rec.running());
    EXPECT_EQ(rec.requeueBuffer(first.buffer), 0);
    EXPECT_EQ(rec.stop(), 0) << "second stop does nothing";
    ASSERT_GE(box.pending(), 1u) << "notices from before the stop are still queued";

    // Reopen before the old notices are handled, and let all three buffers
    // fill: the stale notices name slots that now hold new sound, yet the
    // consumer must still read it in order from sequence 0.
    ASSERT_EQ(rec.open(&box, 4000, &f, "mic"), 1) << rec.lastError();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    uint64_t next = 0;
    int staleSeen = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (next < 4 && Clock::now() < deadline) {
        AudioInputEvent ev;
        if (!box.wait(100, ev))
            continue;
        ASSERT_EQ(ev.kind, AudioInputEvent::BufferDone);
        uint8_t* data = rec.releaseBuffer(ev.buffer);
        if (!data) {
            ++staleSeen;
            continue;
        }
        ASSERT_EQ(ev.buffer->sequence, next++);
        EXPECT_EQ(rec.requeueBuffer(ev.buffer), 1);
    }
    EXPECT_EQ(next, 4u);
    EXPECT_GE(staleSeen, 1);
    EXPECT_EQ(rec.stop(), 1);
}

TEST(PulseRecorder, BadOpensFailAndLeaveNothingOpen)
{
    REQUIRE_TEST_SOUND_SERVER();
    AudioBufferMailbox box;
    PulseRecorder rec;
    EXPECT_EQ(rec.stop(), 0) << "stop on a recorder never opened";
    const CaptureAudioFormat f = pcmFormat(2, 32000);
    EXPECT_EQ(rec.open(&box, 5120, &f, "no-such-source"), 0);
    EXPECT_NE(rec.lastError().find("no-such-source"), std::string::npos) << rec.lastError();
    EXPECT_FALSE(rec.running());
    EXPECT_EQ(rec.open(nullptr, 5120, &f, ""), 0);
    EXPECT_EQ(rec.open(&box, 0, &f, ""), 0);
    CaptureAudioFormat odd = pcmFormat(3, 32000);
    EXPECT_EQ(rec.open(&box, 5120, &odd, ""), 0);
    odd = pcmFormat(2, 32000);
    odd.bitsPerSample = 24;
    EXPECT_EQ(rec.open(&box, 5120, &odd, ""), 0);
    EXPECT_EQ(rec.open(&box, 0xFFFFFFFFu, &f, ""), 0) << "a 16 GiB buffer is refused";
    AudioBuffer foreign;
    EXPECT_EQ(rec.releaseBuffer(&foreign), nullptr);
    EXPECT_EQ(rec.requeueBuffer(&foreign), 0);
    EXPECT_EQ(box.pending(), 0u) << "failed opens announce nothing";

    // Without a format the recorder takes 8000 Hz mono 8-bit.
    ASSERT_EQ(rec.open(&box, 800, nullptr, ""), 1) << rec.lastError();
    std::vector<uint8_t> pcm;
    ASSERT_NO_FATAL_FAILURE(collect(rec, box, 1, pcm));
    EXPECT_EQ(pcm.size(), 800u);
    EXPECT_EQ(rec.releaseBuffer(&foreign), nullptr);
    EXPECT_EQ(rec.stop(), 1);
}

TEST(PulseRecorder, VanishedDeviceFailsClearlyAfterDeliveringAllItRecorded)
{
    REQUIRE_TEST_SOUND_SERVER();
    // A capture source of its own that can be removed, fed like the microphone.
    const std::string sourceName = "qgone" + std::to_string(getpid());
    PulseModule source("module-remap-source source_name=" + sourceName + " master=micfeed.monitor");
    ASSERT_TRUE(source.loaded());

    const CaptureAudioFormat f = pcmFormat(1, 32000);
    AudioBufferMailbox box;
    PulseRecorder rec;
    ASSERT_EQ(rec.open(&box, 1024, &f, sourceName), 1) << rec.lastError();
    // A new source keeps its first reader waiting about two seconds before
    // sound flows evenly; handle buffers normally until then.
    uint64_t expectedSequence = 0;
    const auto warm = Clock::now() + std::chrono::milliseconds(3000);
    while (Clock::now() < warm) {
        AudioInputEvent ev;
        if (!box.wait(50, ev))
            continue;
        ASSERT_EQ(ev.kind, AudioInputEvent::BufferDone) << rec.lastError();
        ASSERT_NE(rec.releaseBuffer(ev.buffer), nullptr);
        ASSERT_EQ(ev.buffer->sequence, expectedSequence++);
        ASSERT_EQ(rec.requeueBuffer(ev.buffer), 1);
    }
    ASSERT_GT(expectedSequence, 0u) << "no sound from the new source";
    const auto flowing = Clock::now();
    // The consumer is busy: all three buffers fill and the rest must wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    source.unload();
    const double recordedSeconds = std::chrono::duration<double>(Clock::now() - flowing).count();

    uint64_t bytes = 0;
    bool partialSeen = false;
    bool failed = false;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!failed && Clock::now() < deadline) {
        AudioInputEvent ev;
        if (!box.wait(500, ev))
            continue;
        if (ev.kind == AudioInputEvent::Failed) {
            failed = true;
            break;
        }
        EXPECT_FALSE(partialSeen) << "a part-filled buffer may only be the last";
        ASSERT_NE(rec.releaseBuffer(ev.buffer), nullptr);
        EXPECT_EQ(ev.buffer->sequence, expectedSequence++);
        partialSeen = ev.buffer->bytesRecorded < ev.buffer->bufferLength;
        bytes += ev.buffer->bytesRecorded;
        rec.requeueBuffer(ev.buffer);
    }
    ASSERT_TRUE(failed) << "no failure notice within 10 s";
    EXPECT_FALSE(rec.lastError().empty());
    AudioInputEvent after;
    EXPECT_EQ(box.wait(300, after), 0) << "nothing follows the failure notice";

    // Everything recorded while the consumer was busy arrives: far more than
    // the three buffers' 6 KiB.
    const double expected = recordedSeconds * f.avgBytesPerSecond;
    EXPECT_GT(static_cast<double>(bytes), 0.6 * expected) << bytes << " bytes in " << recordedSeconds << " s";
    EXPECT_LT(static_cast<double>(bytes), 1.2 * expected + 6000);
    EXPECT_EQ(rec.stop(), 1);
}

TEST(PulseRecorder, WithoutASoundServerEverythingFailsPromptlyAndCleanly)
{
    // Points this process at a server that does not exist; nothing here needs
    // the real one.
    const char* saved = std::getenv("PULSE_SERVER");
    const std::string restore = saved ? saved : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/quillet-no-server", 1);
    const auto t0 = Clock::now();

    AudioSystemInfo info;
    std::string error;
    EXPECT_EQ(queryAudioSystem(info, error), 0);
    EXPECT_FALSE(error.empty());
    AudioSourceList list;
    list.build(info);
    EXPECT_EQ(list.entries().size(), 1u) << "only the default device is offered";

    AudioBufferMailbox box;
    std::unique_ptr<AudioInput> rec = createAudioInput();
    const CaptureAudioFormat f = pcmFormat(2, 32000);
    EXPECT_EQ(rec->open(&box, 5120, &f, ""), 0);
    EXPECT_FALSE(rec->running());
    EXPECT_FALSE(rec->lastError().empty());
    EXPECT_EQ(rec->stop(), 0);

    const LookbackCallFn entry = platformLookbackCall();
    std::vector<uint8_t> record(WaveFormatRecord::kSize);
    WaveFormatRecord::fromCapture(f).write(record.data());
    EXPECT_EQ(entry(record.data(), kLookbackStart), 0);
    std::vector<uint8_t> buf(4096);
    EXPECT_EQ(entry(buf.data(), 4096), 0);
    EXPECT_EQ(entry(nullptr, kLookbackStop), 0);

    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 3.0);
    EXPECT_EQ(box.pending(), 0u);
    if (saved)
        setenv("PULSE_SERVER", restore.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

TEST(PulseRecorder, ServerThatDiesEndsRecordingWithANoticeNotACrash)
{
    REQUIRE_TEST_SOUND_SERVER();
    // A sound server of this test's own, so that killing it disturbs nobody.
    char dirTemplate[] = "/tmp/quillet-pa.XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    {
        std::ofstream pa(dir + "/test.pa");
        pa << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << dir << "/native\n"
           << "load-module module-null-sink sink_name=doomed\n"
           << "set-default-source doomed.monitor\n";
    }
    ChildProcess server;
    ASSERT_EQ(server.start({"sh", "-c",
                            "XDG_RUNTIME_DIR=" + dir + " PULSE_STATE_PATH=" + dir +
                                " exec pulseaudio --daemonize=no -n -F " + dir +
                                "/test.pa --exit-idle-time=-1 --use-pid-file=no >/dev/null 2>&1"}),
              1);
    const std::string saved = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        PulseConnection probe;
        up = probe.connect("Quillet test probe", 200) == 1;
        if (!up)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    AudioBufferMailbox box;
    PulseRecorder rec;
    const CaptureAudioFormat f = pcmFormat(1, 32000);
    const bool opened = up && rec.open(&box, 1024, &f, "") == 1;
    const LookbackCallFn entry = platformLookbackCall();
    std::vector<uint8_t> record(WaveFormatRecord::kSize);
    WaveFormatRecord::fromCapture(f).write(record.data());
    const bool looping = up && entry(record.data(), kLookbackStart) == 1;
    setenv("PULSE_SERVER", saved.c_str(), 1);
    ASSERT_TRUE(up) << "private sound server did not start";
    ASSERT_TRUE(opened) << rec.lastError();
    ASSERT_TRUE(looping);

    server.kill();
    bool failed = false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!failed && Clock::now() < deadline) {
        AudioInputEvent ev;
        if (!box.wait(100, ev))
            continue;
        if (ev.kind == AudioInputEvent::Failed)
            failed = true;
        else if (rec.releaseBuffer(ev.buffer))
            rec.requeueBuffer(ev.buffer);
    }
    EXPECT_TRUE(failed) << "no notice within 5 s of the server's end";
    EXPECT_FALSE(rec.lastError().empty());
    std::vector<uint8_t> buf(4096);
    EXPECT_EQ(entry(buf.data(), 4096), 0);
    EXPECT_EQ(entry(nullptr, kLookbackStop), 0);
    EXPECT_EQ(rec.stop(), 1);
    runCommand("rm -rf " + dir);
}

TEST(PulseDeviceList, ServerSourcesBecomeTheSourceList)
{
    REQUIRE_TEST_SOUND_SERVER();
    AudioSystemInfo info;
    std::string error;
    ASSERT_EQ(queryAudioSystem(info, error), 1) << error;
    EXPECT_EQ(info.defaultSource, "mic");
    EXPECT_EQ(info.defaultSinkMonitor, "speaker.monitor");
    auto find = [&](const std::string& name) {
        return std::find_if(info.sources.begin(), info.sources.end(),
                            [&](const CaptureDeviceInfo& d) { return d.name == name; });
    };
    ASSERT_NE(find("mic"), info.sources.end());
    EXPECT_FALSE(find("mic")->isMonitor);
    EXPECT_EQ(find("mic")->description, "Microphone");
    ASSERT_NE(find("speaker.monitor"), info.sources.end());
    EXPECT_TRUE(find("speaker.monitor")->isMonitor);

    AudioSourceList list;
    list.build(info);
    ASSERT_GE(list.entries().size(), 3u);
    EXPECT_EQ(list.entries().front().kind, AudioSourceKind::DefaultDevice);
    EXPECT_EQ(list.entries().back().kind, AudioSourceKind::ComputerSound);
    bool micListed = false;
    for (const AudioSourceEntry& e : list.entries()) {
        EXPECT_EQ(e.device.find(".monitor"), std::string::npos) << e.device;
        micListed = micListed || e.device == "mic";
    }
    EXPECT_TRUE(micListed);
}

} // namespace
} // namespace quillet
