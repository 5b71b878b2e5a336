#include "audio/input/AudioSourceList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "audio/input/AudioBufferMailbox.h"
#include "audio/input/CaptureBufferSize.h"
#include "audio/input/WaveFormatRecord.h"
#include "engine/AudioFormats.h"

namespace quillet {
namespace {

AudioSystemInfo typicalSystem()
{
    AudioSystemInfo info;
    info.sources = {
        {"mic", "Microphone", false},
        {"speaker.monitor", "Monitor of Speaker", true},
        {"usb_input.b", "USB headset", false},
        {"micfeed.monitor", "Monitor of MicFeed", true},
        {"alsa_input.a", "", false},
    };
    info.defaultSource = "mic";
    info.defaultSinkMonitor = "speaker.monitor";
    return info;
}

TEST(AudioSourceList, DefaultFirstThenDevicesByNameThenComputerSound)
{
    AudioSourceList list;
    list.build(typicalSystem());
    const auto& e = list.entries();
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].kind, AudioSourceKind::DefaultDevice);
    EXPECT_STREQ(e[0].labelKey, "DEFAULTA");
    EXPECT_EQ(e[0].label, "   默认录音设备");
    EXPECT_EQ(e[1].device, "alsa_input.a");
    EXPECT_EQ(e[1].label, "alsa_input.a") << "a device without a description shows its name";
    EXPECT_EQ(e[2].device, "mic");
    EXPECT_EQ(e[2].label, "Microphone");
    EXPECT_EQ(e[3].device, "usb_input.b");
    EXPECT_EQ(e[4].kind, AudioSourceKind::ComputerSound);
    EXPECT_STREQ(e[4].labelKey, "WAVEOUT");
    EXPECT_EQ(e[4].label, "   电脑内播放音");

    EXPECT_EQ(list.deviceCount(), 3);
    EXPECT_EQ(list.sourceCount(), 4);
    EXPECT_TRUE(list.isComputerSound(4));
    EXPECT_FALSE(list.isComputerSound(3));
    EXPECT_EQ(list.deviceForIndex(0), "");
    EXPECT_EQ(list.deviceForIndex(2), "mic");
    EXPECT_EQ(list.deviceForIndex(4), "") << "computer sound is clocked by the default device";
    EXPECT_EQ(list.clampIndex(-3), 0);
    EXPECT_EQ(list.clampIndex(17), 4);
    EXPECT_EQ(list.deviceForIndex(17), "");
}

TEST(AudioSourceList, OrderDoesNotDependOnTheOrderDevicesWereReported)
{
    AudioSystemInfo a = typicalSystem();
    AudioSystemInfo b = a;
    std::reverse(b.sources.begin(), b.sources.end());
    b.sources.push_back(b.sources.front()); // reported twice by a racing enumeration
    AudioSourceList la, lb;
    la.build(a);
    lb.build(b);
    ASSERT_EQ(la.entries().size(), lb.entries().size());
    for (size_t i = 0; i < la.entries().size(); ++i)
        EXPECT_EQ(la.entries()[i].device, lb.entries()[i].device) << i;
}

TEST(AudioSourceList, WithoutAMonitorTheLastDeviceIsTheHighestIndex)
{
    AudioSystemInfo info = typicalSystem();
    info.defaultSinkMonitor.clear();
    AudioSourceList list;
    list.build(info);
    EXPECT_FALSE(list.offersComputerSound());
    EXPECT_EQ(list.sourceCount(), 3);
    EXPECT_EQ(list.clampIndex(4), 3);
    EXPECT_FALSE(list.isComputerSound(3));
    EXPECT_EQ(list.deviceForIndex(4), "usb_input.b");

    AudioSourceList empty;
    empty.build(AudioSystemInfo());
    EXPECT_EQ(empty.entries().size(), 1u) << "the default device is always offered";
    EXPECT_EQ(empty.clampIndex(5), 0);
}

