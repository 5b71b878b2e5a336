// The JPEG encoder: its tables, its header segments byte for byte, and its
// files as libjpeg decodes them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zlib.h>

#include "engine/ScreenFrame.h"
#include "tests/video/ImageTestSupport.h"
#include "video/BlockCoder.h"
#include "video/JpegEncoder.h"

namespace quillet {
namespace {

using test::Bgr24Image;
using test::RgbImage;

size_t bufferFor(int w, int h) { return size_t(w) * size_t(h) * 3 + 640000 + 30000; }

std::vector<uint8_t> encode(JpegEncoder& enc, const Bgr24Image& img)
{
    std::vector<uint8_t> out(bufferFor(img.width, img.height));
    size_t size = 0;
    EXPECT_EQ(enc.encode_image(img.bytes.data(), out.data(), out.size(), img.width, img.height, &size), 1);
    out.resize(size);
    return out;
}

// Offset of the first marker FF xx at or after from, or npos.
size_t findMarker(const std::vector<uint8_t>& v, uint8_t marker, size_t from = 0)
{
    for (size_t i = from; i + 1 < v.size(); ++i)
        if (v[i] == 0xFF && v[i + 1] == marker)
            return i;
    return std::string::npos;
}

std::vector<uint8_t> segment(const std::vector<uint8_t>& v, size_t at)
{
    const size_t len = size_t(v[at + 2]) << 8 | v[at + 3];
    return std::vector<uint8_t>(v.begin() + long(at), v.begin() + long(at + 2 + len));
}

TEST(JpegTables, QualityScalesTheBaseTables)
{
    EXPECT_EQ(jpegQualityScale(75), 50);
    EXPECT_EQ(jpegQualityScale(30), 166);
    EXPECT_EQ(jpegQualityScale(1), 5000);
    EXPECT_EQ(jpegQualityScale(0), 5000);   // 0 counts as 1
    EXPECT_EQ(jpegQualityScale(250), 0);    // above 100 counts as 100
    EXPECT_EQ(jpegQualityScale(50), 100);

    JpegEncoder q75;
    EXPECT_EQ(q75.quality(), 75);
    EXPECT_EQ(q75.luma_table().entries[0], 8);
    EXPECT_EQ(q75.luma_table().divisors[0], 64); // 8 * 16384 / 2048

    JpegEncoder q1(1);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(q1.luma_table().entries[i], 255);
        EXPECT_EQ(q1.chroma_table().entries[i], 255);
    }
    JpegEncoder q100(100);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(q100.luma_table().entries[i], 1); // clamped up from 0
    q100.set_quality(30);
    EXPECT_EQ(q100.scale(), 166);
    EXPECT_EQ(q100.luma_table().entries[0], (16 * 166 + 50) / 100);
}

TEST(JpegTables, AanScaleFactorsAndZigzag)
{
    const uint16_t firstRow[8] = {16384, 22725, 21407, 19266, 16384, 12873, 8867, 4520};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(jpegAanScale()[i], firstRow[i]);
        EXPECT_EQ(jpegAanScale()[i * 8], firstRow[i]); // symmetric
    }
    EXPECT_EQ(jpegAanScale()[63], 1247);

    const uint8_t expected[16] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(kJpegZigzag[i], expected[i]);
    EXPECT_EQ(kJpegZigzag[63], 63);
    bool seen[64] = {};
    for (int i = 0; i < 64; ++i)
        seen[kJpegZigzag[i]] = true;
    for (bool s : seen)
        EXPECT_TRUE(s);
}

TEST(JpegTables, HuffmanTablesCodeEveryBaselineSymbol)
{
    for (const JpegHuffmanSpec* table : {&kJpegAcLuma, &kJpegAcChroma}) {
        JpegHuffmanCodes codes;
        ASSERT_EQ(buildHuffmanCodes(*table, codes), 1);
        EXPECT_NE(codes.length[0x00], 0); // EOB
        EXPECT_NE(codes.length[0xF0], 0); // ZRL
        for (int run = 0; run < 16; ++run)
            for (int size = 1; size <= 10; ++size)
                EXPECT_NE(codes.length[run * 16 + size], 0) << run << "/" << size;
    }
    for (const JpegHuffmanSpec* table : {&kJpegDcLuma, &kJpegDcChroma}) {
        JpegHuffmanCodes codes;
        ASSERT_EQ(buildHuffmanCodes(*table, codes), 1);
        for (int size = 0; size <= 11; ++size)
            EXPECT_NE(codes.length[size], 0);
    }
    JpegHuffmanCodes dc;
    buildHuffmanCodes(kJpegDcLuma, dc);
    EXPECT_EQ(dc.length[0], 2);
    EXPECT_EQ(dc.code[0], 0b00);
    EXPECT_EQ(dc.length[11], 9);
    EXPECT_EQ(dc.code[11], 0b111111110);

    JpegHuffmanSpec broken = kJpegDcLuma;
    broken.bits[0] = 3; // three codes of length 1 cannot exist
    EXPECT_EQ(buildHuffmanCodes(broken, dc), 0);
}

