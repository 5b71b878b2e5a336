#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "base/DirectFileSink.h"
#include "mux/mp4/ByteBuffer.h"
#include "mux/mp4/Mp4Boxes.h"
#include "mux/mp4/Mp4Journal.h"
#include "mux/mp4/Mp4SampleTables.h"

namespace quillet {

// Writes an MP4 file with at most one H.264 track and one AAC-LC track while a
// recording runs. Every sample is its own chunk; the tables live in memory and
// the index (`moov`) is rebuilt behind the media data at every SaveData, so the
// file on disk is a complete, playable MP4 up to the last SaveData even when the
// process dies, is killed, or the disk fills up.
//
// Media bytes go to the system as each sample is written (no buffer in the
// process), and with EnableJournal a side journal records every sample, so a
// killed recording can be repaired up to its last whole sample (Mp4Repair.h).
//
// Results: 1 success, 0 failure. After a write, seek or allocation failure the
// writer stays open but refuses everything (every call returns 0) and leaves the
// file as it stood after the last successful SaveData; the caller should stop
// and Close. When the failure was a full disk, Close gives back the room the
// journal kept and writes the final index over the cut, so the file holds every
// whole sample written before it. Not thread-safe: the recording lock
// serialises all calls.
//
// Data members are public for inspection; only the methods change them.
class CMp4mux {
public:
    CMp4mux() = default;
    ~CMp4mux();
    CMp4mux(const CMp4mux&) = delete;
    CMp4mux& operator=(const CMp4mux&) = delete;

    // Creates the file. frame_rate is accepted for the caller's convenience and
    // not used. width 0 means audio only. Returns 0 (and leaves the writer not
    // open) when the file cannot be created, an argument is out of range, or
    // memory for the tables is short.
    int Open(const char* path, int width, int height, int frame_rate, int sample_rate, int channels);
    // As Open, but leaves gap_bytes of unreferenced space (a sparse hole) at the
    // start of the media data, so that tests reach the 4 GiB split thresholds
    // without writing gigabytes. All offsets in the file stay true.
    int OpenWithLeadingGap(const char* path, int width, int height, int frame_rate, int sample_rate,
                           int channels, uint32_t gap_bytes);

    // Keeps the side journal and the room for the final index beside the
    // file ("name.journal", "name.reserve") from now on, continuation files
    // included; both go at a successful Close. Call right after Open. Returns
    // 0 when they cannot be made: on a full disk the writer then refuses
    // everything (OutOfSpace()), otherwise it goes on without them.
    int EnableJournal();

    // Repair: opens a file this writer began, without changing it, to give it
    // an index again. The samples already in it are then declared in their
    // order with RestoreVideo and RestoreAudio, exactly as they were once
    // written, and Close writes the index behind the last one and cuts the
    // file there. media_start is the offset of the first media byte.
    int OpenExisting(const char* path, int width, int height, int sample_rate, int channels, uint32_t mdat_pos,
                     uint32_t media_start);
    int RestoreVideo(uint32_t size, unsigned long duration, int key);
    int RestoreAudio(uint32_t size, unsigned long duration);

    // Declares that every audio sample's sound comes out of the decoder this
    // many sample frames late (AAC priming and look-ahead). The audio track's
    // edit list then starts that far into the media, so players skip the
    // leading silence and sound lines up with the pictures. Kept for
    // continuation files. Refused (0) while not open or without audio.
    int SetAudioEncoderDelay(uint32_t samples);
    // The delay in the media's milliseconds, rounded to the nearest.
    uint32_t AudioDelayMs() const { return audio_delay_ms; }

    // Stores the parameter sets (NAL units, header byte first, no start code).
    // Refuses (0, nothing changed) sets shorter than 4 / 1 bytes or longer than
    // 100 bytes, and any call while not open.
    int WriteVideoHead(const void* sps, int sps_len, const void* pps, int pps_len);
    // One coded picture: 4-byte big-endian NAL length, then the NAL unit.
    // duration in ms since the previous picture.
    int WriteVideo(const char* sample, int size, unsigned long duration, int key);
    // One raw AAC frame without its ADTS header.
    int WriteAudio(const char* sample, int size, unsigned long duration);
    // No more sound will come (the device went away): the video stops
    // following the sound clock, which would otherwise squeeze every later
    // picture against sound that has stopped. Kept for continuation files.
    void EndAudio() { audio_ended = true; }
    // Brings the file on disk to a complete MP4 covering every sample so far.
    int SaveData();
    // Low-level media write: fills the place of the previous index first.
    int WriteData(const char* bytes, int size);
    // Final SaveData, closes the file and frees the tables. Returns 0 when the
    // final index or the close failed (the file then holds the last good index).
    int Close();
    // Finishes this file and continues in the next ("name_1.mp4"). Returns 0
    // when the continuation could not be opened; the writer is then not open.
    int ReOpen();

