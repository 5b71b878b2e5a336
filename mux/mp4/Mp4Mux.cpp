#include "mux/mp4/Mp4Mux.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/ByteOrder.h"
#include "base/MulDiv.h"

namespace quillet {
namespace {

constexpr size_t kFreeBoxSize = 8;
constexpr size_t kMdatHeaderSize = 8;
// First size of the index buffers; they grow with the tables at SaveData.
constexpr size_t kInitialMoovBytes = 64 * 1024;

void bump(uint32_t& counter)
{
    if (counter < kMp4TableCountCap)
        ++counter;
}

uint32_t clampDuration(unsigned long ms)
{
    return ms > 0xFFFFFFFFul ? 0xFFFFFFFFu : uint32_t(ms);
}

uint32_t clampU32(uint64_t v)
{
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v);
}

// "rec.mp4" -> "rec_1.mp4"; only a dot in the last path component counts.
std::string continuationName(const std::string& name)
{
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return name.substr(0, dot) + "_1.mp4";
    return name + "_1.mp4";
}

} // namespace

CMp4mux::~CMp4mux()
{
    Close();
}

int CMp4mux::Fail()
{
    failed = true;
    if (file && isOutOfSpaceError(file->systemError()))
        out_of_space = true;
    return 0;
}

int CMp4mux::Open(const char* path, int width, int height, int frame_rate, int sample_rate, int channels)
{
    (void)frame_rate;
    return OpenImpl(path, width, height, sample_rate, channels, 0);
}

int CMp4mux::OpenWithLeadingGap(const char* path, int width, int height, int frame_rate, int sample_rate,
                                int channels, uint32_t gap_bytes)
{
    (void)frame_rate;
    // The gap must leave room below the split thresholds for real samples.
    if (gap_bytes > kSplitAnyFrame)
        return 0;
    return OpenImpl(path, width, height, sample_rate, channels, gap_bytes);
}

int CMp4mux::AllocateTables()
{
    info.reset(new (std::nothrow) video_audio_info_t());
    if (!info) {
        std::fputs("Error: Allocate Meory To Video_Audio_Info Buffer Failed ", stdout);
        return 0;
    }
    video_audio_info_t& t = *info;
    struct Named {
        Mp4Table* table;
        const char* name;
    };
    const Named tables[] = {
        {&t.entry_size_stsz_video, "entry_size_stsz_video"},
        {&t.entry_size_stsz_audio, "entry_size_stsz_audio"},
        {&t.sample_number_stss_Info, "sample_number_stss_Info"},
        {&t.first_chunk_stsc_video, "first_chunk_stsc_video"},
        {&t.samples_per_chunk_stsc_video, "samples_per_chunk_stsc_video"},
        {&t.sample_description_index_stsc_video, "sample_description_index_stsc_video"},
        {&t.first_chunk_stsc_audio, "first_chunk_stsc_audio"},
        {&t.samples_per_chunk_stsc_audio, "samples_per_chunk_stsc_audio"},
        {&t.sample_description_index_stsc_audio, "sample_description_index_stsc_audio"},
        {&t.chunk_offset_stco_video, "chunk_offset_stco_video"},
        {&t.chunk_offset_stco_audio, "chunk_offset_stco_audio"},
        {&t.sample_count_stts_video, "sample_count_stts_video"},
        {&t.sample_delta_stts_video, "sample_delta_stts_video"},
    };
    for (const Named& n : tables) {
        // Left uninitialised on purpose: untouched pages cost no memory.
        n.table->reset(new (std::nothrow) uint32_t[kMp4TableEntries]);
        if (!*n.table) {
            std::printf("Error: Allocate Meory To video_audio_info_t->%s  Buffer Failed ", n.name);
            return 0;
        }
    }
    return 1;
}

void CMp4mux::FreeAll()
{
    file.reset();
    info.reset();
    moov_buf.release();
    next_moov_buf.release();
    held_buf.release();
}

