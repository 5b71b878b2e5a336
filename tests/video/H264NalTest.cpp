#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/FlvAvcTags.h"
#include "video/NalWriter.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes escaped(const Bytes& in)
{
    Bytes out(in.size() * 2 + 8);
    BoundedWriter w(out.data(), out.size());
    append_escaped(w, in.data(), in.size());
    EXPECT_TRUE(w.ok());
    out.resize(w.size());
    return out;
}

TEST(H264Nal, EmulationPreventionInsertsAfterTwoZerosBeforeSmallBytes)
{
    struct Case {
        Bytes in, out;
    };
    const Case cases[] = {
        {{0, 0, 0}, {0, 0, 3, 0}},
        {{0, 0, 1}, {0, 0, 3, 1}},
        {{0, 0, 2}, {0, 0, 3, 2}},
        {{0, 0, 3}, {0, 0, 3, 3}},
        {{0, 0, 4}, {0, 0, 4}},
        {{0, 0}, {0, 0}},
        // The count restarts after an inserted byte: four zeros need one insertion, five need two.
        {{0, 0, 0, 0}, {0, 0, 3, 0, 0}},
        {{0, 0, 0, 0, 0}, {0, 0, 3, 0, 0, 3, 0}},
        {{0, 5, 0, 0, 1, 0, 0}, {0, 5, 0, 0, 3, 1, 0, 0}},
        {{7, 0, 0, 0, 0, 0, 0, 9}, {7, 0, 0, 3, 0, 0, 3, 0, 0, 9}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escaped(c.in), c.out);
}

TEST(H264Nal, RemovalUndoesEscapingOfAnyPayload)
{
    std::mt19937 rng(1);
    for (int round = 0; round < 200; ++round) {
        Bytes in(rng() % 64);
        for (auto& b : in)
            b = (rng() % 3) ? 0 : static_cast<uint8_t>(rng() % 5); // mostly zeros and small bytes
        const Bytes e = escaped(in);
        for (size_t i = 2; i < e.size(); ++i) // no start-code emulation survives
            ASSERT_FALSE(e[i - 2] == 0 && e[i - 1] == 0 && e[i] <= 2);
        Bytes back(e.size());
        back.resize(remove_emulation_prevention(e.data(), e.size(), back.data()));
        ASSERT_EQ(back, in);
    }
}

TEST(H264Nal, UnitHasHeaderByteAndOptionalStartCode)
{
    const Bytes payload = {0x11, 0, 0, 1};
    const NalView nal{3, kNalSps, payload.data(), payload.size()};
    uint8_t buf[32];
    BoundedWriter plain(buf, sizeof buf);
    EXPECT_EQ(write_nal_unit(plain, nal, StartCode::None), 6u);
    EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{0x67, 0x11, 0, 0, 3, 1}));
    BoundedWriter annexb(buf, sizeof buf);
    EXPECT_EQ(write_nal_unit(annexb, nal, StartCode::FourBytes), 10u);
    EXPECT_EQ(Bytes(buf, buf + 10), (Bytes{0, 0, 0, 1, 0x67, 0x11, 0, 0, 3, 1}));
}

TEST(H264Nal, WritersStopAtCapacity)
{
    const Bytes payload(100, 0); // escapes to 149 bytes
    const NalView nal{2, kNalSliceIdr, payload.data(), payload.size()};
    for (size_t cap : {0u, 1u, 100u, 149u, 150u}) {
        Bytes buf(cap + 16, 0xEE);
        BoundedWriter w(buf.data(), cap);
        const size_t n = write_nal_unit(w, nal, StartCode::None);
        EXPECT_EQ(n, cap >= 150 ? 150u : 0u) << cap;
        EXPECT_EQ(w.ok(), cap >= 150) << cap;
        for (size_t i = cap; i < buf.size(); ++i)
            ASSERT_EQ(buf[i], 0xEE) << "byte " << i << " written past capacity " << cap;
    }
}

