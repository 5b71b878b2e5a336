#pragma once
// Kills a helper process that writes a recording at random moments and checks
// every cut file (shared by the default and the slow crash tests).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mux/journal/RecordingJournal.h"
#include "mux/flv/FlvRepair.h"
#include "mux/mp4/Mp4Repair.h"
#include "tests/mux/MuxTestMedia.h"

extern char** environ;

namespace quillet::muxtest {
struct Refresh {
    uint32_t pictures = 0;
    uint32_t frames = 0;
};

// What the helper reported: counts after its last refresh (after every
// picture with a journal; whole lines only: the one being written when it
// died may be cut), and where its continuation file began (0 0: none yet).
struct HelperLog {
    Refresh last;
    Refresh split;
    bool any = false;
};

inline HelperLog readHelperLog(const std::string& path)
{
    HelperLog out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof())
            break;
        std::istringstream s(line);
        Refresh r;
        if (line[0] == 'S') {
            char tag = 0;
            if (s >> tag >> r.pictures >> r.frames)
                out.split = r;
        } else if (s >> r.pictures >> r.frames) {
            out.last = r;
            out.any = true;
        }
    }
    return out;
}

// Starts the helper, waits until `ready` says it reported, lets it run
// wait_ms more and kills it.
template <class Ready>
inline void runAndKill(std::vector<std::string> args, Ready ready, int wait_ms)
{
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ready()) {
        int status = 0;
        ASSERT_EQ(0, waitpid(pid, &status, WNOHANG)) << "helper ended early, status " << status;
        ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the helper reported nothing";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
    ASSERT_EQ(0, kill(pid, SIGKILL));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "helper finished before the kill";
}

inline std::vector<uint32_t> expectedSizes(const std::vector<Bytes>& samples, size_t count)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back(uint32_t(samples[i % samples.size()].size()));
    return out;
}

// Runs `cuts` helper processes and checks each cut file. Cut moments come from
// a fixed seed so that a failure can be replayed.
inline void crashAndCheck(const char* format, int cuts, unsigned seed, int max_delay_ms)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delay(0, max_delay_ms);
    const bool mp4 = std::string(format).rfind("mp4", 0) == 0;
    const bool every = std::string(format) == "mp4-every";
    const std::string out = tempPath(std::string("cut-") + format + (mp4 ? ".mp4" : ".flv"));
    const std::string log = out + ".log";
    for (int c = 0; c < cuts; ++c) {
        const int wait_ms = delay(rng);
        SCOPED_TRACE(std::string(format) + " cut " + std::to_string(c) + ", " + std::to_string(wait_ms) +
                     " ms after the first refresh, seed " + std::to_string(seed));
        std::remove(log.c_str());
        // 4 ms per picture: ten times real time, a refresh every 0.1 s; with a
        // refresh after every picture, full speed.
        runAndKill({QUILLET_MUX_CRASH_WRITER, format, out, log, every ? "0" : "4000"},
                   [&] { return readHelperLog(log).any; }, wait_ms);
        if (::testing::Test::HasFatalFailure())
            return;

        const Refresh last = readHelperLog(log).last;
        const DecodeReport r = decodeAndList(out);
        EXPECT_EQ("", r.errors);
        EXPECT_GE(r.video.size(), last.pictures);
        EXPECT_GE(r.audio.size(), last.frames);
        // Every packet is the sample that was written at its place.
        EXPECT_EQ(expectedSizes(testVideo().samples, r.video.size()), r.video);
        EXPECT_EQ(expectedSizes(testAudioStereo().raw, r.audio.size()), r.audio);
        if (mp4 && !every) {
            // The index covers exactly one refresh, made right after a key
            // frame: the last reported one or one the helper made but could
            // not report any more.
            EXPECT_EQ(1u, r.video.size() % 25);
            EXPECT_LE(r.video.size(), last.pictures + 25);
        }
        if (every) {
            EXPECT_LE(r.video.size(), last.pictures + 1);
        }
        if (::testing::Test::HasFailure()) {
            // Keep the evidence for the developer.
            std::rename(out.c_str(), (out + ".failed").c_str());
            return;
        }
    }
}
// Sizes of `count` samples of the clip starting at sample `first`.
inline std::vector<uint32_t> expectedSizesFrom(const std::vector<Bytes>& samples, size_t first, size_t count)
{
    std::vector<uint32_t> out;
    for (size_t i = first; i < first + count; ++i)
        out.push_back(uint32_t(samples[i % samples.size()].size()));
    return out;
}

