#include "tests/app/player/ReferenceFrames.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/playback/RecordingPlayer.h"
#include "tests/engine/session/SessionTestSupport.h"

namespace quillet::player::test {

namespace {

using quillet::test::commandOutput;
using quillet::test::probe;

std::vector<double> numbers(const std::string& text)
{
    std::vector<double> out;
    const char* p = text.c_str();
    while (*p) {
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p) {
            ++p;
            continue;
        }
        out.push_back(v);
        p = end;
    }
    return out;
}

} // namespace

std::vector<RgbFrame> ffmpegFrames(const std::string& file)
{
    std::vector<RgbFrame> frames;
    forEachFfmpegFrame(file, [&](const RgbFrame& f) { frames.push_back(f); });
    return frames;
}

void forEachFfmpegFrame(const std::string& file, const std::function<void(const RgbFrame&)>& take)
{
    const int w = std::atoi(probe(file, "v:0", "stream=width").c_str());
    const int h = std::atoi(probe(file, "v:0", "stream=height").c_str());
    if (w <= 0 || h <= 0)
        return;
    const double start = std::atof(
        commandOutput("ffprobe -v error -show_entries format=start_time -of csv=p=0 '" + file + "'").c_str());
    const std::vector<double> times = numbers(commandOutput(
        "ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time -of csv=p=0 '" + file +
        "'"));
    FILE* p = popen(("ffmpeg -v error -i '" + file + "' -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -")
                        .c_str(),
                    "r");
    if (!p)
        return;
    const size_t bytes = size_t(w) * size_t(h) * 3;
    RgbFrame f;
    f.width = w;
    f.height = h;
    f.rgb.resize(bytes);
    for (size_t i = 0; std::fread(f.rgb.data(), 1, bytes, p) == bytes; ++i) {
        f.startMs = i < times.size() ? int64_t(std::floor((times[i] - start) * 1000 + 1e-6)) : -1;
        take(f);
    }
    pclose(p);
}

RgbFrame ffmpegImage(const std::string& file)
{
    std::vector<RgbFrame> f = ffmpegFrames(file);
    return f.empty() ? RgbFrame{} : f[0];
}

std::vector<RgbFrame> screenCodecFrames(const std::string& file)
{
    std::vector<RgbFrame> frames;
    forEachScreenCodecFrame(file, [&](const RgbFrame& f) { frames.push_back(f); });
    return frames;
}

void forEachScreenCodecFrame(const std::string& file, const std::function<void(const RgbFrame&)>& take)
{
    RecordingPlayer player;
    if (!player.open(file))
        return;
    PlayerFrame pf;
    RgbFrame f;
    while (player.next(pf)) {
        const ScreenPicture& s = *pf.picture;
        f.startMs = pf.timeMs;
        f.width = s.width;
        f.height = s.height;
        f.rgb.resize(size_t(s.width) * size_t(s.height) * 3);
        for (int32_t y = 0; y < s.height; ++y) {
            const uint8_t* row = s.row_from_top(y);
            uint8_t* out = f.rgb.data() + size_t(y) * size_t(s.width) * 3;
            for (int32_t x = 0; x < s.width; ++x) {
                out[3 * x] = row[4 * x + 2];
                out[3 * x + 1] = row[4 * x + 1];
                out[3 * x + 2] = row[4 * x];
            }
        }
        take(f);
    }
}

double meanLevel(const RgbFrame& f)
{
    uint64_t sum = 0;
    for (uint8_t v : f.rgb)
        sum += v;
    return f.rgb.empty() ? 0 : double(sum) / double(f.rgb.size());
}

bool readPpm(const std::string& file, RgbFrame& out)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return false;
    int maxval = 0;
    const bool ok = std::fscanf(f, "P6 %d %d %d", &out.width, &out.height, &maxval) == 3 && maxval == 255 &&
                    std::fgetc(f) == '\n';
    if (ok) {
        out.rgb.resize(size_t(out.width) * size_t(out.height) * 3);
        if (std::fread(out.rgb.data(), 1, out.rgb.size(), f) != out.rgb.size())
            out.rgb.clear();
    }
    std::fclose(f);
    return ok && !out.rgb.empty();
}

bool readPng(const std::string& file, RgbFrame& out)
{
    out = ffmpegImage(file);
    return !out.rgb.empty();
}

const RgbFrame* frameStartingAt(const std::vector<RgbFrame>& frames, int64_t startMs)
{
    for (const RgbFrame& f : frames)
        if (std::llabs(f.startMs - startMs) <= 1)
            return &f;
    return nullptr;
}

Difference compare(const RgbFrame& a, const RgbFrame& b)
{
    Difference d;
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return d;
    uint64_t sum = 0;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const int v = std::abs(int(a.rgb[i]) - int(b.rgb[i]));
        sum += uint64_t(v);
        worst = std::max(worst, v);
    }
    d.mean = double(sum) / double(a.rgb.size());
    d.max = worst;
    return d;
}

} // namespace quillet::player::test