int CMp4mux::PrepareTables(int width, int height, int sample_rate, int channels)
{
    if (!AllocateTables() || !moov_buf.reserve(kInitialMoovBytes) || !next_moov_buf.reserve(kInitialMoovBytes) ||
        !held_buf.reserve(kInitialMoovBytes))
        return 0;
    video_audio_info_t& t = *info;
    t.width = width;
    t.height = height;
    t.sample_rate = uint32_t(sample_rate);
    t.channels = uint32_t(channels);
    t.audio_object_type = 2; // AAC LC

    write_pos = 0;
    video_time = audio_time = 0;
    audio_ended = false;
    video_samples = audio_samples = sync_samples = 0;
    audio_bytes = 0;
    audio_delay_samples = audio_delay_ms = 0;
    saved_ms = 0;
    window_len = std::clamp<uint32_t>((uint32_t(sample_rate) + 1023) / 1024, 1, kWindowMax);
    window_fill = window_head = 0;
    window_sum = window_peak = 0;
    moov_pos = moov_len = held_len = 0;
    return 1;
}

namespace {

// The sample entry stores width, height and channels in 16, 16 and 4 bits.
bool acceptableStream(const char* path, int width, int height, int sample_rate, int channels)
{
    return path && *path && width >= 0 && height >= 0 && width <= 0xFFFF && height <= 0xFFFF && sample_rate >= 0 &&
           channels >= 0 && channels <= 7;
}

} // namespace

int CMp4mux::OpenSink(const char* path, bool existing, int width, int height, int sample_rate, int channels)
{
    if (IsOpen())
        Close();
    failed = out_of_space = false;
    journal_wanted = false;
    if (!acceptableStream(path, width, height, sample_rate, channels))
        return 0;
    auto sink = std::make_unique<DirectFileSink>();
    if (!(existing ? sink->openExisting(path) : sink->open(path)))
        return 0;
    file = std::move(sink);
    file_name = path;
    if (!PrepareTables(width, height, sample_rate, channels)) {
        FreeAll();
        return 0;
    }
    return 1;
}

int CMp4mux::OpenImpl(const char* path, int width, int height, int sample_rate, int channels, uint32_t gap_bytes)
{
    if (!OpenSink(path, false, width, height, sample_rate, channels))
        return 0;

    uint8_t head[kMp4FtypSizeWithVideo + kFreeBoxSize];
    const size_t ftyp = writeMp4Ftyp(head, width);
    putBE32(head + ftyp, kFreeBoxSize);
    std::memcpy(head + ftyp + 4, "free", 4);
    if (!file->write(head, ftyp + kFreeBoxSize)) {
        FreeAll();
        return 0;
    }
    write_pos = uint32_t(ftyp + kFreeBoxSize);
    mdat_pos = write_pos;
    // Room for the mdat header (zero until the first index is written), plus
    // the optional gap that stays a hole in the file.
    write_pos += kMdatHeaderSize + gap_bytes;
    if (!file->seek(write_pos)) {
        FreeAll();
        return 0;
    }
    file_end = write_pos;
    return 1;
}

int CMp4mux::OpenExisting(const char* path, int width, int height, int sample_rate, int channels, uint32_t mdat_pos_,
                          uint32_t media_start)
{
    if (mdat_pos_ < kFreeBoxSize || media_start < mdat_pos_ + kMdatHeaderSize ||
        !OpenSink(path, true, width, height, sample_rate, channels))
        return 0;
    mdat_pos = mdat_pos_;
    write_pos = media_start;
    file_end = std::max<uint64_t>(file->sizeOnDisk(), media_start);
    return 1;
}

int CMp4mux::EnableJournal()
{
    if (!IsOpen() || failed)
        return 0;
    journal_wanted = true;
    const video_audio_info_t& t = *info;
    if (!journal.open(file_name, t.width, t.height, t.sample_rate, t.channels, mdat_pos, write_pos)) {
        if (journal.outOfSpace()) {
            out_of_space = true;
            failed = true;
        }
        return 0;
    }
    if (t.sps_len)
        journal.noteVideoHead(t.spsbuf, t.sps_len, t.ppsbuf, t.pps_len);
    if (audio_delay_samples)
        journal.noteAudioDelay(audio_delay_samples);
    return CheckJournal();
}

