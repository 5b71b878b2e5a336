#include "mux/flv/FlvRepair.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "base/DirectFileSink.h"
#include "mux/flv/FlvTags.h"
#include "mux/flv/FlvWriter.h"
#include "mux/journal/RecordingJournal.h"

namespace quillet {
namespace {

int fail(RecordingRepairReport* report, const std::string& why)
{
    report->error = why;
    return 0;
}

double getDouble(const uint8_t* p)
{
    const uint64_t bits = getBE64(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Width and height from the metadata the writer put behind the file header.
bool readPictureSize(const uint8_t meta[kFlvMetaDataSize], int* width, int* height)
{
    uint8_t expect[kFlvMetaDataSize];
    writeFlvMetaData(expect, 0, 0, 0);
    // Everything but the three numbers must be what the writer writes.
    constexpr size_t kWidthAt = 56, kHeightAt = 73, kDurationAt = 40;
    for (size_t i = 0; i < kFlvMetaDataSize; ++i) {
        const bool number = (i >= kDurationAt && i < kDurationAt + 8) || (i >= kWidthAt && i < kWidthAt + 8) ||
                            (i >= kHeightAt && i < kHeightAt + 8);
        if (!number && meta[i] != expect[i])
            return false;
    }
    const double w = getDouble(meta + kWidthAt), h = getDouble(meta + kHeightAt);
    if (!(w >= 0 && w <= 65535 && h >= 0 && h <= 65535))
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

} // namespace

int repairFlvRecording(const std::string& path, RecordingRepairReport* report)
{
    RecordingRepairReport local;
    if (!report)
        report = &local;
    *report = RecordingRepairReport{};
    const std::string journalPath = journalPathFor(path);
    JournalContents journal;
    if (!readJournalForRepair(path, JournalKind::Flv, &journal, &report->error))
        return 0;
    uint32_t fps = 0;
    for (const JournalRecord& r : journal.records)
        if (r.type == FlvWriter::kJournalParams) {
            RecordReader in(r);
            fps = in.u32();
        }

    DirectFileSink file;
    if (!file.openExisting(path))
        return fail(report, "the recording " + path + " cannot be opened for writing");
    const uint64_t size = file.sizeOnDisk();
    uint8_t head[kFlvFileHeaderSize + kFlvMetaDataSize];
    int width = 0, height = 0;
    if (size < sizeof head || !file.readAt(0, head, sizeof head) || std::memcmp(head, "FLV", 3) != 0 ||
        !readPictureSize(head + kFlvFileHeaderSize, &width, &height))
        return fail(report, "the recording " + path + " is not an FLV file this program began");

    // Walk the tags by their headers; the first that does not hang together
    // or runs past the end is where the file stops.
    uint64_t at = kFlvFileHeaderSize + kFlvMetaDataSize;
    uint32_t lastVideo = 0, lastAudio = 0;
    while (at + kFlvTagHeaderSize + 4 <= size) {
        // The header and the first two data bytes (for video: frame type and
        // whether it is the sequence header).
        uint8_t tag[kFlvTagHeaderSize + 2] = {};
        if (!file.readAt(at, tag, std::min<uint64_t>(sizeof tag, size - at)))
            break;
        const uint8_t type = tag[0];
        const uint32_t dataSize = getBE24(tag + 1);
        const uint32_t ts = getBE24(tag + 4) | uint32_t(tag[7]) << 24;
        const uint64_t end = at + kFlvTagHeaderSize + dataSize + 4;
        uint8_t trailer[4];
        if ((type != kFlvAudioTag && type != kFlvVideoTag && type != kFlvScriptTag) || dataSize < 2 || end > size ||
            !file.readAt(end - 4, trailer, 4) || getBE32(trailer) != dataSize + kFlvTagHeaderSize)
            break;
        if (type == kFlvVideoTag && tag[kFlvTagHeaderSize + 1] != 0) {
            ++report->videoSamples;
            lastVideo = std::max(lastVideo, ts);
        } else if (type == kFlvAudioTag && !(tag[kFlvTagHeaderSize] == 0xAF && tag[kFlvTagHeaderSize + 1] == 0)) {
            ++report->audioSamples;
            lastAudio = std::max(lastAudio, ts);
        }
        at = end;
    }
    if (at < size)
        report->droppedSamples = 1;
    const bool anyVideo = report->videoSamples > 0;
    const uint32_t period = fps > 0 ? 1000 / fps : 0;
    const uint32_t duration = std::max(anyVideo ? lastVideo + period : 0, lastAudio);
    uint8_t meta[kFlvMetaDataSize];
    writeFlvMetaData(meta, width, height, duration);
    if (!file.truncate(at) || !file.seek(kFlvMetaDataOffset) || !file.write(meta, sizeof meta) || !file.close())
        return fail(report, "the recording " + path + " cannot be written");
    report->durationMs = duration;
    ::unlink(journalPath.c_str());
    return 1;
}

} // namespace quillet
