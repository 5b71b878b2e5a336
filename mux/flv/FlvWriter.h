#pragma once
#include <cstdint>
#include <string>

#include "base/DirectFileSink.h"
#include "mux/flv/FlvTags.h"
#include "mux/journal/RecordingJournal.h"

namespace quillet {

// Writes an FLV file with H.264 video and AAC (or MP3) audio straight through.
// Only the onMetaData tag right behind the file header is written again: with
// the current duration at key frames after the first ten seconds (followed by a
// flush, so a killed process leaves everything up to there on disk) and with the
// final duration at the end.
//
// Every tag goes to the system in one write, unbuffered, so a killed process
// leaves whole tags behind (a truncated last picture would make players report
// a decoding error). A write that fails part-way (full disk) is cut back to the
// end of the last whole tag.
//
// Results: 1 success, 0 failure. A failed write or seek is sticky: every later
// call returns 0, and the file keeps what was complete before the failure.
// When the disk was full, FinishFlv still writes the final metadata (in place,
// needing no room) with the time the whole tags reach. Not thread-safe: the
// recording lock serialises all calls.
class FlvWriter {
public:
    FlvWriter() = default;
    FlvWriter(const FlvWriter&) = delete;
    FlvWriter& operator=(const FlvWriter&) = delete;

    // Creates or truncates the file.
    int CreateFlvFile(const char* path);
    // Marks the file as being written with a journal beside it
    // ("name.journal", holding the frame rate), which FinishFlv removes: one
    // found later names a recording whose metadata was never finalised
    // (FlvRepair.h). 0 when it cannot be made; the recording is not harmed.
    int EnableJournal(int fps);
    // File header, metadata (duration 0), the AVC sequence-header tag exactly as
    // the H.264 encoder wrapper built it (tag plus PreviousTagSize), and the
    // AAC sequence-header tag for one or two channels. Width and height are
    // kept for the metadata refreshes.
    int WriteFlvHeader(int width, int height, int channels, const uint8_t* avc_header_tag, int avc_header_len);
    // The 88-byte metadata tag at the current position.
    int WriteFlvMetaData(int width, int height, uint32_t duration_ms);
    // One video tag with its PreviousTagSize as the wrapper built it (length 0:
    // nothing produced, nothing written). A key frame later than 10000 ms
    // refreshes the metadata with its timestamp.
    int WriteFlvVideo(const uint8_t* tag, int len, int key, uint32_t timestamp_ms);
    // The AAC encoder's output for one captured buffer: records of a 16-bit
    // little-endian length and an ADTS frame. frame_end_ms[i] is the timestamp
    // of record i, before the encoder delay is taken off (see
    // SetAudioEncoderDelay). A malformed buffer or too few timestamps write
    // nothing.
    int WriteFlvAudio(const uint8_t* records, int len, const uint32_t* frame_end_ms, int timestamp_count);
    // Declares that the AAC encoder's output lags the sound by `samples`
    // sample frames at `sample_rate` (priming and look-ahead). FLV cannot
    // declare that, so WriteFlvAudio keeps the sound in place itself: every
    // AAC tag is stamped that much earlier, and the leading frames that would
    // then end at or before 0 ms, which decode to nothing but the encoder's
    // silence, are left out. Stamping them at 0 instead would make players
    // that read the sound as one stream play that silence first and keep the
    // whole track late. MP3 tags are not affected. Refused (0) for a delay of
    // more than a second or a rate of 0.
    int SetAudioEncoderDelay(uint32_t samples, uint32_t sample_rate);
    uint32_t AudioDelayMs() const { return audio_delay_ms_; }

    // MP3 output of one captured buffer as one tag.
    int WriteFlvAudioMp3(const uint8_t* data, int len, uint32_t timestamp_ms);
    // Final metadata (pictures * 1000 / fps ms), then closes the file. The H.264
    // encoder is the caller's to close.
    int FinishFlv(int width, int height, uint32_t pictures, int fps);

    bool IsOpen() const { return file_.isOpen(); }
    // A write failed since CreateFlvFile (stays so after FinishFlv).
    bool Failed() const { return file_.error() || cut_; }
    // The failure was a full disk.
    bool OutOfSpace() const { return out_of_space_; }
    // Play time the final metadata gave the file (ms).
    uint32_t FinalMs() const { return final_ms_; }

    // Key frames later than this refresh the metadata.
    static constexpr uint32_t kRefreshAfterMs = 10000;
    // Journal record: u32 frames per second.
    static constexpr uint8_t kJournalParams = 1;
    // Largest AAC or MP3 payload of one tag: the 24-bit data size field.
    static constexpr int kMaxTagData = 0xFFFFFF - 2;

private:
    int RefreshMetaData(uint32_t duration_ms);
    // Writes whole tags gathered from up to four pieces in one call.
    int WriteTag(const uint8_t* a, size_t na, const uint8_t* b = nullptr, size_t nb = 0, const uint8_t* c = nullptr,
                 size_t nc = 0, const uint8_t* d = nullptr, size_t nd = 0);

    int NoteFailure();

    DirectFileSink file_;
    JournalWriter journal_;
    std::string path_;
    uint64_t good_end_ = 0; // end of the last whole tag
    bool out_of_space_ = false;
    bool cut_ = false; // a write failed: the file ends with the last whole tag
    bool any_video_ = false;
    uint32_t last_video_ms_ = 0; // timestamp of the last whole video tag
    uint32_t final_ms_ = 0;
    int width_ = 0;
    int height_ = 0;
    uint32_t audio_delay_ms_ = 0; // AAC tags are stamped this much earlier
};

} // namespace quillet
