#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "mux/swf/SwfCharacter.h"
#include "mux/swf/SwfWriter.h"
#include "tests/mux/SwfTestReader.h"

namespace quillet {
namespace {

using test::SwfBitReader;
using test::SwfFile;

std::string tempPath(const char* name)
{
    return "/tmp/quillet-swf-" + std::to_string(getpid()) + "-" + name + ".swf";
}

std::vector<uint8_t> tagBytes(const SwfFile& f, size_t i)
{
    const test::SwfTag& t = f.tags[i];
    return std::vector<uint8_t>(f.bytes.begin() + t.offset, f.bytes.begin() + t.offset + t.headerBytes + t.body.size());
}

TEST(SwfRecords, SignedFieldSizes)
{
    // 38400 twips (1920 pixels) needs 16 bits plus the sign.
    SwfRect r{0, 1920 * 20, 0, 1080 * 20};
    EXPECT_EQ(r.nbits(), 17);
    EXPECT_EQ(r.byteSize(), 10u); // 5 + 4 x 17 bits
    EXPECT_EQ(SwfRect{}.nbits(), 1);
    // An exact power of two does not fit the bare rule's width.
    EXPECT_EQ(swfSignedBits(32768), 17);
    EXPECT_EQ(swfSignedBits(32767), 16);
    EXPECT_EQ(swfUnsignedBits(1), 1);
    EXPECT_EQ(swfUnsignedBits(2), 2);
}

TEST(SwfRecords, MatrixRoundTrips)
{
    struct Case {
        SwfMatrix m;
        int translateBits;
    } cases[] = {
        {SwfMatrix{20 << 16, 20 << 16, 0, 0, 0, 0}, 0},
        {SwfMatrix{0, 0, 0, 0, 300, -20}, 10},
        {SwfMatrix{0, 0, 0, 0, -1 << 20, 5}, 22},
        {SwfMatrix{16 << 16, 1 << 15, 0, 0, 40, 40}, 7},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out;
        {
            SwfBitWriter w(out);
            c.m.write(w);
        }
        SwfBitReader r{out.data()};
        const test::SwfMatrixRead m = test::readMatrix(r);
        EXPECT_EQ(m.hasScale, c.m.scaleX != 0 || c.m.scaleY != 0);
        EXPECT_EQ(m.scaleX, c.m.scaleX);
        EXPECT_EQ(m.scaleY, c.m.scaleY);
        EXPECT_EQ(m.translateBits, c.translateBits);
        EXPECT_EQ(m.translateX, c.m.translateX);
        EXPECT_EQ(m.translateY, c.m.translateY);
        EXPECT_EQ(r.bytes(), out.size());
    }
}

TEST(SwfWriter, HeaderMatchesTheFileAtClose)
{
    const std::string path = tempPath("header");
    SwfWriter w;
    ASSERT_EQ(w.Open(path.c_str(), 1920.f, 1080.f, 12), 1);
    EXPECT_EQ(w.Open(path.c_str(), 1920.f, 1080.f, 12), 0) << "a second Open while open must fail";
    w.SetBackgroundColor(0x000A0A0A);
    SwfShape s(1, 0, 0, 32, 32, 310);
    s.addSolidFill(0xFF0000FF);
    s.startOutline(1, 0, 0, 0);
    s.addEdge(32, 0);
    s.addEdge(0, 32);
    s.addEdge(-32, 0);
    s.addEdge(0, -32);
    w.DefineCharacter(s, 310, true);
    for (int i = 0; i < 7; ++i)
        w.ShowFrame();
    ASSERT_EQ(w.Close(), 1);

    SwfFile f;
    ASSERT_TRUE(f.load(path));
    std::remove(path.c_str());
    EXPECT_EQ(f.signature, "FWS");
    EXPECT_EQ(f.version, 9);
    EXPECT_EQ(f.length, f.bytes.size());
    EXPECT_EQ(f.rectBits, 17);
    EXPECT_EQ(f.xMax, 38400);
    EXPECT_EQ(f.yMax, 21600);
    EXPECT_EQ(f.frameRate, 12 * 256);
    EXPECT_EQ(f.frameCount, 7);
    EXPECT_EQ(f.count(kSwfTagShowFrame), 7);
    ASSERT_TRUE(f.wellFormed);
    EXPECT_EQ(f.tags[0].code, kSwfTagFileAttributes);
    EXPECT_EQ(tagBytes(f, 0), (std::vector<uint8_t>{0x44, 0x11, 0x08, 0, 0, 0}));
    EXPECT_EQ(tagBytes(f, 1), (std::vector<uint8_t>{0x43, 0x02, 10, 10, 10}));
    ASSERT_EQ(f.tags[3].code, kSwfTagPlaceObject2);
    const test::SwfPlacement p = test::readPlacement(f.tags[3]);
    EXPECT_EQ(p.flags, 0x06);
    EXPECT_EQ(p.depth, 310);
    EXPECT_EQ(p.id, 1);
}

TEST(SwfWriter, CountsBytesWithoutAFile)
{
    SwfWriter w;
    EXPECT_EQ(w.BytesAfterHeader(), 0u);
    w.ShowFrame();
    w.RemoveObject(4);
    w.SetBackgroundColor(0);
    const uint8_t mp3[10] = {};
    w.WriteSoundBlock(mp3, sizeof mp3, 551);
    w.WriteSoundStreamHead(918);
    // 2 + 8 + 5 + (6 + 4 + 10) + 8
    EXPECT_EQ(w.BytesAfterHeader(), 43u);
    EXPECT_EQ(w.FrameCount(), 1);
    w.WriteHeader();
    EXPECT_EQ(w.BytesAfterHeader(), 6u);
}

TEST(SwfWriter, TagsInTheirLongAndShortForms)
{
    const std::string path = tempPath("tags");
    SwfWriter w;
    ASSERT_EQ(w.Open(path.c_str(), 320.f, 240.f, 10), 1);
    w.RemoveObject(0x0203);
    w.WriteSoundStreamHead(1102);
    const uint8_t mp3[3] = {0xFF, 0xF3, 0x10};
    w.WriteSoundBlock(mp3, sizeof mp3, 1102);
    const uint8_t jpeg[4] = {0xFF, 0xD8, 0xFF, 0xD9};
    SwfBitmap b(7, jpeg, sizeof jpeg, kSwfTagDefineBitsJpeg2, 0, 16, 16);
    w.DefineCharacter(b, 3, true); // bitmaps are never placed
    const uint8_t zdata[2] = {0x78, 0x9C};
    SwfBitmap l(8, zdata, sizeof zdata, kSwfTagDefineBitsLossless2, SwfBitmap::kFormat32Bit, 32, 16);
    w.DefineCharacter(l, 0, false);
    ASSERT_EQ(w.Close(), 1);
    SwfFile f;
    ASSERT_TRUE(f.load(path));
    std::remove(path.c_str());
    ASSERT_TRUE(f.wellFormed);
    ASSERT_EQ(f.tags.size(), 7u);
    EXPECT_EQ(tagBytes(f, 1), (std::vector<uint8_t>{0x3F, 0x07, 2, 0, 0, 0, 0x03, 0x02}));
    EXPECT_EQ(tagBytes(f, 2), (std::vector<uint8_t>{0x46, 0x0B, 0x06, 0x26, 0x4E, 0x04, 0, 0}));
    EXPECT_EQ(tagBytes(f, 3), (std::vector<uint8_t>{0xFF, 0x04, 7, 0, 0, 0, 0x4E, 0x04, 0, 0, 0xFF, 0xF3, 0x10}));
    EXPECT_EQ(tagBytes(f, 4),
              (std::vector<uint8_t>{0x7F, 0x05, 10, 0, 0, 0, 7, 0, 0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xD9}));
    EXPECT_EQ(tagBytes(f, 5), (std::vector<uint8_t>{0x3F, 0x09, 9, 0, 0, 0, 8, 0, 5, 32, 0, 16, 0, 0x78, 0x9C}));
    EXPECT_EQ(f.tags[6].code, kSwfTagEnd);
}

TEST(SwfWriter, ShapeWithBitmapFillAndLine)
{
    SwfShape s(5, 0, 0, 67, 35, 2);
    s.addBitmapFill(4, SwfShape::kFillRepeatingBitmap, 64, 32, 2, 2, 64, 32);
    s.addLineStyle(1, 0x080012B1);
    s.startOutline(1, 1, 0, 0);
    s.addEdge(67, 0);
    s.addEdge(0, 35);
    s.addEdge(-67, 0);
    s.addEdge(0, -35);
    const std::vector<uint8_t> tag(s.data(), s.data() + s.length());
    ASSERT_GE(tag.size(), 6u);
    EXPECT_EQ(tag[0] | tag[1] << 8, (32 << 6) | 0x3F);
    const uint32_t len = tag[2] | tag[3] << 8 | tag[4] << 16 | uint32_t(tag[5]) << 24;
    EXPECT_EQ(len, tag.size() - 6);
    const uint8_t* b = tag.data() + 6;
    EXPECT_EQ(b[0] | b[1] << 8, 5);
    SwfBitReader r{b + 2};
    const int n = int(r.u(5));
    EXPECT_EQ(r.s(n), 0);
    EXPECT_EQ(r.s(n), 67 * 20);
    EXPECT_EQ(r.s(n), 0);
    EXPECT_EQ(r.s(n), 35 * 20);
    size_t at = 2 + r.bytes();
    EXPECT_EQ(b[at], 1);    // one fill
    EXPECT_EQ(b[at + 1], 0x40);
    EXPECT_EQ(b[at + 2] | b[at + 3] << 8, 4);
    SwfBitReader m{b + at + 4};
    const test::SwfMatrixRead fill = test::readMatrix(m);
    EXPECT_EQ(fill.scaleX, 20 << 16); // drawn at its own size
    EXPECT_EQ(fill.translateX, 40);
    at += 4 + m.bytes();
    EXPECT_EQ(b[at], 1); // one line style
    EXPECT_EQ(b[at + 1] | b[at + 2] << 8, 20);
    EXPECT_EQ((std::vector<uint8_t>(b + at + 3, b + at + 7)), (std::vector<uint8_t>{0x08, 0x00, 0x12, 0xB1}));
    EXPECT_EQ(b[at + 7], 0x11); // one bit each for the fill and line indices
    // The shape records: a style change with move-to (0, 0), fill 1, line 1,
    // four straight edges that close the outline, end of shape.
    SwfBitReader sr{b + at + 8};
    EXPECT_EQ(sr.u(6), 0b001101u);
    const int mb = int(sr.u(5));
    EXPECT_EQ(sr.s(mb), 0);
    EXPECT_EQ(sr.s(mb), 0);
    EXPECT_EQ(sr.u(1), 1u);
    EXPECT_EQ(sr.u(1), 1u);
    int32_t x = 0, y = 0;
    for (int e = 0; e < 4; ++e) {
        ASSERT_EQ(sr.u(2), 3u) << "edge " << e << " is a straight edge";
        const int nb = int(sr.u(4)) + 2;
        if (sr.u(1)) {
            x += sr.s(nb);
            y += sr.s(nb);
        } else if (sr.u(1)) {
            y += sr.s(nb);
        } else {
            x += sr.s(nb);
        }
        if (e == 0) {
            EXPECT_EQ(x, 67 * 20);
        }
    }
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(sr.u(6), 0u);
    EXPECT_EQ(at + 8 + sr.bytes(), len);
}

TEST(SwfWriter, RefreshLeavesAPlayableFileOnDisk)
{
    const std::string path = tempPath("refresh");
    SwfWriter w;
    ASSERT_EQ(w.Open(path.c_str(), 320.f, 240.f, 12), 1);
    w.SetBackgroundColor(0);
    w.ShowFrame();
    w.ShowFrame();
    ASSERT_EQ(w.Refresh(), 1);
    // What a killed recording would leave: the file as it stands, plus the
    // End tag its header already counts.
    SwfFile f;
    ASSERT_TRUE(f.load(path));
    EXPECT_EQ(f.length, f.bytes.size() + 2);
    EXPECT_EQ(f.frameCount, 2);
    EXPECT_EQ(f.count(kSwfTagShowFrame), 2);
    w.ShowFrame();
    ASSERT_EQ(w.Close(), 1);
    SwfFile g;
    ASSERT_TRUE(g.load(path));
    std::remove(path.c_str());
    EXPECT_TRUE(g.wellFormed);
    EXPECT_EQ(g.length, g.bytes.size());
    EXPECT_EQ(g.frameCount, 3);
}

TEST(SwfWriter, OpenFailsWhereNoFileCanBeMade)
{
    SwfWriter w;
    EXPECT_EQ(w.Open("/nonexistent-folder/x.swf", 320.f, 240.f, 12), 0);
    EXPECT_FALSE(w.IsOpen());
}

} // namespace
} // namespace quillet
