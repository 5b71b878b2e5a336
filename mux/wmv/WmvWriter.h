#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ScreenFrame.h"

namespace quillet {

// The captured picture as a BITMAPINFOHEADER describes it: rows bottom-up
// (a positive height), blue-green-red pixels, 5-5-5 words at 16 bits.
struct WmvBitmapInfo {
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biBitCount = 32; // 16, 24 or 32
    uint32_t biSizeImage = 0; // bytes of one picture
};

// The sound as a WAVEFORMATEX describes it. The writer is handed PCM of these
// channels, rate and bits; nAvgBytesPerSec is the recording's compressed rate,
// to which the Windows Media Audio bit rate is matched.
struct WmvWaveFormat {
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 22050;
    uint32_t nAvgBytesPerSec = 3000;
    uint16_t wBitsPerSample = 16;
};

// What changed in a picture since the previous one: rectangles in upright
// picture coordinates (row 0 at the top, inclusive right and bottom).
struct WmvChanges {
    const Rect* rects = nullptr;
    size_t count = 0;
};

// One Windows Media Audio coding the writer can offer for the recording's
// rate and channels.
struct WmvAudioChoice {
    uint32_t avgBytesPerSecond = 0;
    uint32_t blockAlign = 0;
};

// Of the offered codings (in the order offered), the one whose bit rate is
// nearest to targetBytesPerSecond * 8: only a strictly nearer one replaces the
// one kept, and with a video stream it must also not need larger blocks
// (without, not smaller ones). Returns its index, -1 when none is offered.
int chooseWmvAudio(const std::vector<WmvAudioChoice>& offered, uint32_t targetBytesPerSecond, bool withVideo);

// Writes a Windows Media file: Windows Media Video 8 pictures and Windows
// Media Audio 2 sound in an ASF container, coded and muxed by libavcodec and
// libavformat. Pictures and PCM arrive uncoded with their times in ms; the
// pictures are converted to 4:2:0 by our own converter, where they changed.
//
// Results: 1 success, 0 failure. Not thread-safe: the recording lock
// serialises all calls. Open and Close print nothing but the console lines
// named below; sample writes report failure by their result only.
class WmvWriter {
public:
    // Every picture is a key frame at least this often.
    static constexpr int64_t kMaxKeyFrameDistance100ns = 20LL * 10000000;
    // The largest block of sound one WriteAudio takes.
    static constexpr size_t kMaxAudioBlock = 0x10000;
    // Buffer window of each stream (ms).
    static constexpr int kBufferWindowMs = 3000;
    // A still picture is coded again this often (ms).
    static constexpr uint32_t kStillRefreshMs = 1000;
    static constexpr const char* kReconfigureError = "Error: couldn't reconfigure input format.\n";

    WmvWriter();
    ~WmvWriter();
    WmvWriter(const WmvWriter&) = delete;
    WmvWriter& operator=(const WmvWriter&) = delete;

    // The time of a sample in the file's 100-ns units.
    static int64_t SampleTime100ns(uint32_t ms) { return static_cast<int64_t>(ms) * 10000; }

    // Non-zero for the quality levels above 0 (Windows Media Video 9 there,
    // screen video at level 0 on the platform that has both); both map to
    // Windows Media Video 8, the one coder at hand. Set before Open.
    void SetCodecChoice(int codecChoice) { codec_choice_ = codecChoice; }
    int CodecChoice() const { return codec_choice_; }

    // Creates the file: one video stream of the picture's size at `bitRate`
    // bits/s and, with `audio`, one sound stream. Returns 1 when writing has
    // begun, 0 when a coder is missing or refuses the format, or the file
    // cannot be created (the file is then removed).
    int Open(const char* path, const WmvBitmapInfo& picture, int framesPerSecond, int bitRate,
             const WmvWaveFormat* audio);
    // One picture of biSizeImage bytes shown from `ms` on, for durationMs
    // (0: one frame period); the file lasts until the last picture's end.
    // With `changes`, only those parts are converted again (none: the same
    // picture once more); the first picture is always converted whole.
    // Times must grow. Returns 1 when the picture was taken.
    int WriteVideo(uint32_t ms, const uint8_t* bits, size_t length, uint32_t durationMs = 0,
                   const WmvChanges* changes = nullptr);
    // PCM from `ms` on, any number of whole sample frames up to
    // kMaxAudioBlock bytes. A later start than the sound written so far is
    // filled with silence. Returns 1 when the sound was taken.
    int WriteAudio(uint32_t ms, const uint8_t* bytes, size_t length);
    // Codes what the coders hold back, writes the index and the final header,
    // and releases everything. Returns 1 when the file is complete.
    int Close();

    bool IsOpen() const;
    // A write failed since Open (a full disk, a refused sample).
    bool Failed() const;
    // What the writer chose at Open: the video and sound bit rates (bits/s).
    int VideoBitRate() const;
    int AudioBitRate() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int codec_choice_ = 1;
};

} // namespace quillet
