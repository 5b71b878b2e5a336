// The screen codec on a sequence of raw frames, coded as the AVI output
// codes them and decoded again, with bytes and CPU time per frame. The
// side-by-side run against other lossless screen coders is
// scripts/bench-screen-codec.sh, which calls this program.
//
//   screen_codec_compare scene WxH FRAMES OUT.raw
//       writes the scripted desktop (moving window, menu, scrolling text,
//       video-like picture) as raw top-down bgr0 frames
//   screen_codec_compare code WxH FPS IN.raw [DEPTH]
//       codes the raw bgr0 frames at screen depth 32 (default), 24 or 16
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tests/video/screen/DesktopScene.h"
#include "video/screen/RegionPieces.h"
#include "video/screen/ScreenCodec.h"
#include "video/screen/ScreenDecoder.h"

namespace {

using namespace quillet;

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool parseSize(const char* s, int32_t& w, int32_t& h) { return std::sscanf(s, "%dx%d", &w, &h) == 2 && w > 0 && h > 0; }

int writeScene(int32_t w, int32_t h, int frames, const char* path)
{
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot create %s\n", path);
        return 1;
    }
    test::DesktopScene scene(w, h, 32);
    for (int t = 0; t < frames; ++t) {
        const ScreenFrame& f = scene.draw(t);
        for (int32_t y = 0; y < h; ++y)
            std::fwrite(f.rowFromTop(y), 1, size_t(w) * 4, out);
    }
    const bool ok = std::fclose(out) == 0;
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", path);
    return ok ? 0 : 1;
}

// The frame grabber's part: the changed pixels of each of 16 tiles as one
// rectangle, left and top down to 16, right and bottom up to 8k + 7.
void markChanges(const std::vector<uint8_t>& now, const std::vector<uint8_t>& before, bool all, int32_t w, int32_t h,
                 ScreenFrame& f)
{
    Rect tiles[kMaxTiles];
    const int n = test::tile_grid(w, h, tiles);
    f.tileCount = uint8_t(n);
    for (int i = 0; i < n; ++i) {
        const Rect& t = tiles[i];
        int32_t l = INT32_MAX, top = INT32_MAX, r = -1, b = -1;
        for (int32_t y = t.top; y <= t.bottom; ++y) {
            const uint32_t* a = reinterpret_cast<const uint32_t*>(now.data() + size_t(y) * size_t(w) * 4);
            const uint32_t* p = reinterpret_cast<const uint32_t*>(before.data() + size_t(y) * size_t(w) * 4);
            for (int32_t x = t.left; x <= t.right; ++x)
                if (all || a[x] != p[x]) {
                    l = std::min(l, x);
                    r = std::max(r, x);
                    top = std::min(top, y);
                    b = std::max(b, y);
                }
        }
        f.tiles[i] = FrameTile{t, r >= 0 ? Rect{l / 16 * 16, top / 16 * 16, std::min(t.right, r | 7), std::min(t.bottom, b | 7)}
                                         : Rect{}};
    }
}

// Top-down bgr0 to a bottom-up frame of the chosen depth (5-5-5 at 16 bits).
void toFrame(const std::vector<uint8_t>& raw, int32_t w, int32_t h, int depth, std::vector<uint8_t>& bits)
{
    const int bytes = depth / 8;
    bits.resize(size_t(w) * size_t(h) * size_t(bytes));
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = raw.data() + size_t(y) * size_t(w) * 4;
        uint8_t* d = bits.data() + size_t(h - 1 - y) * size_t(w) * size_t(bytes);
        if (depth == 32) {
            std::memcpy(d, s, size_t(w) * 4);
            continue;
        }
        for (int32_t x = 0; x < w; ++x, s += 4, d += bytes) {
            if (depth == 24) {
                std::memcpy(d, s, 3);
            } else {
                const uint32_t v = uint32_t(s[2] >> 3) << 10 | uint32_t(s[1] >> 3) << 5 | uint32_t(s[0] >> 3);
                d[0] = uint8_t(v);
                d[1] = uint8_t(v >> 8);
            }
        }
    }
}

struct CodedFrame {
    bool key = false;
    std::vector<uint8_t> side;
    std::vector<std::pair<Rect, std::vector<uint8_t>>> regions;
};