    bool IsOpen() const { return file != nullptr; }
    bool Failed() const { return failed; }
    // The failure was a full disk (or the room for the index could not be kept).
    bool OutOfSpace() const { return out_of_space; }
    // Play time (ms) that the index last written into the file covers.
    uint32_t SavedMs() const { return saved_ms; }
    const std::string& FileName() const { return file_name; }

    // Samples larger than this are refused: with the split margins below it
    // keeps every offset within 32 bits.
    static constexpr int kMaxSampleBytes = 8 * 1024 * 1024;
    // Split thresholds, compared with write_pos as unsigned: a key frame beyond
    // the first starts a continuation file (4 GiB - 20 MiB); any sample beyond
    // the second does (4 GiB - 12 MiB).
    static constexpr uint32_t kSplitAtKeyFrame = 0xFEBFFFFF;
    static constexpr uint32_t kSplitAnyFrame = 0xFF3FFFFF;
    static constexpr uint32_t kSplitVideoSamples = 0x1FFFF8;
    // The audio table would otherwise fill first on low frame rates (about 18 h
    // of 32 kHz AAC); leave room for a key-frame interval of audio.
    static constexpr uint32_t kSplitAudioSamplesAtKey = kMp4TableCountCap - 0x4000;
    static constexpr uint32_t kSplitAudioSamples = kMp4TableCountCap - 1;

    std::unique_ptr<DirectFileSink> file;     // null when not open
    std::unique_ptr<video_audio_info_t> info; // null when not open
    uint32_t write_pos = 0;   // logical file length: position of the next media byte
    uint32_t mdat_pos = 0;    // offset of the 8-byte mdat header
    double video_time = 0;    // ms
    double audio_time = 0;    // ms
    uint32_t video_samples = 0;
    uint32_t audio_samples = 0;
    uint32_t sync_samples = 0;
    uint32_t moov_pos = 0;    // offset of the last index written; 0 before the first
    uint32_t held_len = 0;    // media bytes held that belong at moov_pos
    uint32_t moov_len = 0;    // size of the last index written; 0 before the first
    ByteBuffer moov_buf;      // image of the last index written
    ByteBuffer next_moov_buf; // the index being built
    ByteBuffer held_buf;      // media bytes that belong where the last index stands
    uint64_t file_end = 0;    // physical end of the file (index copies may lie beyond write_pos)
    uint64_t audio_bytes = 0; // total audio payload, for the decoder bit rates
    uint32_t audio_delay_samples = 0; // decoder output lags the sound by this much
    uint32_t audio_delay_ms = 0;      // the same in media time (1000 per second)
    bool audio_ended = false;         // EndAudio() was called
    bool failed = false;
    bool out_of_space = false;
    uint32_t saved_ms = 0;        // play time covered by the index in force
    std::string file_name;

    Mp4AudioBitRates AudioBitRates() const;

private:
    int OpenImpl(const char* path, int width, int height, int sample_rate, int channels, uint32_t gap_bytes);
    int OpenSink(const char* path, bool existing, int width, int height, int sample_rate, int channels);
    int PrepareTables(int width, int height, int sample_rate, int channels);
    int AllocateTables();
    void AddVideoSample(uint32_t size, unsigned long duration, int key);
    void AddAudioSample(uint32_t size, unsigned long duration);
    int CheckJournal();
    void FreeAll();
    int Fail();
    int Split();
    int WriteAt(uint64_t pos, const uint8_t* bytes, size_t n);
    int CommitMdatEnd(uint64_t end);
    void NoteAudioWindow(uint32_t size);

    // Sliding one-second window over audio frame sizes for the peak bit rate.
    static constexpr uint32_t kWindowMax = 128;
    uint32_t window_sizes[kWindowMax] = {};
    uint32_t window_len = 0;  // frames per window (about one second)
    uint32_t window_fill = 0;
    uint32_t window_head = 0;
    uint64_t window_sum = 0;
    uint64_t window_peak = 0;

    Mp4Journal journal;
    bool journal_wanted = false; // continuation files keep one too
};

} // namespace quillet