TEST(JpegHeaders, SegmentsByteForByte)
{
    JpegEncoder enc(50);
    std::vector<uint8_t> out(4096);
    ASSERT_EQ(enc.write_headers(640, 480, out.data(), out.size()), 1);
    ASSERT_EQ(enc.bytes_written(out.data()), JpegEncoder::kHeaderBytes);
    ASSERT_EQ(JpegEncoder::kHeaderBytes, 623u);
    out.resize(JpegEncoder::kHeaderBytes);

    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xD8);
    const std::vector<uint8_t> app0 = {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00,
                                       0x01, 0x01, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};
    EXPECT_EQ(segment(out, 2), app0);

    // At quality 50 the tables are the Annex K ones, here in zigzag order.
    const uint8_t lumaZigzag[64] = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                                    26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                                    56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                                    95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
    std::vector<uint8_t> dqt0 = {0xFF, 0xDB, 0x00, 0x43, 0x00};
    dqt0.insert(dqt0.end(), lumaZigzag, lumaZigzag + 64);
    EXPECT_EQ(segment(out, 20), dqt0);
    const std::vector<uint8_t> dqt1 = segment(out, 89);
    ASSERT_EQ(dqt1.size(), 69u);
    EXPECT_EQ(dqt1[4], 0x01);
    const uint8_t chromaHead[6] = {17, 18, 18, 24, 21, 24};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(dqt1[5 + i], chromaHead[i]);
    EXPECT_EQ(dqt1[68], 99);

    const std::vector<uint8_t> sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03,
                                       0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    EXPECT_EQ(segment(out, 158), sof0);

    const std::vector<uint8_t> dhtDcLuma = {0xFF, 0xC4, 0x00, 0x1F, 0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0,
                                            0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    EXPECT_EQ(segment(out, 177), dhtDcLuma);
    const std::vector<uint8_t> acLuma = segment(out, 210);
    ASSERT_EQ(acLuma.size(), 183u);
    const std::vector<uint8_t> acLumaHead = {0xFF, 0xC4, 0x00, 0xB5, 0x10, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4,
                                             0, 0, 1, 0x7D, 0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12};
    EXPECT_TRUE(std::equal(acLumaHead.begin(), acLumaHead.end(), acLuma.begin()));
    EXPECT_EQ(acLuma.back(), 0xFA);
    const std::vector<uint8_t> dcChroma = segment(out, 393);
    ASSERT_EQ(dcChroma.size(), 33u);
    EXPECT_EQ(dcChroma[4], 0x01);
    EXPECT_EQ(dcChroma[6], 3);
    const std::vector<uint8_t> acChroma = segment(out, 426);
    ASSERT_EQ(acChroma.size(), 183u);
    EXPECT_EQ(acChroma[4], 0x11);
    EXPECT_EQ(acChroma[20], 0x77);
    EXPECT_EQ(acChroma[21], 0x00); // first symbol of Annex K.6

    const std::vector<uint8_t> sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02,
                                      0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    EXPECT_EQ(segment(out, 609), sos);
}

TEST(JpegHeaders, HeaderOnlyModeMatchesTheImagePrefixAndDecodes)
{
    const Bgr24Image img = test::makePattern(32, 16, 7);
    JpegEncoder enc(80);
    const std::vector<uint8_t> full = encode(enc, img);

    // The SWF path: headers, then MCUs it assembles itself, then the end marker.
    std::vector<uint8_t> out(full.size() + 64, 0xEE);
    ASSERT_EQ(enc.write_headers(32, 16, out.data(), out.size()), 1);
    ASSERT_TRUE(std::equal(out.begin(), out.begin() + long(JpegEncoder::kHeaderBytes), full.begin()));
    const JpegKernels& k = jpegKernels();
    for (int mx = 0; mx < 2; ++mx) {
        const uint8_t* rows[16];
        for (int r = 0; r < 16; ++r)
            rows[r] = img.pixel(mx * 16, r);
        JpegMcuSamples samples;
        k.convertMcu(rows, samples);
        ASSERT_EQ(enc.encode_mcu(samples), 1);
    }
    ASSERT_EQ(enc.finish_scan(), 1);
    out.resize(enc.bytes_written(out.data()));
    EXPECT_EQ(out, full);
}