int CMp4mux::CheckJournal()
{
    // The journal gives up on its own; a full disk ends the recording.
    if (journal.outOfSpace() && !out_of_space) {
        out_of_space = true;
        failed = true;
        return 0;
    }
    return 1;
}

int CMp4mux::SetAudioEncoderDelay(uint32_t samples)
{
    if (!info || info->sample_rate == 0 || info->channels == 0)
        return 0;
    // Beyond a second it is no encoder delay but a caller's mistake.
    if (samples > info->sample_rate)
        return 0;
    audio_delay_samples = samples;
    audio_delay_ms = uint32_t(mulDivU64(samples, 1000, info->sample_rate));
    journal.noteAudioDelay(samples);
    return 1;
}

int CMp4mux::WriteVideoHead(const void* sps, int sps_len, const void* pps, int pps_len)
{
    if (!info)
        return 0;
    // The SPS must hold the profile, compatibility and level bytes.
    if (!sps || !pps || sps_len < 4 || pps_len < 1 || uint32_t(sps_len) > kMp4ParamSetMax ||
        uint32_t(pps_len) > kMp4ParamSetMax)
        return 0;
    std::memcpy(info->spsbuf, sps, size_t(sps_len));
    info->sps_len = uint32_t(sps_len);
    std::memcpy(info->ppsbuf, pps, size_t(pps_len));
    info->pps_len = uint32_t(pps_len);
    journal.noteVideoHead(info->spsbuf, info->sps_len, info->ppsbuf, info->pps_len);
    return 1;
}

int CMp4mux::WriteData(const char* bytes, int size)
{
    if (!IsOpen() || failed || size < 0 || (size > 0 && !bytes))
        return 0;
    uint32_t left = uint32_t(size);
    uint32_t k = 0;
    if (moov_len != 0 && held_len < moov_len) {
        // These bytes belong where the index in force stands: memory keeps
        // them, and the journal too, as a killed process would lose them.
        k = std::min(left, moov_len - held_len);
        std::memcpy(held_buf.data() + held_len, bytes, k);
        journal.noteHeld(moov_pos + held_len, bytes, k);
        held_len += k;
        bytes += k;
        left -= k;
    }
    if (left) {
        if (!file->write(bytes, left)) {
            // The sample is not taken: its held part goes too.
            held_len -= k;
            return Fail();
        }
        file_end = std::max(file_end, file->tell());
    }
    return 1;
}

int CMp4mux::Split()
{
    return ReOpen();
}

int CMp4mux::WriteVideo(const char* sample, int size, unsigned long duration, int key)
{
    if (!IsOpen() || failed)
        return 0;
    if (!sample || size <= 0 || size > kMaxSampleBytes)
        return 0;
    video_audio_info_t* t = info.get();
    if ((key && (write_pos > kSplitAtKeyFrame || t->entry_count_stco_video > kSplitVideoSamples ||
                 t->entry_count_stco_audio > kSplitAudioSamplesAtKey)) ||
        write_pos > kSplitAnyFrame) {
        if (!Split())
            return 0;
        return WriteVideo(sample, size, duration, key);
    }
    const uint32_t offset = write_pos;
    if (!WriteData(sample, size))
        return 0;
    AddVideoSample(uint32_t(size), duration, key);
    journal.noteVideo(offset, sample, uint32_t(size), clampDuration(duration), key);
    return CheckJournal();
}

int CMp4mux::RestoreVideo(uint32_t size, unsigned long duration, int key)
{
    if (!IsOpen() || failed || size == 0 || size > uint32_t(kMaxSampleBytes) || write_pos > kSplitAnyFrame)
        return 0;
    AddVideoSample(size, duration, key);
    return 1;
}

