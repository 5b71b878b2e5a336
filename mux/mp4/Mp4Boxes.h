#pragma once
#include <cstddef>
#include <cstdint>

#include "mux/mp4/Mp4SampleTables.h"

namespace quillet {

// Bit rates for the AAC decoder configuration, measured from the samples
// actually written (bits per second).
struct Mp4AudioBitRates {
    uint32_t max_bitrate = 0;
    uint32_t avg_bitrate = 0;
};

inline constexpr size_t kMp4FtypSizeWithVideo = 32;
inline constexpr size_t kMp4FtypSizeAudioOnly = 28;
inline constexpr size_t kMp4UdtaSize = 97;

// Writes the file-type box; the video brand only when a picture width was
// given. Returns its size (28 or 32). `out` needs 32 bytes.
size_t writeMp4Ftyp(uint8_t* out, int width);

// Sampling-frequency index of the AudioSpecificConfig; 0 for rates the table
// does not list.
uint32_t mp4FrequencyIndex(uint32_t sample_rate);

// Whether the index will carry a video track: it needs a key frame to start
// decoding from and the parameter sets to decode with.
bool mp4HasVideoTrack(const video_audio_info_t& info);
bool mp4HasAudioTrack(const video_audio_info_t& info);

// Number of audio time-to-sample runs for n samples sharing total_ms evenly.
uint32_t mp4AudioSttsRuns(uint32_t n, uint32_t total_ms);

// Upper bound of the movie box size for these tables (exact except that the
// audio time-to-sample box is counted at one entry per sample).
size_t mp4MoovSizeBound(const video_audio_info_t& info);

// Builds the movie box from the tables (whose derived fields SaveData has
// filled in). Returns its size, or 0 when `capacity` is too small.
size_t buildMp4Moov(const video_audio_info_t& info, const Mp4AudioBitRates& rates, uint8_t* out,
                    size_t capacity);

} // namespace quillet
