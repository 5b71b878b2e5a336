#pragma once
// Kills quillet-cli recordings with SIGKILL at random moments and checks what
// each left: after `quillet-cli repair` every file decodes without a single
// error and keeps all but its last seconds. Runs on the headless desktop
// (scripts/test-env.sh) with a moving picture and a tone playing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/mux/MuxTestMedia.h"

extern char** environ;

namespace quillet::killtest {

using Clock = std::chrono::steady_clock;

inline bool desktopPresent()
{
    return std::getenv("DISPLAY") && std::system("xdpyinfo >/dev/null 2>&1") == 0 &&
           std::system("pactl info >/dev/null 2>&1") == 0 && std::system("ffprobe -version >/dev/null 2>&1") == 0;
}

inline std::string shellOutput(const std::string& cmd)
{
    std::string out;
    muxtest::runCommand(cmd, &out, false);
    return out;
}

inline std::string tempFolder()
{
    char pattern[] = "/tmp/quillet-kill-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? std::string(dir) + "/" : std::string("/tmp/");
}

// The computer's own sound: the last entry of "quillet-cli devices".
inline std::string computerSoundIndex()
{
    const std::string out = shellOutput("./quillet-cli devices 2>/dev/null | grep -E 'own sound|monitor' | tail -n1");
    const size_t p = out.find_first_not_of(' ');
    return p == std::string::npos ? std::string() : out.substr(p, out.find(' ', p) - p);
}

// A child whose standard output and error come back through a pipe.
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string text;
    Clock::time_point recordingSince{}; // when it said "-- recording"
    bool recording = false;

    bool start(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        out = fds[0];
        fcntl(out, F_SETFL, O_NONBLOCK);
        return rc == 0;
    }
    // Takes what the child printed; notes when it started recording.
    void drain()
    {
        char buf[4096];
        ssize_t n;
        while (out >= 0 && (n = read(out, buf, sizeof buf)) > 0) {
            text.append(buf, size_t(n));
            if (!recording && text.find("-- recording") != std::string::npos) {
                recording = true;
                recordingSince = Clock::now();
            }
        }
    }
    int killAndWait()
    {
        if (pid > 0)
            kill(pid, SIGKILL);
        return reap();
    }
    int reap()
    {
        int status = 0;
        if (pid > 0)
            waitpid(pid, &status, 0);
        pid = -1;
        drain();
        if (out >= 0)
            close(out);
        out = -1;
        return status;
    }
};

// End (s) of the last packet of a stream ("v" or "a"); 0 when there is none.
inline double streamEnd(const std::string& file, const char* stream)
{
    const std::string csv = shellOutput(std::string("ffprobe -v error -select_streams ") + stream +
                                        ":0 -show_entries packet=pts_time,duration_time -of csv=p=0 '" + file + "'");
    double end = 0;
    size_t pos = 0;
    while (pos < csv.size()) {
        size_t nl = csv.find('\n', pos);
        if (nl == std::string::npos)
            nl = csv.size();
        const std::string line = csv.substr(pos, nl - pos);
        pos = nl + 1;
        const size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        end = std::max(end, std::atof(line.c_str()) + std::atof(line.c_str() + comma + 1));
    }
    return end;
}

struct KillResult {
    std::string format;
    double killAt = 0;   // s after the start of the program
    double recorded = 0; // s of recording before the kill
    double videoLost = 0;
    double soundLost = 0;
    double unrepairedLost = -1; // pictures lost as the file stood before the repair (-1: not readable)
};

constexpr double kMaxLostSeconds = 2.0;
constexpr int kFps = 15;

// What one killed recording left, repaired and decoded.
inline KillResult checkKilled(const std::string& format, const std::string& file, double killAt, const Child& c,
                              Clock::time_point killedAt)
{
    KillResult r;
    r.format = format;
    r.killAt = killAt;
    r.recorded = c.recording ? std::chrono::duration<double>(killedAt - c.recordingSince).count() : 0;
    SCOPED_TRACE(format + " killed " + std::to_string(killAt) + " s after start, " + std::to_string(r.recorded) +
                 " s into the recording");
    std::string repair;
    const bool journal = access((file + ".journal").c_str(), F_OK) == 0;
    // For the record: what the file as it stands, without the repair, plays.
    if (access(file.c_str(), F_OK) == 0 && muxtest::decodeErrors(file).empty())
        r.unrepairedLost = std::max(0.0, r.recorded - streamEnd(file, "v"));
    int repaired = 0;
    if (journal)
        repaired = muxtest::runCommand("./quillet-cli repair '" + file + "'", &repair);
    const bool nothing = repair.find("nothing was recorded") != std::string::npos;
    double video = 0, sound = 0;
    if (access(file.c_str(), F_OK) == 0 && !nothing) {
        EXPECT_EQ(0, repaired) << repair;
        EXPECT_FALSE(journal && access((file + ".journal").c_str(), F_OK) == 0) << "the journal stays after repair";
        EXPECT_EQ("", muxtest::decodeErrors(file)) << file;
        video = streamEnd(file, "v");
        sound = streamEnd(file, "a");
    }
    r.videoLost = std::max(0.0, r.recorded - video);
    r.soundLost = std::max(0.0, r.recorded - sound);
    EXPECT_LE(r.videoLost, kMaxLostSeconds) << c.text << repair;
    EXPECT_LE(r.soundLost, kMaxLostSeconds) << c.text << repair;
    std::printf("%s kill at %6.2f s: recorded %6.2f s, lost %5.2f s of pictures, %5.2f s of sound"
                " (unrepaired: %s)\n",
                format.c_str(), killAt, r.recorded, r.videoLost, r.soundLost,
                r.unrepairedLost < 0 ? "does not play" : (std::to_string(r.unrepairedLost) + " s of pictures").c_str());
    return r;
}

