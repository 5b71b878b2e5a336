// quillet-cli record when the machine misbehaves (run under
// scripts/test-env.sh): the X server killed or frozen, a display that never
// answers, the sound server killed or its default source removed, stop
// signals, damaged settings, a still screen for images, and areas as large as
// the screen or larger than the size limit. Servers that a test breaks are
// its own, started for it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/session/AreaPatternColours.h"
#include "tests/engine/session/CliTestSupport.h"

namespace quillet {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double number(const std::string& text) { return std::atof(text.c_str()); }

// A recording started in the background, its output in a log file.
struct Recorder {
    Recorder(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        log = tempFolder() + "rec.log";
        std::vector<std::string> argv{cli(), "record"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid = spawn(argv, log, env);
    }
    ~Recorder()
    {
        if (pid > 0 && rc == -2) {
            kill(pid, SIGKILL);
            waitExit(pid);
        }
    }
    // Waits for the recording to begin; returns when it did.
    bool started(Clock::time_point* at)
    {
        const bool ok = waitForText(log, "-- recording", 15000);
        *at = Clock::now();
        return ok;
    }
    int finish(int timeoutMs)
    {
        rc = waitExitWithin(pid, timeoutMs);
        return rc;
    }
    std::string output() const { return readText(log); }

    std::string log;
    pid_t pid = -1;
    int rc = -2;
};

// Changes the whole screen of `display` five times a second.
pid_t moveScene(const std::string& display)
{
    return spawn({"/bin/sh", "-c",
                  "i=0; while :; do xsetroot -solid \"#$(printf '%02x%02x40' $((i*37%256)) $((i*91%256)))\"; "
                  "i=$((i+1)); sleep 0.2; done"},
                 {}, {"DISPLAY=" + display});
}

struct Stopped {
    pid_t pid;
    ~Stopped()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitExit(pid);
        }
    }
};

double videoSeconds(const std::string& file) { return number(probe(file, "v:0", "stream=duration")); }

void expectDecodes(const std::string& file)
{
    std::string out;
    EXPECT_EQ(run("ffmpeg -v error -xerror -i '" + file + "' -f null -", &out), 0) << file << ": " << out;
}

constexpr int kFps = 15;
constexpr double kFrame = 1.0 / kFps;
// Measuring the recorded time from the outside: the log line is seen a few
// milliseconds late, and the kill lands between two frames.
constexpr double kSlack = 0.04;

TEST(CliSurvival, AKilledXServerEndsTheRecordingWithAFinishedFile)
{
    REQUIRE_DESKTOP();
    PrivateDisplay x;
    ASSERT_TRUE(x.ready());
    Stopped scene{moveScene(x.name())};
    const std::string file = tempFolder() + "x-killed.mp4";
    Recorder rec({"--display", x.name(), "-o", file, "--seconds", "30", "--fps", std::to_string(kFps), "--sound", "on",
                  "--source", "0", "--no-countdown", "-y"});
    Clock::time_point began;
    ASSERT_TRUE(rec.started(&began)) << rec.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    kill(x.pid(), SIGKILL);
    const auto event = Clock::now();
    waitExit(x.pid());
    x.forget();
    EXPECT_EQ(rec.finish(15000), 1) << rec.output();
    EXPECT_LT(seconds(Clock::now() - event), 15.0);
    EXPECT_NE(rec.output().find("The connection to the X display " + x.name() + " was lost"), std::string::npos)
        << rec.output();
    expectDecodes(file);
    const double recorded = seconds(event - began);
    // Pictures up to the kill; the last stands for one frame past it.
    EXPECT_NEAR(videoSeconds(file), recorded + kFrame / 2, kFrame / 2 + kSlack) << rec.output();
    EXPECT_EQ(probe(file, "a:0", "stream=codec_name"), "aac");
}