TEST(H264FlvTags, VideoTagLayoutByteForByte)
{
    const Bytes payload = {0x88, 0x84, 0x00, 0x00, 0x01};
    const NalView nal{3, kNalSliceIdr, payload.data(), payload.size()};
    Bytes buf(64, 0xEE);
    const size_t n = write_avc_video_tag(buf.data(), buf.size(), 0x01020304, true, &nal, 1);
    // c = 1 header byte + 6 escaped payload bytes = 7; result c + 24.
    const Bytes expected = {
        0x09, 0x00, 0x00, 0x10,             // video tag, data size c + 9 = 16
        0x02, 0x03, 0x04, 0x01,             // timestamp bits 0-23, then 24-31
        0x00, 0x00, 0x00,                   // stream id
        0x17, 0x01, 0x00, 0x00, 0x42,       // key frame AVC, NAL unit, composition time 66
        0x00, 0x00, 0x00, 0x07,             // NAL length c
        0x65, 0x88, 0x84, 0x00, 0x00, 0x03, 0x01, // NAL unit
        0x00, 0x00, 0x00, 0x1B,             // previous tag size c + 20
    };
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), expected);

    const size_t inter = write_avc_video_tag(buf.data(), buf.size(), 40, false, &nal, 1);
    EXPECT_EQ(inter, expected.size());
    EXPECT_EQ(buf[11], 0x27);
    EXPECT_EQ(buf[7], 0x00);
    EXPECT_EQ(buf[6], 40);
}

TEST(H264FlvTags, SequenceHeaderLayoutByteForByte)
{
    const Bytes sps = {0x42, 0xC0, 0x28, 0x00, 0x00, 0x01}; // escapes to 7 bytes, s = 8
    const Bytes pps = {0xCE, 0x3C, 0x80};                   // p = 4
    const NalView spsNal{3, kNalSps, sps.data(), sps.size()};
    const NalView ppsNal{3, kNalPps, pps.data(), pps.size()};
    Bytes buf(96, 0xEE);
    const size_t n = write_avc_sequence_header_tag(buf.data(), buf.size(), 0, spsNal, ppsNal);
    const Bytes expected = {
        0x09, 0x00, 0x00, 0x1C, 0, 0, 0, 0, 0, 0, 0, // data size n = 16 + s + p = 28
        0x17, 0x00, 0x00, 0x00, 0x00,                // key frame AVC, sequence header
        0x01, 0x42, 0xC0, 0x15, 0x03, 0x01,          // version, profile, compatibility, level, sizes
        0x00, 0x08, 0x67, 0x42, 0xC0, 0x28, 0x00, 0x00, 0x03, 0x01,
        0x01, 0x00, 0x04, 0x68, 0xCE, 0x3C, 0x80,
        0x00, 0x00, 0x00, 0x27, // previous tag size n + 11
    };
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(n, 28u + 15u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), expected);

    // A PPS whose payload could emulate a start code is escaped as well, so
    // the record stays a valid NAL unit.
    const Bytes odd_pps = {0x00, 0x00, 0x01};
    const NalView oddNal{3, kNalPps, odd_pps.data(), odd_pps.size()};
    const size_t m = write_avc_sequence_header_tag(buf.data(), buf.size(), 0, spsNal, oddNal);
    ASSERT_EQ(m, n + 1);
    EXPECT_EQ(Bytes(buf.begin() + 33, buf.begin() + 39), (Bytes{0x00, 0x05, 0x68, 0x00, 0x00, 0x03}));

    for (size_t cap = 0; cap < n; cap += 7) {
        Bytes small(n + 8, 0xEE);
        EXPECT_EQ(write_avc_sequence_header_tag(small.data(), cap, 0, spsNal, ppsNal), 0u);
        for (size_t i = cap; i < small.size(); ++i)
            ASSERT_EQ(small[i], 0xEE);
    }
}

TEST(H264FlvTags, EveryNalUnitGetsItsOwnLengthAndAnnexBGetsStartCodes)
{
    const Bytes a = {1, 2}, b = {3};
    const NalView nals[] = {{0, kNalSei, a.data(), a.size()}, {2, kNalSliceNonIdr, b.data(), b.size()}};
    Bytes buf(64);
    const size_t n = write_avc_video_tag(buf.data(), buf.size(), 0, false, nals, 2);
    EXPECT_EQ(Bytes(buf.begin() + 16, buf.begin() + n - 4), (Bytes{0, 0, 0, 3, 0x06, 1, 2, 0, 0, 0, 2, 0x41, 3}));
    EXPECT_EQ(buf[3], n - 15);
    const size_t m = write_annexb_access_unit(buf.data(), buf.size(), nals, 2);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + m), (Bytes{0, 0, 0, 1, 0x06, 1, 2, 0, 0, 0, 1, 0x41, 3}));
    EXPECT_EQ(write_avc_video_tag(buf.data(), buf.size(), 0, false, nals, 0), 0u);
    EXPECT_EQ(write_annexb_access_unit(buf.data(), 12, nals, 2), 0u);
}

} // namespace
} // namespace quillet
