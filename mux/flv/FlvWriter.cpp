#include "mux/flv/FlvWriter.h"

#include <utility>

#include "base/ByteOrder.h"
#include "base/MulDiv.h"

namespace quillet {

int FlvWriter::CreateFlvFile(const char* path)
{
    if (!path || !*path)
        return 0;
    good_end_ = 0;
    audio_delay_ms_ = 0;
    out_of_space_ = cut_ = any_video_ = false;
    last_video_ms_ = final_ms_ = 0;
    path_ = path;
    return file_.open(path) ? 1 : NoteFailure();
}

int FlvWriter::EnableJournal(int fps)
{
    if (!IsOpen() || !journal_.create(journalPathFor(path_), JournalKind::Flv))
        return 0;
    uint8_t p[4];
    putLE32(p, uint32_t(fps > 0 ? fps : 0));
    return journal_.append(kJournalParams, p, sizeof p);
}

int FlvWriter::NoteFailure()
{
    cut_ = true;
    if (isOutOfSpaceError(file_.systemError()))
        out_of_space_ = true;
    return 0;
}

int FlvWriter::WriteFlvMetaData(int width, int height, uint32_t duration_ms)
{
    uint8_t tag[kFlvMetaDataSize];
    writeFlvMetaData(tag, width, height, duration_ms);
    if (!file_.write(tag, sizeof tag))
        return 0;
    if (file_.tell() > good_end_)
        good_end_ = file_.tell();
    return 1;
}

int FlvWriter::WriteFlvHeader(int width, int height, int channels, const uint8_t* avc_header_tag, int avc_header_len)
{
    if (!IsOpen() || avc_header_len <= 0 || !isCompleteFlvTag(avc_header_tag, size_t(avc_header_len), kFlvVideoTag))
        return 0;
    width_ = width;
    height_ = height;
    uint8_t header[kFlvFileHeaderSize];
    writeFlvFileHeader(header);
    uint8_t aac[kFlvAacHeaderTagSize];
    writeFlvAacHeaderTag(aac, channels);
    // The metadata starts with duration 0 (3 ms in whole seconds).
    uint8_t meta[kFlvMetaDataSize];
    writeFlvMetaData(meta, width, height, 3);
    return WriteTag(header, sizeof header, meta, sizeof meta, avc_header_tag, size_t(avc_header_len), aac, sizeof aac);
}

int FlvWriter::WriteTag(const uint8_t* a, size_t na, const uint8_t* b, size_t nb, const uint8_t* c, size_t nc,
                        const uint8_t* d, size_t nd)
{
    struct iovec parts[4];
    int count = 0;
    for (auto [p, n] : {std::pair{a, na}, std::pair{b, nb}, std::pair{c, nc}, std::pair{d, nd}})
        if (n)
            parts[count++] = {const_cast<uint8_t*>(p), n};
    if (!file_.writeParts(parts, count)) {
        // Leave whole tags only; readers would fail on a cut one.
        file_.truncate(good_end_);
        return NoteFailure();
    }
    good_end_ = file_.tell();
    return 1;
}

int FlvWriter::RefreshMetaData(uint32_t duration_ms)
{
    const uint64_t resume = file_.tell();
    // One write inside the first page: a killed process leaves the old or the
    // new duration, never a mix.
    return file_.seek(kFlvMetaDataOffset) && WriteFlvMetaData(width_, height_, duration_ms) && file_.seek(resume);
}

int FlvWriter::WriteFlvVideo(const uint8_t* tag, int len, int key, uint32_t timestamp_ms)
{
    if (!IsOpen() || file_.error())
        return 0;
    if (len == 0)
        return 1;
    // A tag that does not hang together would make every later tag unreadable.
    if (len < 0 || !isCompleteFlvTag(tag, size_t(len), kFlvVideoTag))
        return 0;
    if (!WriteTag(tag, size_t(len)))
        return 0;
    any_video_ = true;
    last_video_ms_ = timestamp_ms;
    if (key && timestamp_ms > kRefreshAfterMs)
        return RefreshMetaData(timestamp_ms);
    return 1;
}

int FlvWriter::SetAudioEncoderDelay(uint32_t samples, uint32_t sample_rate)
{
    if (sample_rate == 0 || samples > sample_rate)
        return 0;
    audio_delay_ms_ = uint32_t(mulDivU64(samples, 1000, sample_rate));
    return 1;
}

int FlvWriter::WriteFlvAudio(const uint8_t* records, int len, const uint32_t* frame_end_ms, int timestamp_count)
{
    if (!IsOpen() || file_.error() || len < 0 || (len > 0 && (!records || !frame_end_ms)))
        return 0;
    // Check the whole buffer before writing, so that a bad record cannot leave
    // half of a buffer in the file.
    int frames = 0;
    for (int at = 0; at < len; ++frames) {
        if (len - at < 2)
            return 0;
        const int stored = int(getLE16(records + at));
        if (stored < int(kAdtsHeaderSize) + 1 || stored > len - at - 2)
            return 0;
        at += 2 + stored;
    }
    if (frames > timestamp_count)
        return 0;
    int i = 0;
    for (int at = 0; at < len; ++i) {
        const uint32_t stored = getLE16(records + at);
        if (frame_end_ms[i] <= audio_delay_ms_) {
            // Only the encoder's leading silence: nothing of the recording.
            at += 2 + int(stored);
            continue;
        }
        const uint32_t raw = stored - uint32_t(kAdtsHeaderSize);
        uint8_t head[kFlvTagHeaderSize + 2];
        writeFlvTagHeader(head, kFlvAudioTag, raw + 2, frame_end_ms[i] - audio_delay_ms_);
        head[11] = 0xAF; // AAC, fixed flags
        head[12] = 0x01; // raw AAC frame
        uint8_t trailer[4];
        putBE32(trailer, raw + 13);
        if (!WriteTag(head, sizeof head, records + at + 2 + kAdtsHeaderSize, raw, trailer, sizeof trailer))
            return 0;
        at += 2 + int(stored);
    }
    return 1;
}

int FlvWriter::WriteFlvAudioMp3(const uint8_t* data, int len, uint32_t timestamp_ms)
{
    if (!IsOpen() || file_.error() || len <= 0 || len > kMaxTagData || !data)
        return 0;
    uint8_t head[kFlvTagHeaderSize + 1];
    writeFlvTagHeader(head, kFlvAudioTag, uint32_t(len) + 1, timestamp_ms);
    head[11] = 0x26; // MP3, 11 kHz flag, 16-bit, mono
    uint8_t trailer[4];
    putBE32(trailer, uint32_t(len) + 12);
    return WriteTag(head, sizeof head, data, size_t(len), trailer, sizeof trailer);
}

int FlvWriter::FinishFlv(int width, int height, uint32_t pictures, int fps)
{
    if (!IsOpen())
        return 0;
    uint32_t duration_ms = fps > 0 ? uint32_t(uint64_t(pictures) * 1000 / uint32_t(fps)) : 0;
    const bool cut = file_.error();
    if (cut && out_of_space_) {
        // The tags end with the last whole one; the metadata says how long
        // that is. It is rewritten where it stands, which needs no room.
        file_.clearError();
        duration_ms = any_video_ ? last_video_ms_ + (fps > 0 ? 1000 / uint32_t(fps) : 0) : 0;
    }
    int ok = !file_.error() && file_.seek(kFlvMetaDataOffset) && WriteFlvMetaData(width, height, duration_ms);
    if (!ok || cut)
        file_.truncate(good_end_);
    if (!file_.close())
        ok = 0;
    final_ms_ = ok ? duration_ms : 0;
    // Finalised: nothing is left to repair. A cut file is finalised too.
    if (ok)
        journal_.remove();
    else
        journal_.close();
    return ok && !cut ? 1 : 0;
}

} // namespace quillet
