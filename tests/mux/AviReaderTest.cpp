// The AVI reader over what the writer makes: finished files, files whose
// writer never closed them, and files cut or damaged anywhere.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "mux/avi/AviReader.h"
#include "mux/avi/AviWriter.h"
#include "tests/mux/MuxTestMedia.h"

namespace quillet {
namespace {

using muxtest::Bytes;
using muxtest::readFile;
using muxtest::tempPath;

struct Written {
    int stream;
    Bytes data;
};

void writeFile(const std::string& path, const Bytes& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Writes a recording of `frames` frames (odd sizes, some repeated ticks) with
// a sound chunk after every third; returns the chunks in file order. With
// `finish` false the writer is left open, as a killed recorder leaves it, and
// the file is copied to `path` as it stands.
std::vector<Written> record(const std::string& path, int frames, bool finish, AviWriter* keep = nullptr,
                            uint64_t riffLimit = 0)
{
    AviWriter local;
    AviWriter& w = keep ? *keep : local;
    if (riffLimit)
        w.SetLimitsForTest(riffLimit, 16);
    AviVideoFormat f;
    f.width = 96;
    f.height = 64;
    f.sizeImage = 96 * 64 * 2;
    const uint8_t wfx[30] = {0x55, 0, 1, 0, 0x11, 0x2B, 0, 0, 0xD0, 0x07, 0, 0, 1, 0, 16, 0, 12, 0};
    EXPECT_EQ(w.Open(path.c_str(), 10, f, wfx, sizeof wfx), 1);
    std::vector<Written> out;
    for (int i = 0; i < frames; ++i) {
        Bytes p(static_cast<size_t>(1 + (i * 37) % 211), static_cast<uint8_t>(i));
        const int ticks = i % 4 == 3 ? 2 : 1;
        EXPECT_EQ(w.WriteVideo(p.data(), p.size(), ticks, i % 5 == 0), 1);
        out.push_back({0, p});
        if (ticks == 2)
            out.push_back({0, {}});
        if (i % 3 == 2) {
            Bytes a(static_cast<size_t>(50 + i), static_cast<uint8_t>(0x80 | i));
            EXPECT_EQ(w.WriteAudio(a.data(), a.size()), 1);
            out.push_back({1, a});
        }
    }
    if (finish) {
        EXPECT_EQ(w.Close(), 1);
    }
    return out;
}

std::vector<Written> readAll(AviReader& r)
{
    std::vector<Written> got;
    AviChunk c;
    while (r.next(c)) {
        Bytes d;
        EXPECT_EQ(r.read(c, d), 1);
        got.push_back({c.stream, d});
    }
    return got;
}

void expectPrefix(const std::vector<Written>& got, const std::vector<Written>& all, size_t atLeast)
{
    ASSERT_LE(got.size(), all.size());
    EXPECT_GE(got.size(), atLeast);
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].stream, all[i].stream) << i;
        ASSERT_EQ(got[i].data, all[i].data) << i;
    }
}

TEST(AviReaderTest, ReadsEveryChunkOfAFinishedFileInOrder)
{
    for (uint64_t limit : {uint64_t(0), uint64_t(3000)}) {
        const std::string path = tempPath("reader_finished.avi");
        AviWriter w;
        const std::vector<Written> all = record(path, 120, true, &w, limit);
        AviReader r;
        ASSERT_EQ(r.open(path), 1) << r.error();
        EXPECT_EQ(r.width(), 96);
        EXPECT_EQ(r.microSecondsPerFrame(), 100000u);
        EXPECT_EQ(r.stream(0).handler, avi::kScreenCodec);
        EXPECT_EQ(r.stream(0).rate, 10u);
        EXPECT_EQ(r.stream(0).length, 150u);
        EXPECT_EQ(r.stream(1).format.size(), 30u);
        const std::vector<Written> got = readAll(r);
        EXPECT_TRUE(r.finished());
        EXPECT_FALSE(r.damaged()) << r.error();
        expectPrefix(got, all, all.size());
    }
}