TEST(CliSurvival, AFrozenXServerCannotHoldTheStop)
{
    REQUIRE_DESKTOP();
    PrivateDisplay x;
    ASSERT_TRUE(x.ready());
    Stopped scene{moveScene(x.name())};
    const std::string file = tempFolder() + "x-frozen.mp4";
    Recorder rec({"--display", x.name(), "-o", file, "--fps", std::to_string(kFps), "--sound", "on", "--source", "0",
                  "--no-countdown", "-y"});
    Clock::time_point began;
    ASSERT_TRUE(rec.started(&began)) << rec.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    kill(x.pid(), SIGSTOP);
    const auto frozen = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(rec.pid, SIGINT);
    const auto interrupted = Clock::now();
    // The stop waits its 10 s for the video thread stuck in the server, then
    // finalises without it.
    EXPECT_EQ(rec.finish(15000), 1) << rec.output();
    EXPECT_LT(seconds(Clock::now() - interrupted), 15.0);
    EXPECT_NE(rec.output().find("stopped answering"), std::string::npos) << rec.output();
    expectDecodes(file);
    // The picture holds what was seen until the freeze. A still screen needs
    // no reply from the server, so the last picture may go on until the
    // recorder next asks for one: when the scene's next change (at most
    // 0.2 s later) is reported. The file lasts as long as the recording (the
    // sound went on until the stop).
    const double frozenAt = seconds(frozen - began);
    EXPECT_GT(videoSeconds(file), frozenAt - kSlack) << rec.output();
    EXPECT_LT(videoSeconds(file), frozenAt + 0.2 + kFrame + kSlack) << rec.output();
    const double total = number(probe(file, "v:0", "format=duration"));
    EXPECT_GT(total, seconds(interrupted - began) - 0.5);
    EXPECT_LT(total, seconds(interrupted - began) + 0.1);
}

// A TCP port that accepts connections (the kernel completes them) and never
// answers: an X display "127.0.0.1:N" that hangs every client.
struct SilentDisplay {
    SilentDisplay()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        for (int n = 40; n < 400 && name.empty(); ++n) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(uint16_t(6000 + n));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd, 8) == 0)
                name = "127.0.0.1:" + std::to_string(n);
        }
    }
    ~SilentDisplay() { close(fd); }
    int fd = -1;
    std::string name;
};

TEST(CliSurvival, ADisplayThatNeverAnswersCannotHoldTheStart)
{
    REQUIRE_DESKTOP();
    SilentDisplay silent;
    ASSERT_FALSE(silent.name.empty());
    const std::string folder = tempFolder();
    {
        // SIGTERM while connecting: out at once, nothing recorded.
        Recorder rec({"--display", silent.name, "-o", folder + "a.mp4", "--seconds", "5", "--no-countdown", "-y"});
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        kill(rec.pid, SIGTERM);
        const auto t = Clock::now();
        EXPECT_EQ(rec.finish(3000), 3) << rec.output();
        // Far inside the connection's 10-s limit; a sanitizer build's own
        // exit takes most of a second.
        EXPECT_LT(seconds(Clock::now() - t), 2.0);
        EXPECT_FALSE(fs::exists(folder + "a.mp4"));
    }
    {
        // Left alone: the connection's time limit.
        Recorder rec({"--display", silent.name, "-o", folder + "b.mp4", "--seconds", "5", "--no-countdown", "-y"});
        EXPECT_EQ(rec.finish(20000), 1) << rec.output();
        EXPECT_NE(rec.output().find("does not answer"), std::string::npos) << rec.output();
        EXPECT_FALSE(fs::exists(folder + "b.mp4"));
    }
}

