#include "mux/mp4/Mp4Repair.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/DirectFileSink.h"
#include "mux/journal/RecordingJournal.h"
#include "mux/mp4/Mp4Journal.h"
#include "mux/mp4/Mp4Mux.h"

namespace quillet {
namespace {

struct Params {
    int width = 0, height = 0;
    uint32_t sampleRate = 0, channels = 0;
    uint32_t mdatPos = 0, mediaStart = 0;
};

struct Sample {
    bool video = false;
    int key = 0;
    uint32_t offset = 0, size = 0, duration = 0, crc = 0;
};

// Media bytes the journal kept, at their place in the file.
struct Held {
    uint32_t offset = 0;
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
};

// The sample's bytes as they will stand once the held bytes are back.
int readSample(const DirectFileSink& file, uint64_t fileSize, const std::vector<Held>& held, const Sample& s,
               std::vector<uint8_t>* buf)
{
    buf->resize(s.size);
    const uint64_t end = uint64_t(s.offset) + s.size;
    if (end > fileSize || !file.readAt(s.offset, buf->data(), s.size))
        return 0;
    for (const Held& h : held) {
        const uint64_t lo = std::max<uint64_t>(h.offset, s.offset);
        const uint64_t hi = std::min<uint64_t>(uint64_t(h.offset) + h.size, end);
        if (lo < hi)
            std::memcpy(buf->data() + (lo - s.offset), h.bytes + (lo - h.offset), size_t(hi - lo));
    }
    return 1;
}

int fail(RecordingRepairReport* report, const std::string& why)
{
    report->error = why;
    return 0;
}

} // namespace

int repairMp4Recording(const std::string& path, RecordingRepairReport* report, const RepairProgress& progress)
{
    RecordingRepairReport local;
    if (!report)
        report = &local;
    *report = RecordingRepairReport{};
    const std::string journalPath = journalPathFor(path);
    JournalContents journal;
    if (!readJournalForRepair(path, JournalKind::Mp4, &journal, &report->error))
        return 0;
    if (journal.records.empty() || journal.records[0].type != Mp4Journal::kParams)
        return fail(report, "the journal " + journalPath + " is damaged");

    Params p;
    {
        RecordReader r(journal.records[0]);
        p.width = int(r.u32());
        p.height = int(r.u32());
        p.sampleRate = r.u32();
        p.channels = r.u32();
        p.mdatPos = r.u32();
        p.mediaStart = r.u32();
        if (!r.ok())
            return fail(report, "the journal " + journalPath + " is damaged");
    }

    // What was written, in order, and the last index refresh the file got.
    std::vector<uint8_t> sps, pps;
    uint32_t delaySamples = 0;
    std::vector<Sample> samples;
    uint32_t indexedVideo = 0, indexedAudio = 0;
    for (size_t i = 1; i < journal.records.size(); ++i) {
        RecordReader r(journal.records[i]);
        switch (journal.records[i].type) {
        case Mp4Journal::kVideoHead: {
            const uint16_t ns = r.u16();
            const uint8_t* s = r.bytes(ns);
            const uint16_t np = r.u16();
            const uint8_t* q = r.bytes(np);
            if (r.ok()) {
                sps.assign(s, s + ns);
                pps.assign(q, q + np);
            }
            break;
        }
        case Mp4Journal::kAudioDelay: delaySamples = r.u32(); break;
        case Mp4Journal::kVideo:
        case Mp4Journal::kAudio: {
            Sample s;
            s.video = journal.records[i].type == Mp4Journal::kVideo;
            s.offset = r.u32();
            s.size = r.u32();
            s.duration = r.u32();
            if (s.video)
                s.key = r.u8();
            s.crc = r.u32();
            if (r.ok())
                samples.push_back(s);
            break;
        }
        case Mp4Journal::kIndex:
            indexedVideo = r.u32();
            indexedAudio = r.u32();
            break;
        default: break; // a later version's record: not needed for the index
        }
    }

    JournalContents room;
    std::vector<Held> held;
    const std::string roomPath = reservePathFor(path);
    if (readJournal(roomPath, &room) && room.kind == JournalKind::Mp4Room) {
        for (const JournalRecord& rec : room.records) {
            RecordReader r(rec);
            Held h;
            h.offset = r.u32();
            h.size = uint32_t(r.left());
            h.bytes = r.bytes(h.size);
            if (rec.type == Mp4Journal::kHeld && r.ok() && h.size)
                held.push_back(h);
        }
    }

    DirectFileSink file;
    if (!file.openExisting(path))
        return fail(report, "the recording " + path + " cannot be opened for writing");
    const uint64_t fileSize = file.sizeOnDisk();
    if (fileSize < p.mediaStart)
        return fail(report, "nothing was recorded into " + path + " before it ended");

    // The samples up to the first that is not whole in the file. Those the
    // last refresh covered were in place when it was made and are never
    // written again; only the later ones need their bytes checked.
    uint64_t toCheck = 0;
    {
        uint32_t v = 0, a = 0;
        for (const Sample& s : samples)
            if (s.video ? v++ >= indexedVideo : a++ >= indexedAudio)
                toCheck += s.size;
    }
    size_t usable = 0;
    uint64_t checked = 0;
    uint64_t expectOffset = p.mediaStart;
    std::vector<uint8_t> buf;
    uint32_t seenVideo = 0, seenAudio = 0;
    for (const Sample& s : samples) {
        if (s.offset != expectOffset || s.size == 0)
            break;
        const bool covered = s.video ? seenVideo < indexedVideo : seenAudio < indexedAudio;
        if (covered) {
            if (uint64_t(s.offset) + s.size > fileSize)
                break;
        } else {
            if (!readSample(file, fileSize, held, s, &buf) || journalCrc(buf.data(), buf.size()) != s.crc)
                break;
            checked += s.size;
            if (progress)
                progress(checked, toCheck);
        }
        (s.video ? seenVideo : seenAudio)++;
        expectOffset += s.size;
        ++usable;
    }
    report->droppedSamples = uint32_t(samples.size() - usable);
    if (usable == 0)
        return fail(report, "nothing was recorded into " + path + " before it ended");

    // From here on the file changes: the held bytes go back, then the index.
    for (const Held& h : held) {
        if (h.offset >= expectOffset)
            continue;
        const size_t n = size_t(std::min<uint64_t>(h.size, expectOffset - h.offset));
        if (!file.seek(h.offset) || !file.write(h.bytes, n))
            return fail(report, "the recording " + path + " cannot be written");
    }
    if (!file.close())
        return fail(report, "the recording " + path + " cannot be written");

    CMp4mux mux;
    if (!mux.OpenExisting(path.c_str(), p.width, p.height, int(p.sampleRate), int(p.channels), p.mdatPos,
                          p.mediaStart))
        return fail(report, "the recording " + path + " cannot be opened for writing");
    if (!sps.empty())
        mux.WriteVideoHead(sps.data(), int(sps.size()), pps.data(), int(pps.size()));
    if (delaySamples)
        mux.SetAudioEncoderDelay(delaySamples);
    for (size_t i = 0; i < usable; ++i) {
        const Sample& s = samples[i];
        const int ok = s.video ? mux.RestoreVideo(s.size, s.duration, s.key) : mux.RestoreAudio(s.size, s.duration);
        if (!ok)
            return fail(report, "the journal " + journalPath + " is damaged");
    }
    report->videoSamples = mux.video_samples;
    report->audioSamples = mux.audio_samples;
    if (!mux.Close())
        return fail(report, "the index could not be written into " + path);
    report->durationMs = mux.SavedMs();
    ::unlink(journalPath.c_str());
    ::unlink(roomPath.c_str());
    return 1;
}

} // namespace quillet