TEST(AviReaderTest, AnUnclosedRecordingReadsToItsLastChunk)
{
    const std::string path = tempPath("reader_killed.avi");
    AviWriter w;
    const std::vector<Written> all = record(path, 40, false, &w);
    // The file as the killed recorder left it: sizes and indexes still zero.
    const Bytes left = readFile(path);
    w.Close();
    writeFile(path, left);
    AviReader r;
    ASSERT_EQ(r.open(path), 1) << r.error();
    EXPECT_FALSE(r.finished());
    expectPrefix(readAll(r), all, all.size());
    EXPECT_FALSE(r.damaged()) << r.error();
}

TEST(AviReaderTest, ACutOrDamagedFileGivesItsWholeChunksAndNamesTheOffset)
{
    const std::string path = tempPath("reader_cut_src.avi");
    const std::vector<Written> all = record(path, 30, true, nullptr, 1500);
    const Bytes whole = readFile(path);
    std::vector<uint64_t> ends; // where each chunk's data ends
    {
        AviReader r;
        ASSERT_EQ(r.open(path), 1);
        AviChunk c;
        while (r.next(c))
            ends.push_back(c.offset + c.size);
        ASSERT_EQ(ends.size(), all.size());
    }
    const std::string cut = tempPath("reader_cut.avi");
    // Every cut point through the media and the continuation headers.
    for (size_t n = 0; n < whole.size(); n += 7) {
        writeFile(cut, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        AviReader r;
        if (!r.open(cut)) {
            EXPECT_NE(r.error().find("reader_cut.avi"), std::string::npos);
            EXPECT_NE(r.error().find("offset"), std::string::npos);
            continue;
        }
        const std::vector<Written> got = readAll(r);
        // Every chunk that the cut left whole is recovered.
        size_t whole_chunks = 0;
        while (whole_chunks < ends.size() && ends[whole_chunks] <= n)
            ++whole_chunks;
        expectPrefix(got, all, whole_chunks);
        if (r.damaged()) {
            EXPECT_NE(r.error().find("offset"), std::string::npos) << r.error();
        }
    }
    // Sizes that lie: each 4-byte field of the file in turn set to a huge value.
    for (size_t at = 0; at + 4 <= whole.size(); at += 4) {
        Bytes bad = whole;
        putLE32(bad.data() + at, 0xFFFFFFF0u);
        writeFile(cut, bad);
        AviReader r;
        if (r.open(cut))
            readAll(r); // must end without reading out of bounds
    }
}

TEST(AviReaderTest, AFullDiskStopsTheWriterAndLeavesEveryWholeChunk)
{
    // A file size limit stands in for the full disk.
    const std::string path = tempPath("reader_full.avi");
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct sigaction ignore {}, was {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &was);
    struct rlimit small = old;
    small.rlim_cur = 20000;
    setrlimit(RLIMIT_FSIZE, &small);
    AviWriter w;
    AviVideoFormat f;
    f.width = 64;
    f.height = 48;
    ASSERT_EQ(w.Open(path.c_str(), 10, f, nullptr, 0), 1);
    int written = 0;
    const Bytes p(300, 0x42);
    while (written < 1000 && w.WriteVideo(p.data(), p.size(), 1, written % 10 == 0))
        ++written;
    EXPECT_TRUE(w.Failed());
    EXPECT_EQ(w.WriteVideo(p.data(), p.size(), 1, 1), 0) << "the error sticks";
    EXPECT_EQ(w.Close(), 0);
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &was, nullptr);
    EXPECT_GT(written, 30);
    AviReader r;
    ASSERT_EQ(r.open(path), 1) << r.error();
    int read = 0;
    AviChunk c;
    while (r.next(c))
        read += c.size == p.size();
    EXPECT_GE(read, written - 1); // the write that failed may have left part of its chunk
}

} // namespace
} // namespace quillet