TEST(CaptureBufferSize, FramesPerBufferByOutputType)
{
    EXPECT_EQ(captureBufferFrames(OutputMp4, 32000, 15), 5120u);
    EXPECT_EQ(captureBufferFrames(OutputFlv, 44100, 15), 8192u);
    EXPECT_EQ(captureBufferFrames(OutputAvi, 11025, 15), 2756u);
    EXPECT_EQ(captureBufferFrames(OutputWmv, 22050, 15), 5512u);
    EXPECT_EQ(captureBufferFrames(OutputOwnRecord, 8000, 15), 2000u);
    EXPECT_EQ(captureBufferFrames(OutputSwf, 16000, 12), 1333u);
    EXPECT_EQ(captureBufferFrames(OutputSwf, 16000, 0), 16000u);
    EXPECT_EQ(captureBufferFrames(OutputMp4, 5000, 15), 1u) << "never an empty buffer";
}

TEST(CaptureBufferSize, Mp4AtLevel3IsTwentyThousandBytesPerBuffer)
{
    const CaptureAudioFormat f = captureFormatFor(buildAudioTargetFormat(3, OutputMp4));
    EXPECT_EQ(captureBufferFrames(OutputMp4, f.sampleRate, 15) * f.blockAlign, 20480u);
    const CaptureAudioFormat a = captureFormatFor(buildAudioTargetFormat(1, OutputAvi));
    EXPECT_EQ(captureBufferFrames(OutputAvi, a.sampleRate, 15) * a.blockAlign, 5512u);
}

TEST(WaveFormatRecord, LayoutAndRoundTrip)
{
    CaptureAudioFormat c;
    c.channels = 2;
    c.sampleRate = 32000;
    c.blockAlign = 4;
    c.avgBytesPerSecond = 128000;
    uint8_t rec[WaveFormatRecord::kSize];
    WaveFormatRecord::fromCapture(c).write(rec);
    const std::vector<uint8_t> expected = {
        0x01, 0x00,             // PCM
        0x02, 0x00,             // stereo
        0x00, 0x7D, 0x00, 0x00, // 32000 Hz
        0x00, 0xF4, 0x01, 0x00, // 128000 bytes/s
        0x04, 0x00,             // block align
        0x10, 0x00,             // 16 bits
        0x00, 0x00,             // no extra bytes
    };
    EXPECT_EQ(std::vector<uint8_t>(rec, rec + sizeof rec), expected);
    const WaveFormatRecord back = WaveFormatRecord::read(rec);
    EXPECT_TRUE(back.isPcm16MonoOrStereo());
    EXPECT_EQ(back.sampleRate, 32000u);
    EXPECT_EQ(back.avgBytesPerSecond, 128000u);

    WaveFormatRecord eight = back;
    eight.bitsPerSample = 8;
    EXPECT_FALSE(eight.isPcm16MonoOrStereo());
    WaveFormatRecord mp3 = back;
    mp3.formatTag = 85;
    EXPECT_FALSE(mp3.isPcm16MonoOrStereo());
}

// Only its address matters to the mailbox.
class IdleInput : public AudioInput {
public:
    int open(AudioInputListener*, uint32_t, const CaptureAudioFormat*, const std::string&) override { return 0; }
    uint8_t* releaseBuffer(AudioBuffer*) override { return nullptr; }
    int requeueBuffer(AudioBuffer*) override { return 0; }
    int stop() override { return 0; }
    bool running() const override { return false; }
    uint64_t overrunBytes() const override { return 0; }
    std::string lastError() const override { return ""; }
};

TEST(AudioBufferMailbox, KeepsPostingOrderAcrossThreadsAndTimesOut)
{
    AudioBufferMailbox box;
    IdleInput input;
    AudioInputEvent ev;
    EXPECT_EQ(box.wait(10, ev), 0);

    std::vector<AudioBuffer> headers(500);
    std::thread producer([&] {
        for (auto& h : headers)
            box.audioBufferDone(input, &h);
        box.audioInputFailed(input);
    });
    for (auto& h : headers) {
        ASSERT_EQ(box.wait(5000, ev), 1);
        ASSERT_EQ(ev.kind, AudioInputEvent::BufferDone);
        ASSERT_EQ(ev.buffer, &h);
    }
    ASSERT_EQ(box.wait(5000, ev), 1);
    EXPECT_EQ(ev.kind, AudioInputEvent::Failed);
    producer.join();

    box.audioInputFailed(input);
    EXPECT_EQ(box.pending(), 1u);
    box.clear();
    EXPECT_EQ(box.wait(0, ev), 0);
}

} // namespace
} // namespace quillet