void CMp4mux::AddVideoSample(uint32_t size, unsigned long duration, int key)
{
    video_audio_info_t* t = info.get();
    // Keep the video clock within 500 ms of the sound, which is the master.
    // A picture runs ahead of the sound by where it starts: its end lies a
    // whole frame period in the future, and at 2 frames per second that
    // period alone is 500 ms, so judging by the end squeezed pictures that
    // were exactly in time. Once the sound has ended for good, there is no
    // master to follow.
    uint32_t dur = clampDuration(duration);
    if (audio_time > 0 && !audio_ended) {
        const double end = video_time + dur;
        if (video_time > audio_time + 500)
            dur >>= 1;
        else if (end < audio_time)
            dur = uint32_t(audio_time - video_time);
    }

    const uint32_t i = t->entry_count_stco_video;
    t->sample_delta_stts_video[i] = dur;
    t->sample_count_stts_video[i] = 1;
    t->entry_size_stsz_video[t->entry_count_stsz_video] = size;
    bump(t->entry_count_stsz_video);
    ++video_samples;
    if (key) {
        t->sample_number_stss_Info[sync_samples] = video_samples;
        bump(sync_samples);
    }
    t->chunk_offset_stco_video[i] = write_pos;
    bump(t->entry_count_stco_video);
    const uint32_t k = t->entry_count_stsc_video;
    t->first_chunk_stsc_video[k] = k + 1;
    t->samples_per_chunk_stsc_video[k] = 1;
    t->sample_description_index_stsc_video[k] = 1;
    bump(t->entry_count_stsc_video);

    write_pos += size;
    video_time += dur;
}

void CMp4mux::NoteAudioWindow(uint32_t size)
{
    if (window_fill == window_len)
        window_sum -= window_sizes[window_head];
    else
        ++window_fill;
    window_sizes[window_head] = size;
    window_sum += size;
    window_head = (window_head + 1) % window_len;
    window_peak = std::max(window_peak, window_sum);
}

int CMp4mux::WriteAudio(const char* sample, int size, unsigned long duration)
{
    if (!IsOpen() || failed)
        return 0;
    if (!sample || size <= 0 || size > kMaxSampleBytes)
        return 0;
    video_audio_info_t* t = info.get();
    // Audio alone never meets a key frame; split before the table or the
    // 32-bit offsets run out instead of corrupting the index.
    if (write_pos > kSplitAnyFrame || t->entry_count_stco_audio >= kSplitAudioSamples) {
        if (!Split())
            return 0;
        return WriteAudio(sample, size, duration);
    }
    const uint32_t offset = write_pos;
    if (!WriteData(sample, size))
        return 0;
    AddAudioSample(uint32_t(size), duration);
    journal.noteAudio(offset, sample, uint32_t(size), clampDuration(duration));
    return CheckJournal();
}

int CMp4mux::RestoreAudio(uint32_t size, unsigned long duration)
{
    if (!IsOpen() || failed || size == 0 || size > uint32_t(kMaxSampleBytes) || write_pos > kSplitAnyFrame ||
        info->entry_count_stco_audio >= kSplitAudioSamples)
        return 0;
    AddAudioSample(size, duration);
    return 1;
}

void CMp4mux::AddAudioSample(uint32_t size, unsigned long duration)
{
    video_audio_info_t* t = info.get();
    t->entry_size_stsz_audio[t->entry_count_stsz_audio] = size;
    bump(t->entry_count_stsz_audio);
    ++audio_samples;
    t->chunk_offset_stco_audio[t->entry_count_stco_audio] = write_pos;
    bump(t->entry_count_stco_audio);
    const uint32_t k = t->entry_count_stsc_audio;
    t->first_chunk_stsc_audio[k] = k + 1;
    t->samples_per_chunk_stsc_audio[k] = 1;
    t->sample_description_index_stsc_audio[k] = 1;
    bump(t->entry_count_stsc_audio);

    write_pos += size;
    audio_time += clampDuration(duration);
    audio_bytes += size;
    NoteAudioWindow(size);
}

