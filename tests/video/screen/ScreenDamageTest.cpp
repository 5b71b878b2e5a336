// Damaged input for the screen decoder: every kind of bad data names its
// reason and offset, and no damage makes it read outside what it was given
// (this suite runs under AddressSanitizer in the Asan build).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "tests/video/screen/DesktopScene.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet::test {
namespace {

// 64 x 32 pixels: 32 blocks in 8 code bytes, capacity 32.
constexpr Rect kAll{0, 0, 63, 31};

std::vector<uint8_t> stream(std::initializer_list<uint8_t> codes, std::initializer_list<uint8_t> payload)
{
    std::vector<uint8_t> s = {0, 0}; // ring position 0
    std::vector<uint8_t> c(codes);
    c.resize(8, 0);
    s.insert(s.end(), c.begin(), c.end());
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

struct Outcome {
    int result;
    ScreenCodecError error;
};

Outcome decodeOnce(const std::vector<uint8_t>& region)
{
    ScreenDecoder decoder;
    EXPECT_EQ(decoder.init(64, 32), 1);
    // Exactly sized, so that a read past the end shows under the sanitizer.
    std::vector<uint8_t> exact(region);
    const int r = decoder.decode_region(kAll, exact.data(), exact.size());
    return Outcome{r, decoder.last_error()};
}

void expectError(const std::vector<uint8_t>& region, ScreenDataPart part, size_t offset, const std::string& reason)
{
    const Outcome o = decodeOnce(region);
    EXPECT_EQ(o.result, 0);
    ASSERT_NE(o.error.reason, nullptr);
    EXPECT_EQ(o.error.reason, reason);
    EXPECT_EQ(int(o.error.part), int(part));
    EXPECT_EQ(o.error.offset, offset);
}

TEST(ScreenDamage, BadReferencesNameTheirOffset)
{
    // The first block's payload starts right after the 2 + 8 header bytes.
    expectError(craft_region(stream({0x40}, {0x40, 0x9C})), ScreenDataPart::BlockStream, 10,
                "a slot number is not below the cache capacity");
    expectError(craft_region(stream({0x40}, {3, 0})), ScreenDataPart::BlockStream, 10,
                "a slot number points at a block not stored since the key frame");
    expectError(craft_region(stream({0xC0}, {9})), ScreenDataPart::BlockStream, 10, "a history index is 8 or more");
    expectError(craft_region(stream({0xC0}, {0})), ScreenDataPart::BlockStream, 10,
                "a history index points at an empty entry or a block overwritten since");
    // Raw block 0, then block 1 as a reference to the slot of block 0: fine;
    // block 2 as a reference past it is not.
    std::vector<uint8_t> raw(96, 77);
    std::vector<uint8_t> s = stream({0x14}, {});
    s.insert(s.end(), raw.begin(), raw.end());
    s.push_back(0);
    s.push_back(0);
    s.push_back(1);
    s.push_back(0);
    expectError(craft_region(s), ScreenDataPart::BlockStream, 2 + 8 + 96 + 2,
                "a slot number points at a block not stored since the key frame");
}

TEST(ScreenDamage, LengthsAndStreamsThatDoNotAddUp)
{
    expectError({0x02}, ScreenDataPart::Region, 0, "the region is shorter than its 2-byte DCT length");
    expectError({0x01, 0x00, 0x78}, ScreenDataPart::Region, 0, "the DCT length field is below 2");
    expectError({0x10, 0x00, 0x78, 0x9C}, ScreenDataPart::Region, 0, "the DCT part runs past the end of the region");
    // zlib notices a bad header once it has read it.
    const Outcome badZlib = decodeOnce({0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(badZlib.result, 0);
    EXPECT_EQ(std::string(badZlib.error.reason), "bad zlib data");
    EXPECT_GE(badZlib.error.offset, 2u);
    EXPECT_LE(badZlib.error.offset, 6u);
    expectError(craft_region({0, 0, 0}), ScreenDataPart::BlockStream, 3, "the block stream ends inside its block codes");
    expectError(craft_region(stream({}, {})), ScreenDataPart::BlockStream, 10,
                "a raw block runs past the end of the block stream");
    expectError(craft_region(stream({0x40}, {0})), ScreenDataPart::BlockStream, 10,
                "a slot number runs past the end of the block stream");
    std::vector<uint8_t> position = stream({}, {});
    position[0] = 40; // ring position 40 of 32
    expectError(craft_region(position), ScreenDataPart::BlockStream, 0, "the cache position is not below the capacity");

    // One raw block, 31 references to it, and a byte too many.
    std::vector<uint8_t> extra = stream({0x15, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, {});
    extra.insert(extra.end(), 96, 40);
    for (int i = 0; i < 31; ++i) {
        extra.push_back(0);
        extra.push_back(0);
    }
    ASSERT_EQ(decodeOnce(craft_region(extra)).result, 1);
    extra.push_back(0);
    expectError(craft_region(extra), ScreenDataPart::BlockStream, 10 + 96 + 62,
                "the block stream is longer than its codes need");

    // A DCT block, then raw ones; the DCT part is a lone 0xFF.
    std::vector<uint8_t> dct = stream({0x80}, {});
    dct.insert(dct.end(), 31 * 96, 5);
    expectError(craft_region(dct, {0xFF}), ScreenDataPart::Region, 2,
                "a 0xFF byte in the DCT part is not followed by 0x00");
    expectError(craft_region(dct, {0x00}), ScreenDataPart::Region, 3, "the DCT part ends inside a macroblock");
}

// A recording of the scene: per frame, its side data and region records.
struct Recording {
    struct Frame {
        bool key = false;
        std::vector<uint8_t> side;
        std::vector<std::pair<Rect, std::vector<uint8_t>>> regions;
    };
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Frame> frames;
};

Recording record(int32_t width, int32_t height, int frames)
{
    Recording rec;
    rec.width = width;
    rec.height = height;
    DesktopScene scene(width, height, 32);
    ScreenCodec coder;
    EXPECT_EQ(coder.init(width, height, 32), 1);
    std::vector<uint8_t> side(coder.side_data_capacity());
    for (int t = 0; t < frames; ++t) {
        ScreenFrame f = scene.draw(t);
        Recording::Frame out;
        out.key = t % 8 == 0;
        if (out.key) {
            scene.fullTiles(f);
            coder.reset();
        }
        coder.natural = 0;
        for (int i = 0; i < f.tileCount; ++i)
            if (f.tiles[i].isDirty())
                coder.natural_test(i, f.tiles[i].dirty, f);
        for (int i = 0; i < f.tileCount; ++i) {
            if (!f.tiles[i].isDirty())
                continue;
            std::vector<uint8_t> bytes(coder.region_capacity(f.tiles[i].dirty));
            bytes.resize(coder.code_region(f, bytes.data(), bytes.size(), f.tiles[i].dirty));
            EXPECT_GT(bytes.size(), 0u);
            out.regions.emplace_back(f.tiles[i].dirty, std::move(bytes));
        }
        side.resize(coder.side_data_capacity());
        side.resize(coder.side_data(side.data(), side.size(), 0));
        out.side = side;
        rec.frames.push_back(std::move(out));
    }
    return rec;
}

// Decodes a recording; returns the number of failed calls. Every failure
// must say why, and a region failure must point inside the data.
int play(const Recording& rec)
{
    ScreenDecoder decoder;
    EXPECT_EQ(decoder.init(rec.width, rec.height), 1);
    int failures = 0;
    for (const Recording::Frame& f : rec.frames) {
        if (f.key)
            decoder.reset();
        if (!f.side.empty()) {
            std::vector<uint8_t> exact(f.side);
            if (!decoder.decode_side_data(exact.data(), exact.size())) {
                ++failures;
                EXPECT_NE(decoder.last_error().reason, nullptr);
            }
        }
        for (const auto& [rect, bytes] : f.regions) {
            std::vector<uint8_t> exact(bytes);
            if (!decoder.decode_region(rect, exact.data(), exact.size())) {
                ++failures;
                const ScreenCodecError& e = decoder.last_error();
                EXPECT_NE(e.reason, nullptr);
                if (e.part == ScreenDataPart::Region) {
                    EXPECT_LE(e.offset, bytes.size());
                }
            }
        }
    }
    return failures;
}

TEST(ScreenDamage, DamagedRecordingsFailCleanly)
{
    const Recording good = record(320, 240, 12);
    ASSERT_EQ(play(good), 0);
    const Recording video = record(640, 480, 3);
    ASSERT_EQ(play(video), 0);
    ASSERT_FALSE(video.frames[0].side.empty());

    std::mt19937 rng(21);
    int failing = 0;
    for (int round = 0; round < 300; ++round) {
        Recording bad = round % 10 == 0 ? video : good;
        Recording::Frame& f = bad.frames[rng() % bad.frames.size()];
        const int kind = int(rng() % 6);
        if (kind == 5 && !f.side.empty()) {
            f.side.resize(rng() % f.side.size()); // cut side data
        } else if (f.regions.empty()) {
            continue;
        } else {
            auto& [rect, bytes] = f.regions[rng() % f.regions.size()];
            switch (kind) {
            case 0: // cut short
                bytes.resize(rng() % bytes.size());
                break;
            case 1: // a flipped byte anywhere
                bytes[rng() % bytes.size()] ^= uint8_t(1u << (rng() % 8));
                break;
            case 2: // a DCT length pointing anywhere
                bytes[0] = uint8_t(rng());
                bytes[1] = uint8_t(rng());
                break;
            case 3: // a rectangle that does not match the data
                rect.right += 8 * int32_t(1 + rng() % 4);
                break;
            default: // a region lost
                f.regions.erase(f.regions.begin());
                break;
            }
        }
        failing += play(bad) > 0;
    }
    // Most damage is noticed; what is not (a flipped raw sample) only changes pixels.
    EXPECT_GT(failing, 150);
}

TEST(ScreenDamage, AfterAFailureDecodingWaitsForTheNextKeyFrame)
{
    const Recording rec = record(320, 240, 10);
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(320, 240), 1);
    const auto& first = rec.frames[0].regions[0];
    std::vector<uint8_t> cut(first.second.begin(), first.second.begin() + ptrdiff_t(first.second.size() / 2));
    EXPECT_EQ(decoder.decode_region(first.first, cut.data(), cut.size()), 0);
    const auto& second = rec.frames[0].regions[1];
    EXPECT_EQ(decoder.decode_region(second.first, second.second.data(), second.second.size()), 0);
    EXPECT_EQ(std::string(decoder.last_error().reason),
              "an earlier region failed; decoding resumes at the next key frame");
    // Key frame 8 decodes on its own.
    decoder.reset();
    for (const auto& [rect, bytes] : rec.frames[8].regions)
        EXPECT_EQ(decoder.decode_region(rect, bytes.data(), bytes.size()), 1) << decoder.last_error().reason;
}

TEST(ScreenDamage, AMissingRegionIsNoticedByTheRingPosition)
{
    const Recording rec = record(320, 240, 2);
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(320, 240), 1);
    const auto& regions = rec.frames[0].regions;
    ASSERT_GE(regions.size(), 3u);
    EXPECT_EQ(decoder.decode_region(regions[0].first, regions[0].second.data(), regions[0].second.size()), 1);
    EXPECT_EQ(decoder.decode_region(regions[2].first, regions[2].second.data(), regions[2].second.size()), 0);
    EXPECT_EQ(int(decoder.last_error().part), int(ScreenDataPart::BlockStream));
    EXPECT_EQ(decoder.last_error().offset, 0u);
}

TEST(ScreenDamage, SideDataThatDoesNotDecodeLeavesTheRegionsWorking)
{
    const Recording rec = record(640, 480, 2);
    ASSERT_FALSE(rec.frames[0].side.empty());
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(640, 480), 1);
    std::vector<uint8_t> garbage(rec.frames[0].side.size(), 0x5A);
    EXPECT_EQ(decoder.decode_side_data(garbage.data(), garbage.size()), 0);
    EXPECT_EQ(int(decoder.last_error().part), int(ScreenDataPart::SideData));
    for (const auto& [rect, bytes] : rec.frames[0].regions)
        EXPECT_EQ(decoder.decode_region(rect, bytes.data(), bytes.size()), 1) << decoder.last_error().reason;
}

} // namespace
} // namespace quillet::test