inline void printDistribution(const std::vector<KillResult>& results, const std::string& format)
{
    std::vector<double> lost;
    for (const KillResult& r : results)
        if (r.format == format)
            lost.push_back(std::max(r.videoLost, r.soundLost));
    if (lost.empty())
        return;
    std::sort(lost.begin(), lost.end());
    const double bounds[] = {0.25, 0.5, 0.75, 1.0, 1.5, 2.0};
    std::printf("%s: %zu kills, lost seconds (the larger of picture and sound): median %.2f, 90%% %.2f, max %.2f\n",
                format.c_str(), lost.size(), lost[lost.size() / 2], lost[lost.size() * 9 / 10], lost.back());
    std::vector<double> unrepaired;
    for (const KillResult& r : results)
        if (r.format == format)
            unrepaired.push_back(r.unrepairedLost < 0 ? 1e9 : r.unrepairedLost);
    std::sort(unrepaired.begin(), unrepaired.end());
    std::printf("  without the repair: pictures lost median %.2f, max %s\n", unrepaired[unrepaired.size() / 2],
                unrepaired.back() > 1e8 ? "(some did not play)" : std::to_string(unrepaired.back()).c_str());
    double lo = 0;
    for (double b : bounds) {
        const long n = std::count_if(lost.begin(), lost.end(), [&](double v) { return v >= lo && v < b; });
        std::printf("  %.2f..%.2f s: %ld\n", lo, b, n);
        lo = b;
    }
    std::printf("  %.2f s or more: %ld\n", lo,
                long(std::count_if(lost.begin(), lost.end(), [&](double v) { return v >= lo; })));
}

// Records MP4 and FLV at once, with the computer's sound, and kills both at
// `kills` random moments from `minSeconds` to `maxSeconds` after their start.
inline void killAtRandomMoments(int kills, double minSeconds, double maxSeconds, unsigned seed)
{
    std::printf("kill harness: %d kills between %.1f and %.1f s, seed %u\n", kills, minSeconds, maxSeconds, seed);
    const std::string source = computerSoundIndex();
    ASSERT_FALSE(source.empty()) << "no computer-sound source";
    Child scene;
    ASSERT_TRUE(scene.start({"./recording_scene", "moving", "100000"}));
    // The test sound server's monitor delivers the first recording's sound
    // up to two seconds late (the picture is then held back to it): that is
    // the server warming up, not what a kill loses, so one short recording
    // goes first and is not counted.
    const std::string warm = tempFolder();
    muxtest::runCommand("./quillet-cli record -o " + warm + "warm.mp4 --seconds 2 --fps 15 --area 0,0,640,480 "
                        "--sound on --source " + source + " --no-countdown -y",
                        nullptr);
    std::system(("rm -rf '" + warm + "'").c_str());
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> moment(minSeconds, maxSeconds);
    std::vector<KillResult> results;
    for (int k = 0; k < kills && !::testing::Test::HasFatalFailure(); ++k) {
        const double killAt = moment(rng);
        const std::string folder = tempFolder();
        Child mp4, flv;
        const Clock::time_point started = Clock::now();
        for (auto [child, ext] : {std::pair{&mp4, "mp4"}, std::pair{&flv, "flv"}})
            ASSERT_TRUE(child->start({"./quillet-cli", "record", "-o", folder + "killed." + ext, "--fps",
                                      std::to_string(kFps), "--area", "0,0,640,480", "--sound", "on", "--source",
                                      source, "--no-countdown", "-y"}));
        const Clock::time_point killTime = started + std::chrono::microseconds(long(killAt * 1e6));
        while (Clock::now() < killTime) {
            pollfd fds[2] = {{mp4.out, POLLIN, 0}, {flv.out, POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(killTime - Clock::now()).count();
            poll(fds, 2, int(std::clamp<long>(left, 0, 50)));
            mp4.drain();
            flv.drain();
        }
        mp4.drain();
        flv.drain();
        kill(mp4.pid, SIGKILL);
        kill(flv.pid, SIGKILL);
        const Clock::time_point killedAt = Clock::now();
        mp4.reap();
        flv.reap();
        results.push_back(checkKilled("mp4", folder + "killed.mp4", killAt, mp4, killedAt));
        results.push_back(checkKilled("flv", folder + "killed.flv", killAt, flv, killedAt));
        if (!::testing::Test::HasFailure())
            std::system(("rm -rf '" + folder + "'").c_str());
    }
    scene.killAndWait();
    printDistribution(results, "mp4");
    printDistribution(results, "flv");
}

inline unsigned harnessSeed(unsigned fallback)
{
    const char* v = std::getenv("QUILLET_KILL_SEED");
    return v && *v ? unsigned(std::strtoul(v, nullptr, 10)) : fallback;
}

} // namespace quillet::killtest