Mp4AudioBitRates CMp4mux::AudioBitRates() const
{
    Mp4AudioBitRates r;
    if (!info || audio_samples == 0)
        return r;
    const uint64_t rate = info->sample_rate;
    const uint64_t frames = info->entry_count_stsz_audio;
    if (rate == 0 || frames == 0) {
        // No nominal frame length: fall back to the measured duration.
        const uint64_t ms = uint64_t(audio_time);
        if (ms)
            r.avg_bitrate = r.max_bitrate = clampU32(mulDivU64(audio_bytes * 8, 1000, ms));
        return r;
    }
    // An AAC frame carries 1024 samples, so n frames last n * 1024 / rate s.
    r.avg_bitrate = clampU32(mulDivU64(audio_bytes * 8, rate, frames * 1024));
    const uint64_t window_frames = std::min<uint64_t>(window_len, frames);
    r.max_bitrate = clampU32(mulDivU64(window_peak * 8, rate, window_frames * 1024));
    r.max_bitrate = std::max(r.max_bitrate, r.avg_bitrate);
    return r;
}

int CMp4mux::WriteAt(uint64_t pos, const uint8_t* bytes, size_t n)
{
    if (!file->seek(pos) || !file->write(bytes, n))
        return 0;
    file_end = std::max(file_end, pos + n);
    return 1;
}

// Makes the box at `end` the one that follows the media data. Everything
// written before is handed to the system first, and the header itself is one
// 16-byte write over the free box and the mdat header, so a process killed at
// any moment leaves either the previous or the new layout. Spans beyond 4 GiB
// (only the temporary index copy near the split threshold) take the 64-bit form.
int CMp4mux::CommitMdatEnd(uint64_t end)
{
    uint8_t head[16];
    const uint64_t free_pos = mdat_pos - kFreeBoxSize;
    const uint64_t size = end - mdat_pos;
    if (size <= 0xFFFFFFFFu) {
        putBE32(head, kFreeBoxSize);
        std::memcpy(head + 4, "free", 4);
        putBE32(head + 8, uint32_t(size));
        std::memcpy(head + 12, "mdat", 4);
    } else {
        putBE32(head, 1); // size in the 64-bit field that follows the type
        std::memcpy(head + 4, "mdat", 4);
        putBE64(head + 8, end - free_pos);
    }
    return file->flush() && file->seek(free_pos) && file->write(head, sizeof head) && file->flush();
}

int CMp4mux::SaveData()
{
    if (!IsOpen() || failed)
        return 0;
    video_audio_info_t& t = *info;
    t.timescale = 1000;
    t.video_duration = uint32_t(video_time);
    t.audio_duration = uint32_t(audio_time);
    // The delay is skipped only when there is sound behind it; a track that
    // is all delay keeps the plain edit rather than an empty one.
    t.audio_edit_start = t.audio_duration > audio_delay_ms ? audio_delay_ms : 0;
    const uint32_t audio_shown = t.audio_duration - t.audio_edit_start;
    t.duration = audio_shown > t.video_duration ? audio_shown : t.video_duration;
    t.entry_count_stts_video = t.entry_count_stsc_video;
    // The table count, not the sample count, so that the audio time-to-sample
    // entries always describe exactly the samples the size table lists.
    t.entry_count_stts_audio = t.entry_count_stsz_audio;
    t.sample_count_stts_audio = 1;
    t.sample_delta_stts_audio = audio_samples ? uint32_t(audio_time) : 0;
    t.entry_count_stss = sync_samples;
    t.next_track_id = mp4HasAudioTrack(t) ? 3 : mp4HasVideoTrack(t) ? 2 : 1;

    // Memory shortage here is not fatal: nothing has been written yet, the last
    // index stays in force and media keep filling its place as before.
    const size_t bound = mp4MoovSizeBound(t);
    if (!next_moov_buf.reserve(bound) || !held_buf.reserve(bound))
        return 0;
    const size_t n = buildMp4Moov(t, AudioBitRates(), next_moov_buf.data(), bound);
    if (n == 0 || n > 0xFFFFFFFFu)
        return 0;
    // Without room for this index (and the next) kept on the disk, the
    // recording cannot go on safely: stop here, while the room is still there.
    if (!journal.ensureRoom(n)) {
        out_of_space = true;
        failed = true;
        return 0;
    }

    if (moov_len == 0) {
        // No index on disk yet: the file was not playable before, so the new
        // index and then the header are written in place.
        if (!WriteAt(write_pos, next_moov_buf.data(), n) || !CommitMdatEnd(write_pos))
            return Fail();
    } else if (held_len == 0 && n == moov_len && std::memcmp(next_moov_buf.data(), moov_buf.data(), n) == 0) {
        // Nothing changed since the last index, which is already on disk.
    } else {
        // The held bytes belong where the current index stands. First put a
        // copy of the current index out of the way and make it the one in
        // force; then the old place is free to fill and the new index goes to
        // the logical end. The copy goes right behind both the current index
        // and the new one's place: everything on disk beyond the logical end is
        // unreferenced (earlier copies), so the file does not grow with them.
        const uint64_t copy_pos =
            std::max<uint64_t>(uint64_t(moov_pos) + moov_len, uint64_t(write_pos) + n);
        if (!WriteAt(copy_pos, moov_buf.data(), moov_len) || !CommitMdatEnd(copy_pos))
            return Fail();
        if (held_len && !WriteAt(moov_pos, held_buf.data(), held_len))
            return Fail();
        if (!WriteAt(write_pos, next_moov_buf.data(), n) || !CommitMdatEnd(write_pos))
            return Fail();
    }
    moov_buf.swap(next_moov_buf);
    moov_len = uint32_t(n);
    moov_pos = write_pos;
    held_len = 0;
    saved_ms = t.duration;
    journal.noteIndex(video_samples, audio_samples, write_pos);
    // The next n media bytes are held; later ones go to the file behind the index.
    if (!file->seek(uint64_t(write_pos) + n))
        return Fail();
    return CheckJournal();
}

