#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "mux/journal/RecordingJournal.h"

namespace quillet {

// The side journal of an MP4 recording being written. The file's own index is
// refreshed only now and then; the journal says, sample by sample and as each
// goes to the file, where it lies, how long it is, how long it lasts and what
// its bytes check to, so that a recording killed between two refreshes can be
// given an index that reaches its last whole sample (Mp4Repair.h).
//
// "rec.mp4.journal" holds the stream parameters and one record per sample;
// records only grow at its end. "rec.mp4.reserve" is room kept free on the
// disk, so that a full disk still leaves space for the final index; its
// beginning also holds the media bytes the writer keeps in memory (those that
// belong where the last index stands until the next refresh writes them
// there), which a killed process would otherwise take with it. That part
// starts over after every refresh, so the file never outgrows the room.
//
// Results: 1 success, 0 failure. A journal that cannot be written is given up
// (the recording goes on without it); outOfSpace() tells whether the disk
// was full.
class Mp4Journal {
public:
    // Record types of the journal.
    enum : uint8_t {
        kParams = 1,     // u32 width, height, sample rate, channels, mdat header offset, first media byte
        kVideoHead = 2,  // u16 length + SPS, u16 length + PPS
        kAudioDelay = 3, // u32 sample frames
        kVideo = 4,      // u32 offset, size, duration (ms), u8 key, u32 CRC of the bytes
        kAudio = 5,      // u32 offset, size, duration (ms), u32 CRC of the bytes
        kIndex = 6,      // u32 video and audio samples an index written into the file covers, u32 end of media
    };
    // Record type of the reserve: u32 file offset, then the bytes that belong there.
    static constexpr uint8_t kHeld = 7;

    // Room kept at first; later at least kRoomPerIndexByte per byte of the
    // index plus kRoomMargin (a copy of the old index, the new one, and the
    // held bytes of the next one).
    static constexpr uint64_t kInitialRoom = 512u << 10;
    static constexpr uint64_t kRoomPerIndexByte = 3;
    static constexpr uint64_t kRoomMargin = 256u << 10;

    Mp4Journal() = default;
    ~Mp4Journal() { abandon(); }
    Mp4Journal(const Mp4Journal&) = delete;
    Mp4Journal& operator=(const Mp4Journal&) = delete;

    // Creates both files beside `recording`. 0 when either cannot be made
    // (outOfSpace() then says whether the disk was full).
    int open(const std::string& recording, int width, int height, uint32_t sample_rate, uint32_t channels,
             uint32_t mdat_pos, uint32_t media_start);
    bool active() const { return journal_.isOpen() && !journal_.failed(); }
    bool outOfSpace() const { return out_of_space_; }

    void noteVideoHead(const uint8_t* sps, uint32_t sps_len, const uint8_t* pps, uint32_t pps_len);
    void noteAudioDelay(uint32_t samples);
    // Media bytes that went into memory instead of the file, at their offset.
    void noteHeld(uint32_t offset, const void* bytes, size_t n);
    void noteVideo(uint32_t offset, const char* bytes, uint32_t size, uint32_t duration_ms, int key);
    void noteAudio(uint32_t offset, const char* bytes, uint32_t size, uint32_t duration_ms);
    // An index covering these samples is now in force in the file: the held
    // bytes noted so far are in their place.
    void noteIndex(uint32_t video_samples, uint32_t audio_samples, uint32_t media_end);

    // Keeps room for an index of index_bytes. 0 when the disk cannot give it.
    int ensureRoom(size_t index_bytes);
    // Gives the kept room back to the file system (the held bytes stay).
    void releaseRoom();

    // The recording was closed properly: both files go.
    void finish();
    // Closes both files and leaves them for a repair.
    void abandon();

private:
    void check(int ok);

    JournalWriter journal_;
    JournalWriter room_;
    bool out_of_space_ = false;
};

} // namespace quillet
