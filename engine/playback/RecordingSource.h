#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/outputs/FrameRecords.h"
#include "engine/playback/OwnRecordReader.h"
#include "mux/avi/AviReader.h"

namespace quillet {

enum class RecordingKind { Avi, OwnRecord };

// The sound of a recording as its format record describes it.
struct SoundTrackFormat {
    bool present = false;
    uint16_t formatTag = 0; // 85: MPEG layer 3
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSecond = 0;
};

// A region record inside a frame's storage.
struct SourceRegion {
    Rect rect; // inclusive
    size_t at = 0;
    size_t size = 0;
    uint64_t fileOffset = 0; // of its coded bytes
};

// One coded frame of a recording, whichever container held it. Copies stay
// whole: regions name their bytes by place in storage.
struct SourceFrame {
    uint32_t tick = 0;     // frame slot at which it shows
    bool key = false;
    bool broken = false;   // its packet could not be taken apart (see RecordingSource::warning)
    uint64_t offset = 0;   // where its data starts in the file
    std::vector<SourceRegion> regions;
    std::vector<uint8_t> sideData;
    bool cursor = false;   // the cursor moved or changed shape
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    std::vector<uint8_t> cursorPicture; // compressed; empty when only the position changed
    std::vector<uint8_t> storage;

    const uint8_t* data(const SourceRegion& r) const { return storage.data() + r.at; }
};

// The frames and sound of an AVI ("QVS2") or own record file, in file order.
// Frame times are counted in frame slots: a frame shows from its tick until
// the next frame's.
//
// A damaged or cut file ends at its last whole frame: next() then returns 0
// and damaged() and error() say where. A frame whose packet is damaged but
// whose container is whole comes out marked broken, with warning() set.
class RecordingSource {
public:
    enum Item { End = 0, Frame = 1, Sound = 2 };
    // The recorder writes at most 1920 × 1088 pictures and 25 frames per
    // second; a head that claims more than this is damaged, and reading on
    // would only allocate for it.
    static constexpr int32_t kMaxPictureSide = 4096;
    static constexpr int kMaxFramesPerSecond = 255;

    RecordingSource();
    ~RecordingSource();

    // Opens the file (the kind is told by its first bytes). Returns 1, or 0
    // with error().
    int open(const std::string& path);
    RecordingKind kind() const { return kind_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int framesPerSecond() const { return fps_; }
    uint32_t compression() const { return compression_; }
    const SoundTrackFormat& soundFormat() const { return sound_; }
    // What the file's head says about its length: the duration field of an
    // own record file, the video stream length of an AVI (in ticks); 0 when
    // the writer never finished the file.
    uint32_t declaredDurationMs() const { return declaredMs_; }
    uint64_t fileSize() const;

    // Frames then carry only their place, tick and key flag (and sound
    // chunks nothing): a walk that builds an index reads little of the file.
    void setScanOnly(bool on);

    // The next item: a frame (frame()) or a sound chunk (sound()).
    int next();
    const SourceFrame& frame() const { return frame_; }
    const std::vector<uint8_t>& sound() const { return soundBytes_; }
    // Bytes of the last sound chunk (also when scanning).
    size_t soundSize() const { return soundSize_; }
    // Frame slots passed so far, repeated ticks included.
    uint32_t ticks() const { return ticks_; }

    // Continues at a frame an earlier walk found, which shows at `tick`.
    int seek(uint64_t offset, uint32_t tick);

    bool damaged() const;
    const std::string& error() const;
    const std::string& warning() const { return warning_; }
    const std::string& path() const { return path_; }

private:
    int nextAvi();
    int nextOwn();
    int takeOwnRegion(const OwnRecord& r);
    void beginFrame(uint64_t offset);

    RecordingKind kind_ = RecordingKind::Avi;
    std::string path_;
    std::unique_ptr<AviReader> avi_;
    std::unique_ptr<OwnRecordReader> own_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int fps_ = 0;
    uint32_t compression_ = 0;
    uint32_t declaredMs_ = 0;
    SoundTrackFormat sound_;

    bool scanOnly_ = false;
    SourceFrame frame_;
    std::vector<uint8_t> soundBytes_;
    size_t soundSize_ = 0;
    uint32_t ticks_ = 0;
    std::string warning_;
    std::string error_;

    // Own record file: the frame being gathered, and a region record read
    // ahead that belongs to the next one.
    bool gathering_ = false;
    bool awaitingCursor_ = false;
    uint32_t pendingAdvance_ = 0;
    OwnRecord held_;
    bool holding_ = false;
    OwnRecord record_;
};

SoundTrackFormat soundTrackFormat(const uint8_t* waveFormat, size_t size);

} // namespace quillet
