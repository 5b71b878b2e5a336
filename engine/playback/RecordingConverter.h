#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillet {

// Progress of a long conversion: media milliseconds done of the total.
using ConvertProgress = std::function<void(uint32_t doneMs, uint32_t totalMs)>;

// What a conversion did.
struct ConvertReport {
    uint32_t frames = 0;      // pictures written
    uint32_t durationMs = 0;
    uint64_t soundSamples = 0; // per channel, as decoded from the recording
    bool damaged = false;     // the source ended at damage; what came before was converted
    std::vector<std::string> warnings;
};

// Converts recordings that only this program reads into files that others
// read. Every conversion removes its partial output when it fails; the error
// names the file (and the offset, for damaged data).
//
// - toMp4: an AVI ("QVS2") or own record file to MP4 with H.264 video (the
//   recorder's own encoder, cursor drawn in) and AAC sound at 32000 Hz.
// - toFrames: the same recordings as numbered PNG pictures, lossless
//   against the decoded picture ("frame_000000.png", ...), one per coded
//   frame, named in frame order.
// - remux: FLV to MP4 and MP4 to FLV without coding anything again.
class RecordingConverter {
public:
    int toMp4(const std::string& in, const std::string& out, const ConvertProgress& progress, ConvertReport* report,
              std::string* error);
    int toFrames(const std::string& in, const std::string& folder, const ConvertProgress& progress,
                 ConvertReport* report, std::string* error);
    int remux(const std::string& in, const std::string& out, const ConvertProgress& progress, ConvertReport* report,
              std::string* error);
};

} // namespace quillet
