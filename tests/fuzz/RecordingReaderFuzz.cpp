// libFuzzer target for the recording reader: any bytes as an AVI or own
// record file, opened, played to the end (pictures through the screen codec's
// decoder, the cursor through LZO, the sound through the MP3 decoder) and
// seeked. Built by scripts/fuzz-recordings.sh with clang.
//
// With QUILLET_FUZZ_SEEDS=DIR set, the first run writes two small valid
// recordings (AVI and own record file, with sound and cursor) into DIR as a
// seed corpus.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEncoder.h"
#include "base/SessionLock.h"
#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/AviOutput.h"
#include "engine/outputs/OwnRecordOutput.h"
#include "engine/playback/RecordingPlayer.h"

namespace {

using namespace quillet;

void writeSeed(const std::string& path, bool avi)
{
    SyntheticScreen screen(96, 64, 32);
    CursorImage arrow;
    arrow.serial = 7;
    arrow.width = arrow.height = 8;
    arrow.argb.assign(64, 0xFF102030u);
    screen.setCursor(arrow);
    FrameGrabber grabber(screen);
    if (!grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true))
        return;
    CursorOverlay cursor(screen);
    std::unique_ptr<MediaOutput> out;
    if (avi)
        out = std::make_unique<AviOutput>();
    else
        out = std::make_unique<OwnRecordOutput>();
    OutputOpenParams p;
    p.fileName = path;
    p.width = grabber.width();
    p.height = grabber.height();
    p.bitsPerPixel = 32;
    p.framesPerSecond = 5;
    p.sound = true;
    p.target = buildAudioTargetFormat(1, avi ? OutputAvi : OutputOwnRecord);
    p.capture = captureFormatFor(p.target);
    const char* key = nullptr;
    if (!out->open(p, &key))
        return;
    AudioEncoder mp3;
    mp3.open(p.capture, p.target, Mp3Framing::Continuous);
    SessionLock lock;
    std::vector<int16_t> pcm(p.capture.sampleRate / 5);
    std::vector<uint8_t> coded(64000);
    for (int i = 0; i < 6; ++i) {
        screen.fill(Rect{0, 0, 96, 64}, 0x204080u + 0x101010u * uint32_t(i));
        screen.fill(Rect{8 * i, 8, 8 * i + 30, 40}, 0xF0E0D0u);
        screen.setPointer(10 + 9 * i, 20 + 3 * i);
        grabber.capture(false);
        VideoFrameJob job;
        job.grabber = &grabber;
        job.cursor = &cursor;
        job.cursorSerial = screen.cursorSerial();
        job.lock = &lock;
        job.advance = 1 + i % 2;
        job.keyFrame = i % 3 == 0;
        out->videoFrame(job);
        for (size_t k = 0; k < pcm.size(); ++k)
            pcm[k] = static_cast<int16_t>(6000 * std::sin(0.25 * double(k + i * pcm.size())));
        const int n = mp3.encode(reinterpret_cast<const uint8_t*>(pcm.data()), coded.data(),
                                 static_cast<int>(pcm.size() * 2), static_cast<int>(coded.size()));
        if (n > 0) {
            SessionGuard g(lock);
            out->soundMp3(coded.data(), static_cast<size_t>(n), 0);
        }
    }
    out->close(9, 5);
}

std::string scratchFile()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/quillet-fuzz-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0)
            close(fd);
        return std::string(pattern);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* dir = std::getenv("QUILLET_FUZZ_SEEDS")) {
        writeSeed(std::string(dir) + "/seed.avi", true);
        writeSeed(std::string(dir) + "/seed.rec", false);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The readers read files: the input goes into one scratch file.
    const std::string& path = scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    quillet::RecordingPlayer player;
    if (!player.open(path))
        return 0;
    quillet::PlayerFrame frame;
    std::vector<int16_t> pcm;
    for (int i = 0; i < 200 && player.next(frame); ++i)
        player.takeSound(pcm);
    player.finishSound();
    player.takeSound(pcm);
    if (player.seek(player.info().durationMs / 2))
        player.next(frame);
    return 0;
}
