// Writes fuzz seeds for the screen decoder: short recordings of the scripted
// desktop in the fuzz input format, into the folder given as the argument.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/video/screen/DesktopScene.h"
#include "video/screen/ScreenCodec.h"

namespace {

void le16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

std::vector<uint8_t> recording(int32_t width, int32_t height, int frames)
{
    using namespace quillet;
    std::vector<uint8_t> out;
    le16(out, uint32_t(width - 1));
    le16(out, uint32_t(height - 1));
    test::DesktopScene scene(width, height, 32);
    ScreenCodec coder;
    if (!coder.init(width, height, 32))
        return {};
    std::vector<uint8_t> buffer;
    for (int t = 0; t < frames; ++t) {
        ScreenFrame f = scene.draw(t);
        if (t % 4 == 0) {
            scene.fullTiles(f);
            coder.reset();
            out.push_back(2);
        }
        coder.natural = 0;
        for (int i = 0; i < f.tileCount; ++i)
            coder.natural_test(i, f.tiles[i].dirty, f);
        std::vector<std::vector<uint8_t>> regions;
        for (int i = 0; i < f.tileCount; ++i) {
            const Rect r = f.tiles[i].dirty;
            if (!f.tiles[i].isDirty())
                continue;
            buffer.resize(coder.region_capacity(r));
            const size_t n = coder.code_region(f, buffer.data(), std::min<size_t>(buffer.size(), 65535), r);
            if (n == 0)
                continue;
            std::vector<uint8_t> rec;
            le16(rec, uint32_t(r.left));
            le16(rec, uint32_t(r.top));
            le16(rec, uint32_t(r.right));
            le16(rec, uint32_t(r.bottom));
            le16(rec, uint32_t(n));
            rec.insert(rec.end(), buffer.begin(), buffer.begin() + ptrdiff_t(n));
            regions.push_back(std::move(rec));
        }
        buffer.resize(coder.side_data_capacity());
        const size_t side = coder.side_data(buffer.data(), buffer.size(), 0);
        if (side > 0 && side <= 65535) {
            out.push_back(1);
            le16(out, uint32_t(side));
            out.insert(out.end(), buffer.begin(), buffer.begin() + ptrdiff_t(side));
        }
        for (const auto& rec : regions) {
            out.push_back(0);
            out.insert(out.end(), rec.begin(), rec.end());
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER\n", argv[0]);
        return 2;
    }
    const struct {
        int32_t w, h;
        int frames;
    } sizes[] = {{64, 48, 6}, {97, 61, 6}, {160, 120, 8}, {320, 176, 3}};
    int written = 0;
    for (const auto& s : sizes) {
        const std::vector<uint8_t> seed = recording(s.w, s.h, s.frames);
        const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(s.w) + "x" + std::to_string(s.h);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            if (f)
                std::fclose(f);
            return 1;
        }
        std::fclose(f);
        ++written;
    }
    std::printf("%d seeds in %s\n", written, argv[1]);
    return 0;
}
