#include "mux/mp4/Mp4Journal.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "base/DirectFileSink.h"

namespace quillet {

int Mp4Journal::open(const std::string& recording, int width, int height, uint32_t sample_rate, uint32_t channels,
                     uint32_t mdat_pos, uint32_t media_start)
{
    abandon();
    out_of_space_ = false;
    if (!journal_.create(journalPathFor(recording), JournalKind::Mp4) ||
        !room_.create(reservePathFor(recording), JournalKind::Mp4Room) || !room_.preallocate(kInitialRoom)) {
        out_of_space_ = isOutOfSpaceError(journal_.systemError()) || isOutOfSpaceError(room_.systemError());
        finish();
        return 0;
    }
    uint8_t p[24];
    putLE32(p, uint32_t(width));
    putLE32(p + 4, uint32_t(height));
    putLE32(p + 8, sample_rate);
    putLE32(p + 12, channels);
    putLE32(p + 16, mdat_pos);
    putLE32(p + 20, media_start);
    check(journal_.append(kParams, p, sizeof p));
    return active() ? 1 : 0;
}

void Mp4Journal::check(int ok)
{
    if (ok)
        return;
    // Without its journal the recording still has its refreshed index; only
    // a full disk is a reason to end it.
    if (isOutOfSpaceError(journal_.systemError()) || isOutOfSpaceError(room_.systemError()))
        out_of_space_ = true;
    abandon();
}

void Mp4Journal::noteVideoHead(const uint8_t* sps, uint32_t sps_len, const uint8_t* pps, uint32_t pps_len)
{
    if (!active())
        return;
    uint8_t a[2], b[2];
    putLE16(a, sps_len);
    putLE16(b, pps_len);
    // The two lengths and sets as one payload: length, SPS, length, PPS.
    uint8_t buf[2 + 255 + 2 + 255];
    if (sps_len > 255 || pps_len > 255)
        return;
    std::copy(a, a + 2, buf);
    std::copy(sps, sps + sps_len, buf + 2);
    std::copy(b, b + 2, buf + 2 + sps_len);
    std::copy(pps, pps + pps_len, buf + 4 + sps_len);
    check(journal_.append(kVideoHead, buf, 4 + sps_len + pps_len));
}

void Mp4Journal::noteAudioDelay(uint32_t samples)
{
    if (!active())
        return;
    uint8_t p[4];
    putLE32(p, samples);
    check(journal_.append(kAudioDelay, p, sizeof p));
}

void Mp4Journal::noteHeld(uint32_t offset, const void* bytes, size_t n)
{
    if (!active() || n == 0)
        return;
    uint8_t p[4];
    putLE32(p, offset);
    check(room_.append(kHeld, p, sizeof p, bytes, n));
}

void Mp4Journal::noteVideo(uint32_t offset, const char* bytes, uint32_t size, uint32_t duration_ms, int key)
{
    if (!active())
        return;
    uint8_t p[17];
    putLE32(p, offset);
    putLE32(p + 4, size);
    putLE32(p + 8, duration_ms);
    p[12] = key ? 1 : 0;
    putLE32(p + 13, journalCrc(bytes, size));
    check(journal_.append(kVideo, p, sizeof p));
}

void Mp4Journal::noteAudio(uint32_t offset, const char* bytes, uint32_t size, uint32_t duration_ms)
{
    if (!active())
        return;
    uint8_t p[16];
    putLE32(p, offset);
    putLE32(p + 4, size);
    putLE32(p + 8, duration_ms);
    putLE32(p + 12, journalCrc(bytes, size));
    check(journal_.append(kAudio, p, sizeof p));
}

void Mp4Journal::noteIndex(uint32_t video_samples, uint32_t audio_samples, uint32_t media_end)
{
    if (!active())
        return;
    uint8_t p[12];
    putLE32(p, video_samples);
    putLE32(p + 4, audio_samples);
    putLE32(p + 8, media_end);
    check(journal_.append(kIndex, p, sizeof p));
    // The held bytes noted so far are in their place now.
    room_.rewind();
}

int Mp4Journal::ensureRoom(size_t index_bytes)
{
    if (!room_.isOpen())
        return 1;
    const uint64_t want = kRoomPerIndexByte * uint64_t(index_bytes) + kRoomMargin;
    if (room_.preallocated() >= want)
        return 1;
    // Grow by half again, so that a long recording asks the disk only now and then.
    if (room_.preallocate(std::max(want, room_.preallocated() + room_.preallocated() / 2)))
        return 1;
    out_of_space_ = true;
    return 0;
}

void Mp4Journal::releaseRoom()
{
    if (room_.isOpen())
        room_.releaseRoom();
}

void Mp4Journal::finish()
{
    journal_.remove();
    room_.remove();
}

void Mp4Journal::abandon()
{
    journal_.close();
    if (room_.isOpen())
        room_.releaseRoom();
    room_.close();
}

} // namespace quillet
