#include "mux/mp4/Mp4Boxes.h"

#include "base/BoundedWriter.h"
#include "base/MulDiv.h"

namespace quillet {
namespace {

// Opens a box on construction and writes its size when it goes out of scope,
// so a container's size is always the sum of its children plus its header.
class BoxScope {
public:
    BoxScope(BoundedWriter& w, const char* type) : w_(w), start_(w.size())
    {
        w_.be32(0); // size, patched by the destructor
        w_.bytes(type, 4);
    }
    // Full box: version 0 and 24 bits of flags.
    BoxScope(BoundedWriter& w, const char* type, uint32_t flags) : BoxScope(w, type)
    {
        w_.be32(flags & 0xFFFFFF);
    }
    ~BoxScope() { w_.patchBE32(start_, uint32_t(w_.size() - start_)); }
    BoxScope(const BoxScope&) = delete;
    BoxScope& operator=(const BoxScope&) = delete;

private:
    BoundedWriter& w_;
    size_t start_;
};

void writeMatrix(BoundedWriter& w)
{
    static const uint32_t unity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
    for (uint32_t v : unity)
        w.be32(v);
}

constexpr uint32_t kLanguageUnd = 0x15C7; // packed ISO-639-2 "und"

void writeMvhd(BoundedWriter& w, const video_audio_info_t& info)
{
    BoxScope box(w, "mvhd", 0);
    w.be32(0);                  // creation time
    w.be32(0);                  // modification time
    w.be32(info.timescale);     // timescale
    w.be32(info.duration);      // duration
    w.be32(0x00010000);         // rate 1.0
    w.be16(0x0100);             // volume 1.0
    w.fill(0, 10);              // reserved
    writeMatrix(w);
    w.fill(0, 24);              // pre-defined
    w.be32(info.next_track_id); // next track ID
}

enum class TrackKind { Video, Audio };

void writeTkhd(BoundedWriter& w, TrackKind kind, uint32_t duration, const video_audio_info_t& info)
{
    const bool video = kind == TrackKind::Video;
    BoxScope box(w, "tkhd", 0x00000F); // enabled, in movie, in preview, aspect ratio
    w.be32(0);                  // creation time
    w.be32(0);                  // modification time
    w.be32(video ? 1 : 2);      // track ID
    w.be32(0);                  // reserved
    w.be32(duration);           // duration
    w.fill(0, 8);               // reserved
    w.be16(0);                  // layer
    w.be16(video ? 0 : 1);      // alternate group
    w.be16(video ? 0 : 0x0100); // volume
    w.be16(0);                  // reserved
    writeMatrix(w);
    w.be32(video ? uint32_t(info.width) << 16 : 0);  // width, 16.16
    w.be32(video ? uint32_t(info.height) << 16 : 0); // height, 16.16
}

void writeMdhd(BoundedWriter& w, uint32_t duration)
{
    BoxScope box(w, "mdhd", 0);
    w.be32(0);            // creation time
    w.be32(0);            // modification time
    w.be32(1000);         // timescale: milliseconds
    w.be32(duration);     // duration
    w.be16(kLanguageUnd); // language
    w.be16(0);            // pre-defined
}

void writeHdlr(BoundedWriter& w, const char* handler, const char* name)
{
    BoxScope box(w, "hdlr", 0);
    w.be32(0);            // pre-defined
    w.bytes(handler, 4);  // handler type
    w.fill(0, 12);        // reserved
    w.bytes(name, 13);    // name with its terminating NUL
}

void writeDinf(BoundedWriter& w)
{
    BoxScope dinf(w, "dinf");
    BoxScope dref(w, "dref", 0);
    w.be32(1); // entry count
    BoxScope url(w, "url ", 1); // flag 1: media in this file
}

void writeStsc(BoundedWriter& w, uint32_t count, const Mp4Table& first, const Mp4Table& per_chunk,
               const Mp4Table& desc)
{
    BoxScope box(w, "stsc", 0);
    w.be32(count);
    uint8_t* p = w.take(size_t(count) * 12);
    if (!p)
        return;
    for (uint32_t i = 0; i < count; ++i, p += 12) {
        putBE32(p, first[i]);
        putBE32(p + 4, per_chunk[i]);
        putBE32(p + 8, desc[i]);
    }
}

void writeTable(BoundedWriter& w, uint32_t count, const Mp4Table& table)
{
    uint8_t* p = w.take(size_t(count) * 4);
    if (!p)
        return;
    for (uint32_t i = 0; i < count; ++i, p += 4)
        putBE32(p, table[i]);
}

void writeStsz(BoundedWriter& w, uint32_t count, const Mp4Table& sizes)
{
    BoxScope box(w, "stsz", 0);
    w.be32(0);     // sample size: each sample has its own
    w.be32(count); // sample count
    writeTable(w, count, sizes);
}

void writeStco(BoundedWriter& w, uint32_t count, const Mp4Table& offsets)
{
    BoxScope box(w, "stco", 0);
    w.be32(count);
    writeTable(w, count, offsets);
}

void writeAvc1(BoundedWriter& w, const video_audio_info_t& info)
{
    BoxScope avc1(w, "avc1");
    w.fill(0, 6);                    // reserved
    w.be16(1);                       // data reference index
    w.fill(0, 16);                   // pre-defined, reserved
    w.be16(uint32_t(info.width));    // width
    w.be16(uint32_t(info.height));   // height
    w.be32(0x00480000);              // horizontal resolution 72 dpi
    w.be32(0x00480000);              // vertical resolution 72 dpi
    w.be32(0);                       // reserved
    w.be16(1);                       // frame count
    w.fill(0, 32);                   // compressor name
    w.be16(0x0018);                  // depth
    w.be16(0xFFFF);                  // pre-defined
    BoxScope avcc(w, "avcC");
    w.u8(1);                         // configuration version
    w.u8(info.spsbuf[1]);            // profile
    w.u8(info.spsbuf[2]);            // profile compatibility
    w.u8(info.spsbuf[3]);            // level
    w.u8(0xFF);                      // 4-byte NAL lengths
    w.u8(0xE1);                      // one SPS
    w.be16(info.sps_len);
    w.bytes(info.spsbuf, info.sps_len);
    w.u8(0x01);                      // one PPS
    w.be16(info.pps_len);
    w.bytes(info.ppsbuf, info.pps_len);
}

void writeVideoTrak(BoundedWriter& w, const video_audio_info_t& info)
{
    BoxScope trak(w, "trak");
    writeTkhd(w, TrackKind::Video, info.video_duration, info);
    BoxScope mdia(w, "mdia");
    writeMdhd(w, info.video_duration);
    writeHdlr(w, "vide", "VideoHandler");
    BoxScope minf(w, "minf");
    {
        BoxScope vmhd(w, "vmhd", 1);
        w.be16(0);    // graphics mode
        w.fill(0, 6); // op-colour
    }
    writeDinf(w);
    BoxScope stbl(w, "stbl");
    {
        BoxScope stsd(w, "stsd", 0);
        w.be32(1); // entry count
        writeAvc1(w, info);
    }
    {
        BoxScope stts(w, "stts", 0);
        const uint32_t count = info.entry_count_stts_video;
        w.be32(count);
        uint8_t* p = w.take(size_t(count) * 8);
        if (p) {
            for (uint32_t i = 0; i < count; ++i, p += 8) {
                putBE32(p, info.sample_count_stts_video[i]);
                putBE32(p + 4, info.sample_delta_stts_video[i]);
            }
        }
    }
    {
        BoxScope stss(w, "stss", 0);
        w.be32(info.entry_count_stss);
        writeTable(w, info.entry_count_stss, info.sample_number_stss_Info);
    }
    writeStsc(w, info.entry_count_stsc_video, info.first_chunk_stsc_video, info.samples_per_chunk_stsc_video,
              info.sample_description_index_stsc_video);
    writeStsz(w, info.entry_count_stsz_video, info.entry_size_stsz_video);
    writeStco(w, info.entry_count_stco_video, info.chunk_offset_stco_video);
}

// MPEG-4 descriptor header with the length in the fixed four-byte form.
void writeDescriptor(BoundedWriter& w, uint8_t tag, uint8_t length)
{
    w.u8(tag);
    w.u8(0x80);
    w.u8(0x80);
    w.u8(0x80);
    w.u8(length);
}

void writeMp4a(BoundedWriter& w, const video_audio_info_t& info, const Mp4AudioBitRates& rates)
{
    BoxScope mp4a(w, "mp4a");
    w.fill(0, 6);                     // reserved
    w.be16(1);                        // data reference index
    w.fill(0, 8);                     // reserved
    w.be16(info.channels);            // channel count
    w.be16(16);                       // sample size
    w.be16(0);                        // pre-defined
    w.be16(0);                        // reserved
    w.be32(info.sample_rate << 16);   // sample rate, 16.16
    BoxScope esds(w, "esds", 0);
    writeDescriptor(w, 3, 34);        // ES descriptor
    w.be16(2);                        // ES ID
    w.u8(0);                          // flags
    writeDescriptor(w, 4, 20);        // decoder configuration
    w.u8(0x40);                       // object type: MPEG-4 audio
    w.u8(0x15);                       // stream type: audio
    w.be24(0);                        // buffer size
    w.be32(rates.max_bitrate);        // maximum bit rate
    w.be32(rates.avg_bitrate);        // average bit rate
    writeDescriptor(w, 5, 2);         // decoder-specific information
    const uint32_t freq = mp4FrequencyIndex(info.sample_rate);
    w.u8((info.audio_object_type << 3) | (freq >> 1));
    w.u8(((freq & 1) << 7) | (info.channels << 3));
    writeDescriptor(w, 6, 1);         // SL configuration
    w.u8(0x02);
}

// The sound track's time-to-sample runs: sample i ends at the rounded
// i * total_ms / n, and equal durations in a row form one run. Calls
// f(length, delta) for each run in order.
template <typename F>
void forEachAudioSttsRun(uint32_t n, uint32_t total_ms, F f)
{
    uint64_t prev_t = 0;
    uint32_t run_delta = 0;
    uint32_t run_len = 0;
    for (uint32_t i = 1; i <= n; ++i) {
        const uint64_t t = mulDivU64(i, total_ms, n);
        const uint32_t delta = uint32_t(t - prev_t);
        prev_t = t;
        if (run_len && delta == run_delta) {
            ++run_len;
            continue;
        }
        if (run_len)
            f(run_len, run_delta);
        run_delta = delta;
        run_len = 1;
    }
    if (run_len)
        f(run_len, run_delta);
}

void writeAudioStts(BoundedWriter& w, uint32_t n, uint32_t total_ms)
{
    BoxScope stts(w, "stts", 0);
    w.be32(mp4AudioSttsRuns(n, total_ms));
    forEachAudioSttsRun(n, total_ms, [&](uint32_t length, uint32_t delta) {
        w.be32(length);
        w.be32(delta);
    });
}

void writeAudioTrak(BoundedWriter& w, const video_audio_info_t& info, const Mp4AudioBitRates& rates)
{
    BoxScope trak(w, "trak");
    // The track lasts as long as its edit shows: the media minus the
    // encoder's delay that the edit skips.
    const uint32_t shown = info.audio_duration - info.audio_edit_start;
    writeTkhd(w, TrackKind::Audio, shown, info);
    {
        BoxScope edts(w, "edts");
        BoxScope elst(w, "elst", 0);
        w.be32(1);                     // entry count
        w.be32(shown);                 // segment duration (movie time)
        w.be32(info.audio_edit_start); // media time where playing starts
        w.be16(1);                   // media rate, integer part
        w.be16(0);                   // media rate, fraction
    }
    BoxScope mdia(w, "mdia");
    writeMdhd(w, info.audio_duration);
    writeHdlr(w, "soun", "SoundHandler");
    BoxScope minf(w, "minf");
    {
        BoxScope smhd(w, "smhd", 0);
        w.be16(0); // balance
        w.be16(0); // reserved
    }
    writeDinf(w);
    BoxScope stbl(w, "stbl");
    {
        BoxScope stsd(w, "stsd", 0);
        w.be32(1); // entry count
        writeMp4a(w, info, rates);
    }
    writeAudioStts(w, info.entry_count_stts_audio, info.sample_delta_stts_audio);
    writeStsc(w, info.entry_count_stsc_audio, info.first_chunk_stsc_audio, info.samples_per_chunk_stsc_audio,
              info.sample_description_index_stsc_audio);
    writeStsz(w, info.entry_count_stsz_audio, info.entry_size_stsz_audio);
    writeStco(w, info.entry_count_stco_audio, info.chunk_offset_stco_audio);
}

// Fixed user-data box naming the writing tool.
const uint8_t kUdta[kMp4UdtaSize] = {
    0x00, 0x00, 0x00, 0x61, 'u', 'd', 't', 'a',
    0x00, 0x00, 0x00, 0x59, 'm', 'e', 't', 'a', 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x21, 'h', 'd', 'l', 'r', 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 'm', 'd', 'i', 'r', 'a', 'p', 'p', 'l',
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x2C, 'i', 'l', 's', 't',
    0x00, 0x00, 0x00, 0x24, 0xA9, 't', 'o', 'o',
    0x00, 0x00, 0x00, 0x1C, 'd', 'a', 't', 'a', 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    'L', 'a', 'v', 'f', '5', '4', '.', '6', '.', '1', '0', '1',
};

} // namespace

size_t writeMp4Ftyp(uint8_t* out, int width)
{
    BoundedWriter w(out, kMp4FtypSizeWithVideo);
    BoxScope ftyp(w, "ftyp");
    w.bytes("isom", 4);  // major brand
    w.be32(0x00000200);  // minor version
    w.bytes("isom", 4);  // compatible brands
    w.bytes("iso2", 4);
    if (width > 0)
        w.bytes("avc1", 4);
    w.bytes("mp41", 4);
    return width > 0 ? kMp4FtypSizeWithVideo : kMp4FtypSizeAudioOnly;
}

uint32_t mp4FrequencyIndex(uint32_t sample_rate)
{
    switch (sample_rate) {
    case 48000: return 3;
    case 44100: return 4;
    case 32000: return 5;
    case 24000: return 6;
    case 22050: return 7;
    case 16000: return 8;
    case 12000: return 9;
    case 11025: return 10;
    case 8000: return 11;
    default: return 0;
    }
}

bool mp4HasVideoTrack(const video_audio_info_t& info)
{
    return info.entry_count_stss != 0 && info.sps_len >= 4 && info.pps_len > 0;
}

bool mp4HasAudioTrack(const video_audio_info_t& info)
{
    return info.entry_count_stsz_audio != 0;
}

uint32_t mp4AudioSttsRuns(uint32_t n, uint32_t total_ms)
{
    uint32_t runs = 0;
    forEachAudioSttsRun(n, total_ms, [&](uint32_t, uint32_t) { ++runs; });
    return runs;
}

size_t mp4MoovSizeBound(const video_audio_info_t& info)
{
    size_t size = 8 + 108 + kMp4UdtaSize;
    if (mp4HasVideoTrack(info)) {
        const size_t c = info.entry_count_stsz_video;
        const size_t stbl = 8 + (121 + info.sps_len + info.pps_len) + (16 + 8 * size_t(info.entry_count_stts_video)) +
                            (16 + 4 * size_t(info.entry_count_stss)) + (16 + 12 * size_t(info.entry_count_stsc_video)) +
                            (20 + 4 * c) + (16 + 4 * size_t(info.entry_count_stco_video));
        size += 8 + 92 + 8 + 32 + 45 + 8 + 20 + 36 + stbl;
    }
    if (mp4HasAudioTrack(info)) {
        const size_t stbl = 8 + 103 + (16 + 8 * size_t(info.entry_count_stts_audio)) +
                            (16 + 12 * size_t(info.entry_count_stsc_audio)) +
                            (20 + 4 * size_t(info.entry_count_stsz_audio)) +
                            (16 + 4 * size_t(info.entry_count_stco_audio));
        size += 8 + 92 + 36 + 8 + 32 + 45 + 8 + 16 + 36 + stbl;
    }
    return size;
}

size_t buildMp4Moov(const video_audio_info_t& info, const Mp4AudioBitRates& rates, uint8_t* out, size_t capacity)
{
    BoundedWriter w(out, capacity);
    {
        BoxScope moov(w, "moov");
        writeMvhd(w, info);
        if (mp4HasVideoTrack(info))
            writeVideoTrak(w, info);
        if (mp4HasAudioTrack(info))
            writeAudioTrak(w, info, rates);
        w.bytes(kUdta, sizeof kUdta);
    }
    return w.ok() ? w.size() : 0;
}

} // namespace quillet