TEST(CliSurvival, AKilledSoundServerLeavesTheVideoItsOwnClock)
{
    REQUIRE_DESKTOP();
    PrivateSound pulse;
    ASSERT_TRUE(pulse.ready());
    pulse.playTone(20);
    const std::string file = tempFolder() + "sound-killed.mp4";
    Recorder rec({"-o", file, "--seconds", "6", "--fps", std::to_string(kFps), "--area", "0,0,320,240", "--sound", "on",
                  "--source", "0", "--no-countdown", "-y"},
                 pulse.env());
    Clock::time_point began;
    ASSERT_TRUE(rec.started(&began)) << rec.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    pulse.killServer();
    const auto event = Clock::now();
    EXPECT_EQ(rec.finish(15000), 0) << rec.output();
    EXPECT_LT(seconds(Clock::now() - event), 15.0);
    EXPECT_NE(rec.output().find("Sound recording stopped"), std::string::npos) << rec.output();
    expectDecodes(file);
    // Six seconds of pictures at their own pace, not squeezed against the
    // sound that stopped; the sound keeps what came before the kill.
    EXPECT_NEAR(videoSeconds(file), 6.0 + kFrame / 2, kFrame / 2 + kSlack);
    EXPECT_NEAR(number(probe(file, "v:0", "format=duration")), 6.0 + kFrame / 2, kFrame / 2 + kSlack);
    const double sound = number(probe(file, "a:0", "stream=duration"));
    EXPECT_GT(sound, 0.5);
    EXPECT_LT(sound, seconds(event - began) + 0.1);
}

TEST(CliSurvival, ARemovedDefaultSourceIsToldAndTheRecordingGoesOn)
{
    REQUIRE_DESKTOP();
    PrivateSound pulse;
    ASSERT_TRUE(pulse.ready());
    pulse.playTone(20);
    const std::string file = tempFolder() + "source-removed.mp4";
    Recorder rec({"-o", file, "--seconds", "6", "--fps", std::to_string(kFps), "--area", "0,0,320,240", "--sound", "on",
                  "--source", "0", "--no-countdown", "-y"},
                 pulse.env());
    Clock::time_point began;
    ASSERT_TRUE(rec.started(&began)) << rec.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    pulse.pactl("unload-module module-remap-source");
    EXPECT_EQ(rec.finish(15000), 0) << rec.output();
    EXPECT_NE(rec.output().find("was removed; the recording goes on with the sound of"), std::string::npos)
        << rec.output();
    expectDecodes(file);
    EXPECT_NEAR(videoSeconds(file), 6.0 + kFrame / 2, kFrame / 2 + kSlack);
    // The server moves the stream to another source: the sound goes on.
    EXPECT_GT(number(probe(file, "a:0", "stream=duration")), 5.0);
}

TEST(CliSurvival, LowFrameRatesKeepEvenPictureDurationsWithSound)
{
    // At 2 frames per second the sound starts before the first picture is
    // due; no picture may be shortened against it (once the opening pictures
    // were squeezed to a quarter second). The first picture is taken when
    // slot 1 is due, half a second in, and since the track starts at 0 it
    // also stands for the opening half second; every later one lasts its
    // own slot.
    REQUIRE_DESKTOP();
    PrivateDisplay x;
    ASSERT_TRUE(x.ready());
    Stopped scene{moveScene(x.name())};
    PrivateSound pulse;
    ASSERT_TRUE(pulse.ready());
    pulse.playTone(20);
    const std::string file = tempFolder() + "two-fps.mp4";
    Recorder rec({"--display", x.name(), "-o", file, "--seconds", "5", "--fps", "2", "--area", "0,0,320,240", "--sound",
                  "on", "--source", "0", "--no-countdown", "-y"},
                 pulse.env());
    EXPECT_EQ(rec.finish(30000), 0) << rec.output();
    expectDecodes(file);
    std::string durations = probe(file, "v:0", "packet=duration_time");
    std::vector<double> d;
    for (size_t at = 0; at < durations.size();) {
        const size_t end = durations.find('\n', at);
        d.push_back(number(durations.substr(at, end - at)));
        at = end == std::string::npos ? durations.size() : end + 1;
    }
    ASSERT_GE(d.size(), 9u) << durations;
    EXPECT_NEAR(d[0], 1.0, 0.002) << durations;
    for (size_t i = 1; i < d.size(); ++i)
        EXPECT_NEAR(d[i], 0.5, 0.002) << "picture " << i << " of " << durations;
    EXPECT_NEAR(number(probe(file, "v:0", "packet=pts_time")), 0.0, 0.001);
    EXPECT_NEAR(number(probe(file, "a:0", "stream=duration")), videoSeconds(file), 0.6);
}