// The SWF path hands in samples of its own; wild values are clamped to the
// 8-bit range, so the scan stays decodable instead of overflowing the
// transform or running out of Huffman codes.
TEST(JpegHeaders, OutOfRangeSamplesStillGiveADecodableScan)
{
    JpegEncoder enc(100);
    std::vector<uint8_t> out(20000);
    ASSERT_EQ(enc.write_headers(16, 16, out.data(), out.size()), 1);
    JpegMcuSamples samples;
    for (int b = 0; b < 6; ++b)
        for (int i = 0; i < 64; ++i)
            samples.blocks[b][i] = b < 4 ? int16_t(((i ^ (i >> 3)) & 1) ? 30000 : -30000) : int16_t(-9);
    ASSERT_EQ(enc.encode_mcu(samples), 1);
    ASSERT_EQ(enc.finish_scan(), 1);
    test::RgbImage decoded;
    std::string err;
    ASSERT_TRUE(test::decodeJpeg(out.data(), enc.bytes_written(out.data()), decoded, err)) << err;
    // A near-grey checkerboard: dark and light pixels alternate.
    EXPECT_GT(decoded.rgb[3] - decoded.rgb[0], 100);
    EXPECT_GT(decoded.rgb[3] - decoded.rgb[6], 100);
}

// The arithmetic is fixed to the bit, so the files are too: a change in
// rounding, tables or bit packing shows up here even when a decoder still
// accepts the result.
TEST(JpegEncode, GoldenFiles)
{
    struct Golden {
        int quality;
        size_t size;
        uint32_t crc;
    };
    const Golden golden[] = {{30, 799, 0xecab5e1b}, {75, 976, 0x01895dce}, {90, 1217, 0xefee50dd}};
    const Bgr24Image img = test::makePattern(47, 33, 2026);
    for (const Golden& g : golden) {
        JpegEncoder enc(g.quality);
        const std::vector<uint8_t> file = encode(enc, img);
        EXPECT_EQ(file.size(), g.size) << g.quality;
        EXPECT_EQ(uint32_t(crc32(0, file.data(), uInt(file.size()))), g.crc) << g.quality;
    }
}