int codeFile(int32_t w, int32_t h, int fps, const char* path, int depth)
{
    FILE* in = std::fopen(path, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    ScreenCodec coder;
    if (!coder.init(w, h, depth, ScreenCodec::kCodeMode)) {
        std::fprintf(stderr, "the screen codec cannot be set up for %dx%d at %d bits\n", w, h, depth);
        std::fclose(in);
        return 1;
    }
    const size_t frameBytes = size_t(w) * size_t(h) * 4;
    std::vector<uint8_t> raw(frameBytes), previous(frameBytes), bits, buffer, side(coder.side_data_capacity());
    std::vector<CodedFrame> coded;
    double codeCpu = 0;
    size_t packetTotal = 0, sideTotal = 0, keyFrames = 0;
    size_t bytesSinceKey = 0;
    int framesSinceKey = 0;
    ScreenFrame frame;
    frame.width = w;
    frame.height = h;
    frame.bitsPerPixel = uint8_t(depth);
    frame.stride = w * (depth / 8);
    for (int index = 0; std::fread(raw.data(), 1, frameBytes, in) == frameBytes; ++index) {
        // The recorder's key frame rule: every 20 s unless little was coded, always after 5 MiB or 5 min.
        bool key = index == 0;
        if (!key) {
            ++framesSinceKey;
            if (bytesSinceKey > 0x500000 || framesSinceKey >= fps * 300)
                key = true;
            else if (!(bytesSinceKey > 0 && bytesSinceKey <= 512000))
                key = framesSinceKey >= fps * 20;
        }
        if (key) {
            framesSinceKey = 0;
            bytesSinceKey = 0;
            ++keyFrames;
        }
        markChanges(raw, previous, key, w, h, frame);
        toFrame(raw, w, h, depth, bits);
        frame.bits = bits.data();
        frame.imageSize = uint32_t(bits.size());
        std::swap(raw, previous);

        CodedFrame out;
        out.key = key;
        size_t packet = 1;
        const double start = cpuSeconds();
        if (key)
            coder.reset();
        coder.natural = 0;
        for (int i = 0; i < frame.tileCount; ++i)
            if (frame.tiles[i].isDirty())
                coder.natural_test(i, frame.tiles[i].dirty, frame);
        for (int i = 0; i < frame.tileCount; ++i) {
            if (!frame.tiles[i].isDirty())
                continue;
            code_region_pieces(coder, frame, frame.tiles[i].dirty, 65500, buffer,
                               [&](const Rect& r, const uint8_t* d, size_t n) {
                                   out.regions.emplace_back(r, std::vector<uint8_t>(d, d + n));
                                   packet += 10 + n;
                               });
        }
        const size_t s = coder.side_data(side.data(), side.size(), uint32_t(packet / 1000));
        codeCpu += cpuSeconds() - start;
        out.side.assign(side.begin(), side.begin() + ptrdiff_t(s));
        // Side data goes in chunks of at most 64000 bytes, each behind a 10-byte header.
        packet += s + (s > 0 ? 10 * (s / 64000 + 1) : 0);
        sideTotal += s;
        packetTotal += packet;
        bytesSinceKey += packet;
        coded.push_back(std::move(out));
    }
    std::fclose(in);
    if (coded.empty()) {
        std::fprintf(stderr, "%s holds no complete %dx%d frame\n", path, w, h);
        return 1;
    }

    ScreenDecoder decoder;
    if (!decoder.init(w, h)) {
        std::fprintf(stderr, "the decoder cannot be set up\n");
        return 1;
    }
    int errors = 0;
    const double start = cpuSeconds();
    for (const CodedFrame& f : coded) {
        if (f.key)
            decoder.reset();
        if (!f.side.empty())
            errors += decoder.decode_side_data(f.side.data(), f.side.size()) ? 0 : 1;
        for (const auto& [r, d] : f.regions)
            errors += decoder.decode_region(r, d.data(), d.size()) ? 0 : 1;
    }
    const double decodeCpu = cpuSeconds() - start;
    const double n = double(coded.size());
    const double decodeMs = decodeCpu * 1000 / n;
    std::printf("screen-codec depth=%d frames=%zu keyframes=%zu bytes/frame=%.0f (side data %.0f) code-cpu-ms/frame=%.2f "
                "decode-cpu-ms/frame=%.2f decode-realtime-x@%dfps=%.1f decode-errors=%d\n",
                depth, coded.size(), keyFrames, double(packetTotal) / n, double(sideTotal) / n, codeCpu * 1000 / n,
                decodeMs, fps, decodeMs > 0 ? (1000.0 / fps) / decodeMs : 0.0, errors);
    return errors == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    int32_t w = 0, h = 0;
    if (argc == 5 && std::strcmp(argv[1], "scene") == 0 && parseSize(argv[2], w, h))
        return writeScene(w, h, std::atoi(argv[3]), argv[4]);
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "code") == 0 && parseSize(argv[2], w, h)) {
        const int depth = argc == 6 ? std::atoi(argv[5]) : 32;
        return codeFile(w, h, std::max(1, std::atoi(argv[3])), argv[4], depth);
    }
    std::fprintf(stderr,
                 "usage: %s scene WxH FRAMES OUT.raw\n"
                 "       %s code WxH FPS IN.raw [DEPTH]\n",
                 argv[0], argv[0]);
    return 2;
}