// Kills the journal helper at random moments; every cut recording is repaired
// from its journal and must then decode cleanly and hold every picture and
// sound frame the helper had written before its last report, and at most the
// one picture it was writing when it died.
inline void crashRepairAndCheck(const char* format, int cuts, unsigned seed, int max_delay_ms)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delay(0, max_delay_ms);
    const bool split = std::string(format) == "journal-split";
    const bool flv = std::string(format) == "flv-journal";
    const std::string out = tempPath(std::string("cut-") + format + (flv ? ".flv" : ".mp4"));
    const std::string next = out.substr(0, out.size() - 4) + "_1.mp4";
    const std::string log = out + ".log";
    for (int c = 0; c < cuts; ++c) {
        const int wait_ms = delay(rng);
        SCOPED_TRACE(std::string(format) + " cut " + std::to_string(c) + ", " + std::to_string(wait_ms) +
                     " ms after the first picture, seed " + std::to_string(seed));
        for (const std::string& f : {log, out, next, journalPathFor(out), journalPathFor(next)})
            std::remove(f.c_str());
        runAndKill({QUILLET_MUX_CRASH_WRITER, format, out, log, "4000"}, [&] { return readHelperLog(log).any; },
                   wait_ms);
        if (::testing::Test::HasFatalFailure())
            return;

        const HelperLog got = readHelperLog(log);
        const bool continued = split && got.split.pictures > 0;
        if (continued) {
            // The first file was closed at the split: whole, without a journal.
            EXPECT_NE(0, access(journalPathFor(out).c_str(), F_OK));
            const DecodeReport first = decodeAndList(out);
            EXPECT_EQ("", first.errors);
            EXPECT_EQ(expectedSizes(testVideo().samples, got.split.pictures), first.video);
            EXPECT_EQ(expectedSizes(testAudioStereo().raw, got.split.frames), first.audio);
        }
        const std::string file = continued ? next : out;
        RecordingRepairReport report;
        ASSERT_EQ(1, flv ? repairFlvRecording(file, &report) : repairMp4Recording(file, &report)) << report.error;
        EXPECT_NE(0, access(journalPathFor(file).c_str(), F_OK)) << "the journal goes after the repair";
        const DecodeReport r = decodeAndList(file);
        EXPECT_EQ("", r.errors);
        const Refresh base = continued ? got.split : Refresh{};
        EXPECT_GE(r.video.size() + base.pictures, got.last.pictures);
        EXPECT_GE(r.audio.size() + base.frames, got.last.frames);
        // At most the picture being written when the helper died is more.
        EXPECT_LE(r.video.size() + base.pictures, got.last.pictures + 1);
        EXPECT_EQ(expectedSizesFrom(testVideo().samples, base.pictures, r.video.size()), r.video);
        EXPECT_EQ(expectedSizesFrom(testAudioStereo().raw, base.frames, r.audio.size()), r.audio);
        EXPECT_EQ(report.videoSamples, r.video.size());
        // The metadata of a repaired FLV says how long its pictures last (in
        // whole seconds), not what the last refresh said.
        if (flv) {
            const double seconds = std::atof(probeEntry(file, nullptr, "format", "duration").c_str());
            EXPECT_EQ(double(r.video.size() * 40 / 1000), seconds);
        }
        if (::testing::Test::HasFailure()) {
            std::rename(file.c_str(), (file + ".failed").c_str());
            return;
        }
    }
}
} // namespace quillet::muxtest
