// Helper for the crash tests: writes an MP4 or FLV recording from the test
// clips (pictures every 40 ms, AAC frames every 32 ms of media time, refreshing
// at key frames after 10 s like the recording engine) until it is killed.
// After every refresh it appends "<pictures> <audio frames>\n" to the log with
// one unbuffered write, so the killer knows what the file must hold at least.
//
// "mp4-every" refreshes after every picture once past 10 s, so that most kill
// moments fall inside an index refresh.
//
// "journal" keeps the side journal, refreshes at every key frame (as the
// recorder does) and logs "<pictures> <audio frames>" after every picture.
// "journal-split" does the same in a file that starts just below the split
// threshold, so the recording moves on to its continuation file within a
// second; the picture and frame counts at which the continuation began are
// logged once as "S <pictures> <audio frames>".
//
// "flv-journal" writes an FLV with its journal and logs after every picture.
//
// usage: mux_crash_writer mp4|mp4-every|flv|journal|journal-split|flv-journal OUTPUT LOG MICROSECONDS_PER_PICTURE
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mux/flv/FlvWriter.h"
#include "mux/mp4/Mp4Mux.h"
#include "tests/mux/MuxTestMedia.h"

using namespace quillet;
using namespace quillet::muxtest;

namespace {

constexpr uint32_t kPictures = 25 * 600; // ten minutes of media at most
constexpr uint32_t kRefreshAfterMs = 10000;

void logRefresh(int fd, uint32_t pictures, uint32_t frames)
{
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%u %u\n", pictures, frames);
    if (::write(fd, line, size_t(n)) != n)
        std::exit(3);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const std::string format = argv[1];
    const char* out = argv[2];
    const int log = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    const useconds_t pace_us = useconds_t(std::atoi(argv[4]));
    const VideoClip& v = testVideo();
    const AudioClip& a = testAudioStereo();
    if (log < 0 || v.samples.empty() || a.raw.empty())
        return 2;

    CMp4mux mp4;
    FlvWriter flv;
    const bool every = format == "mp4-every";
    const bool split = format == "journal-split";
    const bool flv_journal = format == "flv-journal";
    const bool journal = format == "journal" || split || flv_journal;
    const bool is_mp4 = format == "mp4" || every || (journal && !flv_journal);
    if (is_mp4) {
        // About 60 kB below the split threshold: a sparse hole stands for the
        // gigabytes before.
        const uint32_t gap = split ? CMp4mux::kSplitAtKeyFrame - 60000 - 48 : 0;
        if (!mp4.OpenWithLeadingGap(out, v.width, v.height, 25, a.sample_rate, a.channels, gap) ||
            (journal && !mp4.EnableJournal()) ||
            !mp4.WriteVideoHead(v.sps.data(), int(v.sps.size()), v.pps.data(), int(v.pps.size())))
            return 4;
    } else {
        const Bytes head = flvAvcHeaderTag(v.sps, v.pps);
        if (!flv.CreateFlvFile(out) || (flv_journal && !flv.EnableJournal(25)) ||
            !flv.WriteFlvHeader(v.width, v.height, a.channels, head.data(), int(head.size())))
            return 4;
    }

    uint32_t j = 0;
    bool refreshed = false;
    for (uint32_t i = 0; i < kPictures; ++i) {
        const uint32_t t = i * 40;
        for (; j * 32 <= t; ++j) {
            const size_t k = j % a.raw.size();
            const uint32_t end_ms = (j + 1) * 32;
            const int ok = is_mp4 ? mp4.WriteAudio(reinterpret_cast<const char*>(a.raw[k].data()),
                                                   int(a.raw[k].size()), 32)
                                  : flv.WriteFlvAudio(a.records[k].data(), int(a.records[k].size()), &end_ms, 1);
            if (!ok)
                return 5;
        }
        const size_t k = i % v.samples.size();
        const int key = v.keys[k];
        if (is_mp4) {
            const std::string before = mp4.FileName();
            if (!mp4.WriteVideo(reinterpret_cast<const char*>(v.samples[k].data()), int(v.samples[k].size()), 40,
                                key))
                return 5;
            if (mp4.FileName() != before) {
                char line[64];
                const int n = std::snprintf(line, sizeof line, "S %u %u\n", i, j);
                if (::write(log, line, size_t(n)) != n)
                    return 3;
            }
        } else {
            const Bytes tag = flvVideoTag(v.samples[k], key, t);
            if (!flv.WriteFlvVideo(tag.data(), int(tag.size()), key, t))
                return 5;
        }
        if (journal) {
            if (is_mp4 && key && !mp4.SaveData())
                return 6;
            logRefresh(log, i + 1, j);
            refreshed = true;
        } else if ((key || (every && refreshed)) && t > kRefreshAfterMs) {
            // The FLV writer refreshed its metadata inside WriteFlvVideo.
            if (is_mp4 && !mp4.SaveData())
                return 6;
            logRefresh(log, i + 1, j);
            refreshed = true;
        }
        // Media up to the first refresh are written at full speed; after it the
        // pace spreads the kill moments over many refreshes.
        if (refreshed && pace_us)
            usleep(pace_us);
    }
    return 0;
}