TEST(CliSurvival, StopSignalsFinaliseAndCtrlCInTheCountdownCancels)
{
    REQUIRE_DESKTOP();
    const std::string folder = tempFolder();
    for (int sig : {SIGHUP, SIGQUIT, SIGPIPE}) {
        const std::string file = folder + "sig" + std::to_string(sig) + ".mp4";
        Recorder rec({"-o", file, "--fps", std::to_string(kFps), "--area", "0,0,320,240", "--sound", "on",
                      "--no-countdown", "-y"});
        Clock::time_point began;
        ASSERT_TRUE(rec.started(&began)) << rec.output();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(rec.pid, sig);
        const double recorded = seconds(Clock::now() - began);
        EXPECT_EQ(rec.finish(15000), 0) << sig << ": " << rec.output();
        expectDecodes(file);
        EXPECT_NEAR(videoSeconds(file), recorded + kFrame / 2, kFrame / 2 + kSlack) << sig;
    }
    // Ctrl+C two seconds into the five-second countdown.
    const std::string file = folder + "cancelled.mp4";
    Recorder rec({"-o", file, "--seconds", "5", "--area", "0,0,320,240", "-y"});
    ASSERT_TRUE(waitForText(rec.log, "5...", 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(rec.pid, SIGINT);
    EXPECT_EQ(rec.finish(5000), 3) << rec.output();
    EXPECT_NE(rec.output().find("The recording was cancelled; no file was kept."), std::string::npos) << rec.output();
    EXPECT_EQ(rec.output().find("The recording is finished"), std::string::npos) << rec.output();
    EXPECT_FALSE(fs::exists(file));
    std::string help;
    run(cli() + " help", &help);
    EXPECT_NE(help.find("3  cancelled"), std::string::npos) << help;
}

// A home folder of its own, so that the settings file is the test's.
struct PrivateHome {
    PrivateHome()
    {
        home = tempFolder();
        fs::create_directories(home + "Documents/OrvikClass");
        fs::create_directories(home + ".config");
    }
    ~PrivateHome() { fs::remove_all(home); }
    void settings(const std::string& text) const { std::ofstream(home + "Documents/OrvikClass/Data.ini") << text; }
    std::string defaultFolder() const { return home + "Videos/Screen/"; }
    std::string run(const std::string& args, int* rc) const
    {
        std::string out;
        *rc = test::run("HOME=" + home.substr(0, home.size() - 1) + " XDG_CONFIG_HOME= " + args, &out);
        return out;
    }
    std::string home;
};

TEST(CliSurvival, DamagedSettingsGiveANoticeAndAWorkingDefault)
{
    REQUIRE_DESKTOP();
    PrivateHome home;
    int rc = 0;
    // A frame rate that used to wrap through a byte, and another system's folder.
    home.settings("[screen]\nfps=1000\n[Quillet]\npath=d:\\Screen\\\na=0\n");
    std::string out = home.run(cli() + " record --seconds 2 --area 0,0,320,240 --no-countdown -y", &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("The setting [screen] fps=1000 in Data.ini cannot be used; 15 is used instead."),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("The output folder \"d:\\Screen\\\" cannot be used (not a full folder path on this system); "
                       "recordings go to " + home.defaultFolder()),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Frame rate: 15 frames/s"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists("d:\\Screen\\"));
    std::vector<fs::path> made;
    for (const auto& e : fs::directory_iterator(home.defaultFolder()))
        made.push_back(e.path());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(probe(made[0].string(), "v:0", "stream=r_frame_rate"), "15/1");

    // A folder that cannot exist: the system's reason, and the default.
    std::ofstream(home.home + "plain") << "x";
    home.settings("[screen]\nfps=abc\n[Quillet]\npath=" + home.home + "plain/rec/\n");
    out = home.run(cli() + " selfcheck", &rc);
    EXPECT_EQ(rc, 0) << "damaged settings are replaced, not fatal: " << out;
    EXPECT_NE(out.find("damaged setting:  The setting [screen] fps=abc"), std::string::npos) << out;
    EXPECT_NE(out.find("plain/rec/\" cannot be used (Not a directory); recordings go to " + home.defaultFolder()),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("output folder:    " + home.defaultFolder()), std::string::npos) << out;

    // The language sel.ini names must be there: a copy of the program whose
    // selection names a missing file fails its check.
    const std::string copy = home.home + "prog/";
    fs::create_directories(copy + "Language");
    fs::copy_file(cli(), copy + "quillet-cli");
    for (const char* f : {"english.ini", "chinese.ini"})
        fs::copy_file(std::string("./Language/") + f, copy + "Language/" + f);
    std::ofstream(copy + "Language/sel.ini") << "[Quillet]\nLanguage=french.ini\n";
    out = home.run(copy + "quillet-cli selfcheck", &rc);
    EXPECT_EQ(rc, 1) << out;
    EXPECT_NE(out.find("selected language MISSING"), std::string::npos) << out;
    EXPECT_NE(out.find("french.ini"), std::string::npos) << out;
}

TEST(CliSurvival, AFileThatCannotBeCreatedNamesTheCause)
{
    REQUIRE_DESKTOP();
    const std::string folder = tempFolder();
    std::string out;
    EXPECT_EQ(run(cli() + " record -o " + folder + "none/rec.mp4 --seconds 2 --no-countdown -y", &out), 1);
    EXPECT_NE(out.find("The folder does not exist: " + folder + "none/"), std::string::npos) << out;
    std::ofstream(folder + "plain") << "x";
    EXPECT_EQ(run(cli() + " record -o " + folder + "plain/rec.mp4 --seconds 2 --no-countdown -y", &out), 1);
    EXPECT_NE(out.find("Cannot create " + folder + "plain/rec.mp4 (Not a directory)"), std::string::npos) << out;
}

TEST(CliSurvival, AnImageRecordingOfAStillScreenSaysSo)
{
    REQUIRE_DESKTOP();
    PrivateDisplay x;
    ASSERT_TRUE(x.ready());
    const std::string folder = tempFolder();
    // The first picture holds the whole screen; nothing changes after it.
    std::string out;
    EXPECT_EQ(run("DISPLAY=" + x.name() + " " + cli() + " record -o " + folder + "shot.jpg --seconds 3 --fps 5 " +
                      "--no-countdown -y",
                  &out),
              0)
        << out;
    int files = 0;
    for (const auto& e : fs::directory_iterator(folder))
        files += e.path().extension() == ".jpg";
    if (files == 0) {
        EXPECT_NE(out.find("No picture was saved"), std::string::npos) << out;
    } else {
        // Named as written, never as "shot.jpg", which does not exist.
        EXPECT_NE(out.find(std::to_string(files) + " pictures were saved, " + folder + "shot_000.jpg to "),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(out.find("Play it now?  \n" + folder + "shot.jpg"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(folder + "shot.jpg"));
}

// The picture of an area, read back as 8-bit RGB, top row first.
struct Picture {
    int w = 0, h = 0;
    std::string rgb;
    uint32_t at(int x, int y) const
    {
        const size_t i = (size_t(y) * w + x) * 3;
        return uint32_t(uint8_t(rgb[i])) << 16 | uint32_t(uint8_t(rgb[i + 1])) << 8 | uint8_t(rgb[i + 2]);
    }
};

bool near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift : {16, 8, 0})
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance)
            return false;
    return true;
}

// Records the area of a screen of `size` showing the pattern, as lossless
// PNG, and checks the picture against the screen: its size by the size rule,
// each edge stripe of the area along the picture's edge, and every block of
// the area at its scaled place.
void expectWholeArea(const std::string& size, const PatternArea& area, int outW, int outH)
{
    SCOPED_TRACE(size + " area " + std::to_string(area.x) + "," + std::to_string(area.y) + "," +
                 std::to_string(area.w) + "," + std::to_string(area.h));
    PrivateDisplay x(size);
    ASSERT_TRUE(x.ready());
    const std::string folder = tempFolder();
    const std::string log = folder + "pattern.log";
    Stopped pattern{spawn({"./area_pattern", std::to_string(area.x), std::to_string(area.y), std::to_string(area.w),
                           std::to_string(area.h)},
                          log, {"DISPLAY=" + x.name()})};
    ASSERT_TRUE(waitForText(log, "ready", 10000)) << readText(log);
    // The pointer sits where four blocks meet, away from every point checked.
    std::system(("DISPLAY=" + x.name() + " xdotool mousemove 160 160").c_str());
    const std::string where = std::to_string(area.x) + "," + std::to_string(area.y) + "," + std::to_string(area.w) +
                              "," + std::to_string(area.h);
    std::string out;
    ASSERT_EQ(run("DISPLAY=" + x.name() + " " + cli() + " record -o " + folder + "area.png --quality 4 --seconds 1 " +
                      "--fps 5 --area " + where + " --sound off --no-countdown -y",
                  &out),
              0)
        << out;
    const std::string shot = folder + "area_000.png";
    ASSERT_TRUE(fs::exists(shot)) << out;
    Picture p;
    p.w = number(probe(shot, "v:0", "stream=width"));
    p.h = number(probe(shot, "v:0", "stream=height"));
    EXPECT_EQ(p.w, outW);
    EXPECT_EQ(p.h, outH);
    p.rgb = commandOutput("ffmpeg -v error -i '" + shot + "' -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(p.rgb.size(), size_t(p.w) * p.h * 3);
    // The screen as a screenshot shows it, to compare with.
    Picture screen;
    std::sscanf(size.c_str(), "%dx%d", &screen.w, &screen.h);
    screen.rgb = commandOutput("ffmpeg -v error -f x11grab -video_size " + size + " -i " + x.name() +
                               " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(screen.rgb.size(), size_t(screen.w) * screen.h * 3);

    // Edge stripes: every outermost row and column of the area is in the
    // picture, at its outermost row and column.
    int bad = 0;
    for (int i = p.w / 10; i < p.w * 9 / 10; i += 7) {
        bad += !near(p.at(i, 0), kStripeTop, 60);
        bad += !near(p.at(i, p.h - 1), kStripeBottom, 60);
    }
    for (int i = p.h / 10; i < p.h * 9 / 10; i += 7) {
        bad += !near(p.at(0, i), kStripeLeft, 60);
        bad += !near(p.at(p.w - 1, i), kStripeRight, 60);
    }
    EXPECT_EQ(bad, 0) << "edge points whose stripe is missing";
    // Blocks: the centre of every block of the area, at its scaled place.
    const double sx = double(p.w) / area.w, sy = double(p.h) / area.h;
    int checked = 0;
    bad = 0;
    for (int by = area.y / kPatternBlock; by * kPatternBlock < area.y + area.h; ++by)
        for (int bx = area.x / kPatternBlock; bx * kPatternBlock < area.x + area.w; ++bx) {
            const int cx = bx * kPatternBlock + kPatternBlock / 2, cy = by * kPatternBlock + kPatternBlock / 2;
            if (cx < area.x + 20 || cy < area.y + 20 || cx >= area.x + area.w - 20 || cy >= area.y + area.h - 20)
                continue;
            const int ox = int((cx - area.x + 0.5) * sx), oy = int((cy - area.y + 0.5) * sy);
            ++checked;
            bad += !near(p.at(ox, oy), screen.at(cx, cy), 24);
        }
    EXPECT_GT(checked, 50);
    EXPECT_EQ(bad, 0) << "of " << checked << " blocks, not where the screen has them";
}

TEST(CliSurvival, TheAreaIsRecordedWholeAndScaledByTheSizeRule)
{
    REQUIRE_DESKTOP();
    if (access("./area_pattern", X_OK) != 0)
        GTEST_SKIP() << "area_pattern was not built";
    // The whole screen given as an area: every row, 1080 rounded up to 1088.
    expectWholeArea("1920x1080", {0, 0, 1920, 1080}, 1920, 1088);
    // On a 2560 x 1440 screen the whole screen and an area wider than the
    // limit are both scaled down whole, not cropped.
    expectWholeArea("2560x1440", {0, 0, 2560, 1440}, 1920, 1088);
    expectWholeArea("2560x1440", {0, 0, 2400, 992}, 1920, 800);
}

} // namespace
} // namespace quillet
