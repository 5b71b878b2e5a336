#pragma once
#include <cstdint>
#include <memory>

namespace quillet {

// Capacity of every per-sample table (entries). Tables are allocated once per
// file and left untouched until used, so the kernel backs only what a recording
// actually fills.
inline constexpr uint32_t kMp4TableEntries = 0x200000;
// A table counter stops here: later samples overwrite the last entry. The split
// rule starts a continuation file well before any table gets there.
inline constexpr uint32_t kMp4TableCountCap = 0x1FFFFF;
// Parameter sets longer than this are refused.
inline constexpr uint32_t kMp4ParamSetMax = 100;

using Mp4Table = std::unique_ptr<uint32_t[]>;

// The sample tables of one open MP4 file, from which every index is rebuilt.
struct video_audio_info_t {
    uint8_t spsbuf[kMp4ParamSetMax] = {}; // SPS NAL unit, header byte first
    uint32_t sps_len = 0;
    uint8_t ppsbuf[kMp4ParamSetMax] = {};
    uint32_t pps_len = 0;
    uint32_t sample_rate = 0;       // Hz
    uint32_t channels = 0;
    uint32_t audio_object_type = 0; // 2 = AAC LC
    int32_t width = 0;              // pixels
    int32_t height = 0;
    uint32_t timescale = 0;         // ticks per second of movie and media
    uint32_t duration = 0;          // ms
    uint32_t next_track_id = 0;
    uint32_t video_duration = 0;    // ms
    uint32_t audio_duration = 0;    // ms
    // Where the audio track's edit starts in its media (ms): the encoder's
    // delay, skipped so that sound plays where it was captured. 0: none.
    uint32_t audio_edit_start = 0;

    uint32_t entry_count_stsz_video = 0;
    Mp4Table entry_size_stsz_video;
    uint32_t entry_count_stsz_audio = 0;
    Mp4Table entry_size_stsz_audio;
    uint32_t entry_count_stss = 0;
    Mp4Table sample_number_stss_Info; // 1-based numbers of key frames

    uint32_t entry_count_stsc_video = 0;
    Mp4Table first_chunk_stsc_video;
    Mp4Table samples_per_chunk_stsc_video;
    Mp4Table sample_description_index_stsc_video;
    uint32_t entry_count_stsc_audio = 0;
    Mp4Table first_chunk_stsc_audio;
    Mp4Table samples_per_chunk_stsc_audio;
    Mp4Table sample_description_index_stsc_audio;

    uint32_t entry_count_stco_video = 0;
    Mp4Table chunk_offset_stco_video; // file offset of each video sample
    uint32_t entry_count_stco_audio = 0;
    Mp4Table chunk_offset_stco_audio;

    uint32_t entry_count_stts_video = 0;
    Mp4Table sample_count_stts_video;
    Mp4Table sample_delta_stts_video; // ms
    // Audio timing is one total: the entries are derived from the sample count
    // and the measured duration when the index is built.
    uint32_t entry_count_stts_audio = 0;
    uint32_t sample_count_stts_audio = 0;
    uint32_t sample_delta_stts_audio = 0; // total audio duration, ms

    // Composition offsets are never needed (no B-frames); kept zero.
    uint32_t entry_count_ctts = 0;
    uint32_t sample_count_ctts = 0;
    uint32_t sample_offset_ctts = 0;
};

} // namespace quillet
