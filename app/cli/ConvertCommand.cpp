#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/cli/Commands.h"
#include "engine/OutputType.h"
#include "engine/playback/RecordingConverter.h"

namespace quillet::cli {
namespace {

const char* kConvertUsage =
    "usage: quillet-cli convert IN OUT.mp4      AVI (QVS2) or own record file to MP4 (H.264 and AAC)\n"
    "       quillet-cli convert IN --frames DIR lossless PNG picture per frame into DIR\n"
    "       quillet-cli convert IN.flv OUT.mp4  FLV to MP4 without coding again (and MP4 to FLV)\n";

// Progress on one terminal line, redrawn when the percentage moves; when
// stderr is not a terminal, a line at every quarter.
class ProgressLine {
public:
    void operator()(uint32_t done, uint32_t total)
    {
        int pct = total ? static_cast<int>(uint64_t(done) * 100 / total) : 0;
        if (pct > 100)
            pct = 100;
        if (!terminal_) {
            if (pct / 25 > last_ / 25 || last_ < 0)
                std::fprintf(stderr, "converting: %d%%\n", pct / 25 * 25);
            last_ = pct;
            return;
        }
        if (pct == last_)
            return;
        last_ = pct;
        std::fprintf(stderr, "\rconverting: %3d%%  %u.%01u s of %u.%01u s", pct, done / 1000,
                     done % 1000 / 100, total / 1000, total % 1000 / 100);
        std::fflush(stderr);
        drawn_ = true;
    }
    void end()
    {
        if (drawn_)
            std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    int last_ = -1;
    bool drawn_ = false;
    bool terminal_ = isatty(2) != 0;
};

} // namespace

int runConvert(int argc, char** argv)
{
    std::string in, out, frames;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kConvertUsage, stdout);
            return 0;
        }
        if (a == "--frames") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillet-cli convert: --frames needs a folder\n%s", kConvertUsage);
                return 2;
            }
            frames = argv[++i];
        } else if (in.empty()) {
            in = a;
        } else if (out.empty()) {
            out = a;
        } else {
            std::fprintf(stderr, "quillet-cli convert: too many arguments\n%s", kConvertUsage);
            return 2;
        }
    }
    if (in.empty() || (out.empty() == frames.empty())) {
        std::fprintf(stderr, "quillet-cli convert: give an input and either an output file or --frames DIR\n%s",
                     kConvertUsage);
        return 2;
    }
    if (!out.empty() && out == in) {
        std::fprintf(stderr, "quillet-cli convert: the output would overwrite the input\n");
        return 2;
    }

    RecordingConverter converter;
    ConvertReport report;
    std::string error;
    ProgressLine line;
    const ConvertProgress progress = [&line](uint32_t done, uint32_t total) { line(done, total); };
    const OutputType inType = outputTypeForFileName(in);
    const OutputType outType = out.empty() ? OutputImages : outputTypeForFileName(out);
    int ok = 0;
    if (!frames.empty()) {
        ok = converter.toFrames(in, frames, progress, &report, &error);
    } else if ((inType == OutputFlv && outType == OutputMp4) || (inType == OutputMp4 && outType == OutputFlv)) {
        ok = converter.remux(in, out, progress, &report, &error);
    } else if (outType == OutputMp4) {
        ok = converter.toMp4(in, out, progress, &report, &error);
    } else {
        std::fprintf(stderr, "quillet-cli convert: %s: can only make MP4 (or FLV from MP4) or --frames\n",
                     out.c_str());
        return 2;
    }
    line.end();
    for (const std::string& w : report.warnings)
        std::fprintf(stderr, "quillet-cli convert: warning: %s\n", w.c_str());
    if (!ok) {
        std::fprintf(stderr, "quillet-cli convert: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %u pictures, %u.%03u s%s\n", frames.empty() ? out.c_str() : frames.c_str(), report.frames,
                report.durationMs / 1000, report.durationMs % 1000,
                report.damaged ? " (the recording was cut short; everything before the damage was converted)" : "");
    return 0;
}

} // namespace quillet::cli