int CMp4mux::Close()
{
    if (!IsOpen()) {
        FreeAll();
        return 1;
    }
    int ok = 0;
    if (!failed) {
        ok = SaveData();
    } else if (out_of_space) {
        // The disk is full: the media end with the last whole sample (a cut
        // one lies beyond the logical end and is overwritten), and the room
        // kept for this moment takes the final index. The writer still
        // reports the failure afterwards.
        journal.releaseRoom();
        file->clearError();
        failed = false;
        ok = SaveData();
        failed = true;
    }
    // Drop what lies behind the final index (the copy that kept the previous
    // one in force while it was replaced, or the cut sample).
    if (ok && !file->truncate(uint64_t(moov_pos) + moov_len))
        ok = 0;
    if (!file->close())
        ok = 0;
    // A file without its final index keeps its journal for a repair.
    if (ok)
        journal.finish();
    else
        journal.abandon();
    FreeAll();
    return ok;
}

int CMp4mux::ReOpen()
{
    if (!IsOpen())
        return 0;
    const std::string next = continuationName(file_name);
    const video_audio_info_t& t = *info;
    const int width = t.width;
    const int height = t.height;
    const int sample_rate = int(t.sample_rate);
    const int channels = int(t.channels);
    const uint32_t delay = audio_delay_samples;
    const bool ended = audio_ended;
    const bool journaled = journal_wanted;
    uint8_t sps[kMp4ParamSetMax];
    uint8_t pps[kMp4ParamSetMax];
    const uint32_t sps_len = t.sps_len;
    const uint32_t pps_len = t.pps_len;
    std::memcpy(sps, t.spsbuf, sps_len);
    std::memcpy(pps, t.ppsbuf, pps_len);

    // A file whose last index could not be written stays as it stood at its
    // last good index; the recording still moves on to the next file.
    Close();
    if (!Open(next.c_str(), width, height, 25, sample_rate, channels))
        return 0;
    if (journaled && !EnableJournal() && failed)
        return 0;
    if (sps_len)
        WriteVideoHead(sps, int(sps_len), pps, int(pps_len));
    // The continuation's first samples are just as late: a player that starts
    // there must skip the same amount to stay in sync.
    if (delay)
        SetAudioEncoderDelay(delay);
    audio_ended = ended;
    return 1;
}

} // namespace quillet