TEST(JpegEncode, RejectsBadArguments)
{
    JpegEncoder enc;
    std::vector<uint8_t> px(64 * 3), out(100000);
    size_t size = 123;
    EXPECT_EQ(enc.encode_image(nullptr, out.data(), out.size(), 8, 8, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(enc.encode_image(px.data(), nullptr, out.size(), 8, 8, &size), 0);
    EXPECT_EQ(enc.encode_image(px.data(), out.data(), out.size(), 8, 8, nullptr), 0);
    EXPECT_EQ(enc.encode_image(px.data(), out.data(), out.size(), 0, 8, &size), 0);
    EXPECT_EQ(enc.encode_image(px.data(), out.data(), out.size(), 8, -1, &size), 0);
    // A size the 16-bit frame header cannot hold would give a corrupt file.
    EXPECT_EQ(enc.write_headers(65536, 8, out.data(), out.size()), 0);
    EXPECT_EQ(enc.write_headers(8, 70000, out.data(), out.size()), 0);
    EXPECT_EQ(enc.write_headers(8, 8, out.data(), JpegEncoder::kHeaderBytes - 1), 0);
    JpegMcuSamples samples{};
    EXPECT_EQ(enc.encode_mcu(samples), 0); // no scan open after a failed header
    EXPECT_EQ(enc.finish_scan(), 0);
}

// Every capacity short of the file fails without touching a byte beyond it;
// the exact size succeeds.
TEST(JpegEncode, NeverWritesPastTheCapacity)
{
    // Noise at quality 100 gives the largest blocks the coder can produce.
    const Bgr24Image img = test::makeNoise(40, 24, 3);
    for (int quality : {90, 100}) {
        JpegEncoder enc(quality);
        const std::vector<uint8_t> full = encode(enc, img);
        ASSERT_GT(full.size(), 1000u);
        constexpr size_t kGuard = 64;
        for (size_t cap = 0; cap <= full.size(); cap += (cap + 1200 < full.size() ? 37 : 1)) {
            std::vector<uint8_t> out(cap + kGuard, 0xA5);
            size_t size = 99;
            const int rc = enc.encode_image(img.bytes.data(), out.data(), cap, img.width, img.height, &size);
            for (size_t i = cap; i < out.size(); ++i)
                ASSERT_EQ(out[i], 0xA5) << "capacity " << cap << " byte " << i;
            if (cap < full.size()) {
                ASSERT_EQ(rc, 0) << cap;
                ASSERT_EQ(size, 0u);
            } else {
                ASSERT_EQ(rc, 1);
                ASSERT_EQ(size, full.size());
                ASSERT_TRUE(std::equal(full.begin(), full.end(), out.begin()));
            }
        }
    }
}

TEST(JpegEncode, WhiteBlockIsFlat)
{
    Bgr24Image img = test::makeImage(16, 16);
    std::fill(img.bytes.begin(), img.bytes.end(), 255);
    const uint8_t* rows[16];
    for (int r = 0; r < 16; ++r)
        rows[r] = img.pixel(0, r);
    JpegMcuSamples s;
    jpegKernels().convertMcu(rows, s);
    for (int b = 0; b < 4; ++b)
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(s.blocks[b][i], 127);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(s.blocks[4][i], 0);
        ASSERT_EQ(s.blocks[5][i], 0);
    }
    JpegEncoder enc;
    RgbImage decoded;
    std::string err;
    const std::vector<uint8_t> file = encode(enc, img);
    ASSERT_TRUE(test::decodeJpeg(file.data(), file.size(), decoded, err)) << err;
    for (uint8_t v : decoded.rgb)
        ASSERT_GE(v, 253);
}

// The scan data of a picture that needs padding equals that of the picture
// padded by hand: missing columns repeat the row's last pixel, missing rows
// the last row.
TEST(JpegEncode, EdgeMcusRepeatTheLastPixelAndRow)
{
    const Bgr24Image narrow = test::makePattern(17, 16, 11);
    Bgr24Image wide = test::makeImage(32, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            std::memcpy(wide.pixel(x, y), narrow.pixel(x < 17 ? x : 16, y), 3);
    const Bgr24Image flat = test::makePattern(23, 1, 5);
    Bgr24Image tall = test::makeImage(32, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            std::memcpy(tall.pixel(x, y), flat.pixel(x < 23 ? x : 22, 0), 3);

    JpegEncoder enc(75);
    for (auto [small, padded] : {std::pair{&narrow, &wide}, std::pair{&flat, &tall}}) {
        const std::vector<uint8_t> a = encode(enc, *small);
        const std::vector<uint8_t> b = encode(enc, *padded);
        ASSERT_EQ(a.size(), b.size());
        const long header = long(JpegEncoder::kHeaderBytes);
        EXPECT_TRUE(std::equal(a.begin() + header, a.end(), b.begin() + header));
    }
}

// libjpeg reads every file back. On grey pictures (luminance only) the error
// falls as the quality rises; smooth colour survives the point-sampled
// chroma well, hard colour edges less so. Odd sizes exercise the edge
// padding and the row stride.
TEST(JpegDecode, LibjpegDecodesCloseToTheSourceAtEveryQuality)
{
    const int qualities[5] = {30, 60, 80, 90, 100};
    const double greyFloor[5] = {19.0, 25.0, 30.0, 35.0, 34.0};
    for (auto [w, h] : {std::pair{47, 33}, std::pair{640, 480}, std::pair{130, 7}, std::pair{1, 1}}) {
        const Bgr24Image desktop = test::makePattern(w, h, uint32_t(w * 31 + h));
        Bgr24Image grey = desktop, smooth = desktop;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* g = grey.pixel(x, y);
                g[0] = g[2] = g[1];
                uint8_t* c = smooth.pixel(x, y);
                c[0] = uint8_t(x / 3);
                c[1] = uint8_t(y / 2);
                c[2] = uint8_t((x + y) / 5);
            }
        double previous = 0.0;
        for (int i = 0; i < 5; ++i) {
            JpegEncoder enc(qualities[i]);
            double p[3];
            const Bgr24Image* pictures[3] = {&grey, &smooth, &desktop};
            for (int k = 0; k < 3; ++k) {
                const std::vector<uint8_t> file = encode(enc, *pictures[k]);
                RgbImage decoded;
                std::string err;
                ASSERT_TRUE(test::decodeJpeg(file.data(), file.size(), decoded, err)) << err;
                ASSERT_EQ(decoded.width, w);
                ASSERT_EQ(decoded.height, h);
                p[k] = test::psnr(test::toRgb(*pictures[k]), decoded);
            }
            const std::string where = std::to_string(w) + "x" + std::to_string(h) + " q" + std::to_string(qualities[i]);
            EXPECT_GE(p[0], greyFloor[i]) << where;
            EXPECT_GE(p[1], 40.0) << where;
            EXPECT_GE(p[2], 18.0) << where;
            if (qualities[i] <= 90 && w * h > 1) {
                EXPECT_GT(p[0], previous) << where;
                previous = p[0];
            }
        }
    }
}

// Pure noise at quality 100 drives the coefficients to their largest
// magnitudes; the standard tables still code all of them.
TEST(JpegDecode, WorstCaseContentStillCodes)
{
    const Bgr24Image noise = test::makeNoise(64, 48, 99);
    Bgr24Image checkerBoard = test::makeImage(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            std::memset(checkerBoard.pixel(x, y), ((x ^ y) & 1) ? 255 : 0, 3);
    const Bgr24Image& checker = checkerBoard;
    for (const Bgr24Image* img : {&noise, &checker}) {
        JpegEncoder enc(100);
        const std::vector<uint8_t> file = encode(enc, *img);
        RgbImage decoded;
        std::string err;
        ASSERT_TRUE(test::decodeJpeg(file.data(), file.size(), decoded, err)) << err;
        ASSERT_EQ(decoded.width, 64);
        // Noise loses most of its colour to 4:2:0 and the coarse divisors of
        // the highest frequencies, but the picture is still the picture.
        EXPECT_GT(test::psnr(test::toRgb(*img), decoded), 10.0);
        EXPECT_EQ(findMarker(file, 0xD9, JpegEncoder::kHeaderBytes), file.size() - 2); // no stray markers
    }
}

// Frames of every depth go through the 24-bit copy into the encoder; the
// decoded picture matches the frame's colours.
TEST(JpegDecode, FramesOfEveryDepth)
{
    constexpr int W = 48, H = 32;
    const Bgr24Image ref = test::makePattern(W, H, 21);
    for (int bpp : {16, 24, 32}) {
        std::vector<uint8_t> bits(size_t(W) * H * (bpp / 8));
        ScreenFrame frame;
        frame.width = W;
        frame.height = H;
        frame.bitsPerPixel = uint8_t(bpp);
        frame.bits = bits.data();
        frame.stride = W * (bpp / 8);
        Bgr24Image expect = test::makeImage(W, H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint8_t* p = ref.pixel(x, y);
                uint8_t* d = frame.rowFromTop(y) + x * (bpp / 8);
                uint8_t* e = expect.pixel(x, y);
                if (bpp == 16) {
                    const uint16_t v = uint16_t((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3));
                    d[0] = uint8_t(v);
                    d[1] = uint8_t(v >> 8);
                    e[0] = uint8_t(p[0] & 0xF8);
                    e[1] = uint8_t(p[1] & 0xF8);
                    e[2] = uint8_t(p[2] & 0xF8);
                } else {
                    std::memcpy(d, p, 3);
                    if (bpp == 32)
                        d[3] = 0x5A;
                    std::memcpy(e, p, 3);
                }
            }
        BlockCoder coder;
        std::vector<uint8_t> bgr(BlockCoder::bgr24Size(W, H));
        ASSERT_EQ(coder.to_bgr24(frame, bgr.data(), bgr.size(), 0, 0, W, H), 1);
        JpegEncoder enc(90);
        std::vector<uint8_t> file(bufferFor(W, H));
        size_t size = 0;
        ASSERT_EQ(enc.encode_image(bgr.data(), file.data(), file.size(), W, H, &size), 1);
        RgbImage decoded;
        std::string err;
        ASSERT_TRUE(test::decodeJpeg(file.data(), size, decoded, err)) << err;
        EXPECT_GE(test::psnr(test::toRgb(expect), decoded), 26.0) << bpp;
    }
}

} // namespace
} // namespace quillet
