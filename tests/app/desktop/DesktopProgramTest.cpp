#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/core/Language.h"
#include "app/desktop/MainWindowLayout.h"
#include "base/ProfileStore.h"
#include "tests/app/desktop/DesktopDriver.h"

namespace quillet::desktop {
namespace fs = std::filesystem;
using testing::DesktopDriver;
using testing::waitUntil;

namespace {

constexpr int kCountdownMs = 5000;
// Texts the program shows, from the English file it runs with.
struct Texts {
    explicit Texts(const fs::path& folder) : language(folder.string() + "/") { language.load(); }
    std::string msg(const char* key) const { return language.lookupMessage(key); }
    std::string title() const { return language.lookupText("Quillet", "Title", nullptr); }
    Language language;
};

std::string exact(const std::string& s)
{
    std::string r = "^";
    for (char c : s) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            r += '\\';
        r += c;
    }
    return r + "$";
}

// A regular expression for exactly `s`, quoted for the shell.
std::string quotedRegex(const std::string& s)
{
    return "'" + exact(s) + "'";
}

// The one recording in a folder ("" when there is not exactly one).
fs::path onlyRecording(const fs::path& folder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        files.push_back(e.path());
    return files.size() == 1 ? files.front() : fs::path();
}

struct Probe {
    std::string video, audio;
    double seconds = 0;
};
Probe probe(const DesktopDriver& d, const fs::path& file)
{
    Probe p;
    std::istringstream out(d.shell("ffprobe -v error -show_entries stream=codec_type,codec_name:format=duration "
                                   "-of default=nw=1 '" + file.string() + "'"));
    std::string line, name;
    while (std::getline(out, line)) {
        if (line.rfind("codec_name=", 0) == 0)
            name = line.substr(11);
        else if (line == "codec_type=video")
            p.video = name;
        else if (line == "codec_type=audio")
            p.audio = name;
        else if (line.rfind("duration=", 0) == 0)
            p.seconds = std::atof(line.c_str() + 9);
    }
    return p;
}

class DesktopProgram : public ::testing::Test {
protected:
    static bool haveDesktop() { return std::getenv("QUILLET_TEST_ENV") && std::getenv("DISPLAY"); }
    static void SetUpTestSuite()
    {
        if (haveDesktop())
            DesktopDriver::startTray();
    }
    void SetUp() override
    {
        if (!haveDesktop())
            GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)";
    }
    static void TearDownTestSuite() { DesktopDriver::stopTray(); }

    void writeSettings(const std::string& text)
    {
        fs::create_directories(d_.settingsFile.parent_path());
        std::ofstream(d_.settingsFile) << text;
    }
    int setting(const char* section, const char* key) const
    {
        return ProfileStore(d_.settingsFile.string()).getInt(section, key, -999);
    }
    // Starts the program and waits for its main window.
    std::string startProgram(pid_t* pid)
    {
        *pid = d_.launch();
        return d_.waitWindow(exact(texts_.title()));
    }
    // Answers the start question with OK and waits out the countdown.
    void confirmStart()
    {
        const std::string box = d_.waitWindow(exact(texts_.msg("start")));
        ASSERT_FALSE(box.empty()) << "no start confirmation";
        d_.keys(box, "Return");
        std::this_thread::sleep_for(std::chrono::milliseconds(kCountdownMs + 500));
    }
    // Opens the tray menu and picks the n-th enabled entry from the top.
    void trayMenuEntry(int enabledIndex)
    {
        ASSERT_EQ(d_.clickTrayIcon(3), 1) << "the tray icon is not docked";
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        std::string down;
        for (int i = 0; i <= enabledIndex; ++i)
            down += " Down";
        d_.keys(down + " Return");
    }
    // Answers the end question ("play it now?").
    void answerEnd(const char* key)
    {
        const std::string box = d_.waitWindow(exact(texts_.msg("recEnd2")), 15000);
        ASSERT_FALSE(box.empty()) << "no end-of-recording question";
        d_.keys(box, key);
    }

    DesktopDriver d_{QUILLET_BUILD_BIN};
    Texts texts_{d_.languageFolder};
};

} // namespace

// Start from the button, pause and resume from the buttons, stop from the
// tray menu: one playable MP4 whose length leaves out the pause.
TEST_F(DesktopProgram, ButtonsStartPauseResumeTrayStops)
{
    writeSettings("[screen]\nfps=10\nSel3=0\n[Quillet]\na=1\n");
    pid_t pid = 0;
    const std::string main = startProgram(&pid);
    ASSERT_FALSE(main.empty());
    d_.click(main, layout::kStart.centreX(), layout::kStart.centreY());
    confirmStart();
    // Recording began about half a second before confirmStart returned.
    const auto began = std::chrono::steady_clock::now() - std::chrono::milliseconds(500);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    d_.click(main, layout::kPause.centreX(), layout::kPause.centreY());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    d_.click(main, layout::kStart.centreX(), layout::kStart.centreY()); // resume: no question, no countdown
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(d_.windowVisible(exact(texts_.msg("start")))) << "resuming asks nothing";
    EXPECT_FALSE(d_.windowVisible(exact(texts_.title()))) << "a resumed recording goes to the tray";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    // Recording: start is greyed, so pause is the first entry and stop the second.
    trayMenuEntry(1);
    answerEnd("Escape");
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_FALSE(d_.waitWindow(exact(texts_.title()), 5000).empty()) << "the window is back after the stop";

    const fs::path file = onlyRecording(d_.recordings);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.extension(), ".mp4");
    const Probe p = probe(d_, file);
    EXPECT_EQ(p.video, "h264");
    EXPECT_EQ(p.audio, "aac");
    EXPECT_GT(p.seconds, 3.5) << "about 3 + 2 s recorded";
    EXPECT_LT(p.seconds, wallSeconds - 2.0) << "the 3 s pause is not in the file";

    // Stopped: pause and stop are greyed, so exit is the third enabled entry
    // (start, show/hide, exit).
    trayMenuEntry(2);
    EXPECT_EQ(d_.waitExit(pid, 8000), 0);
}

// Commands from second starts of the program reach the first one.
TEST_F(DesktopProgram, SecondStartsRunEndExitAndRemove)
{
    writeSettings("[screen]\nfps=5\nSel3=1\n[Quillet]\na=0\n");
    EXPECT_EQ(d_.runToEnd({"end"}), 0) << "no instance: ends at once";
    EXPECT_EQ(d_.runToEnd({"exit"}), 0);
    EXPECT_FALSE(d_.windowVisible(exact(texts_.title())));

    pid_t first = 0;
    const std::string main = startProgram(&first);
    ASSERT_FALSE(main.empty());

    EXPECT_EQ(d_.runToEnd({"run"}), 0);
    confirmStart();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(d_.runToEnd({"end"}), 0);
    answerEnd("Escape");
    const fs::path file = onlyRecording(d_.recordings);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.extension(), ".flv");
    const Probe p = probe(d_, file);
    EXPECT_EQ(p.video, "h264");
    EXPECT_GT(p.seconds, 2.0);

    // A plain second start asks; No leaves the first as it was.
    const pid_t second = d_.launchSecond({});
    const std::string question = d_.waitWindow(exact(texts_.msg("Repeate2")));
    ASSERT_FALSE(question.empty()) << "no question from the second start";
    d_.keys(question, "Escape");
    EXPECT_EQ(d_.waitExit(second, 5000), 0);
    EXPECT_TRUE(d_.alive(first));
    EXPECT_EQ(d_.waitWindow(exact(texts_.title()), 2000), main) << "the same window, still shown";

    EXPECT_EQ(d_.runToEnd({"exit"}), 0);
    EXPECT_EQ(d_.waitExit(first, 8000), 0) << "exit from a second start ends the first";

    // "-remove" while an instance runs: it ends, and the settings are gone.
    first = 0;
    ASSERT_FALSE(startProgram(&first).empty());
    ASSERT_TRUE(fs::exists(d_.settingsFile));
    const pid_t remover = d_.launchSecond({"-remove"});
    EXPECT_EQ(d_.waitExit(first, 8000), 0);
    const std::string removed = d_.waitWindow(exact(texts_.language.messageCaption()));
    ASSERT_FALSE(removed.empty()) << "no Removed message";
    d_.keys(removed, "Return");
    EXPECT_EQ(d_.waitExit(remover, 5000), 0);
    EXPECT_FALSE(fs::exists(d_.settingsFile));

    // "-language" with one argument is no language change: a normal start.
    first = 0;
    first = d_.launch({"-language"});
    EXPECT_FALSE(d_.waitWindow(exact(texts_.title())).empty());
    EXPECT_EQ(d_.runToEnd({"exit"}), 0);
    EXPECT_EQ(d_.waitExit(first, 8000), 0);
    EXPECT_FALSE(fs::exists(d_.languageFolder / "sel.ini"));
}

// Started from the tray menu with "hide while recording": the window stays
// away until the end, and "play it now" starts the player beside the program.
TEST_F(DesktopProgram, TrayStartHiddenWindowPlayerOffered)
{
    writeSettings("[screen]\nfps=10\nSel3=0\nmin=1\n[Quillet]\na=1\n");
    fs::create_directories(d_.program.parent_path() / "Player");
    const fs::path player = d_.program.parent_path() / "Player" / "quillet-player";
    const fs::path played = d_.root / "played.txt";
    std::ofstream(player) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << played.string() << "'\n";
    fs::permissions(player, fs::perms::owner_all);

    pid_t pid = 0;
    ASSERT_FALSE(startProgram(&pid).empty());
    trayMenuEntry(0); // stopped: start is the first entry
    const std::string box = d_.waitWindow(exact(texts_.msg("start")));
    ASSERT_FALSE(box.empty());
    d_.keys(box, "Return");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_FALSE(d_.windowVisible(exact(texts_.title()))) << "hidden while recording";
    std::this_thread::sleep_for(std::chrono::milliseconds(kCountdownMs + 2000));
    trayMenuEntry(1); // recording: pause, stop
    answerEnd("Return");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(played); }, 5000)) << "the player was not started";
    std::ifstream in(played);
    const std::string arg((std::istreambuf_iterator<char>(in)), {});
    const fs::path file = onlyRecording(d_.recordings);
    EXPECT_EQ(arg, file.string()) << "the player gets the recording's path";
    EXPECT_EQ(probe(d_, file).video, "h264");
    EXPECT_EQ(d_.runToEnd({"exit"}), 0);
    EXPECT_EQ(d_.waitExit(pid, 8000), 0);
}

// Asked to end by a signal (log-off, kill) while recording, the program
// finalises the file as its exit command does, and asks nothing.
TEST_F(DesktopProgram, TerminationSignalFinalisesTheRecording)
{
    writeSettings("[screen]\nfps=10\nSel3=0\n[Quillet]\na=1\n");
    pid_t pid = 0;
    ASSERT_FALSE(startProgram(&pid).empty());
    EXPECT_EQ(d_.runToEnd({"run"}), 0);
    confirmStart();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(d_.waitExit(pid, 12000), 0);
    const fs::path file = onlyRecording(d_.recordings);
    ASSERT_FALSE(file.empty());
    const Probe p = probe(d_, file);
    EXPECT_EQ(p.video, "h264");
    EXPECT_EQ(p.audio, "aac");
    EXPECT_GT(p.seconds, 2.0);
}

// A recording cut off by a kill is offered for repair at the next start, and
// after the repair it plays with what was recorded.
TEST_F(DesktopProgram, NextStartRepairsARecordingCutByAKill)
{
    writeSettings("[screen]\nfps=10\nSel3=0\n[Quillet]\na=1\n");
    pid_t pid = 0;
    ASSERT_FALSE(startProgram(&pid).empty());
    EXPECT_EQ(d_.runToEnd({"run"}), 0);
    confirmStart();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    ::kill(pid, SIGKILL);
    d_.waitExit(pid, 5000);

    // The boxes share their caption with the main window: look past it.
    const std::string caption = quotedRegex(texts_.language.messageCaption());
    auto box = [&](const std::string& main) {
        std::string id;
        waitUntil(
            [&] {
                id = d_.shell("xdotool search --onlyvisible --name " + caption + " | grep -vx " + main + " | head -n1");
                return !id.empty();
            },
            10000);
        return id;
    };
    pid = d_.launch();
    const std::string main = d_.waitWindow(exact(texts_.title()));
    ASSERT_FALSE(main.empty());
    const std::string question = box(main);
    ASSERT_FALSE(question.empty()) << "no repair offered";
    d_.keys(question, "Return");
    EXPECT_TRUE(waitUntil([&] { return d_.shell("ls '" + d_.recordings.string() + "' | grep -c journal") == "0"; },
                          10000))
        << "the repair did not run";
    const std::string done = box(main);
    ASSERT_FALSE(done.empty()) << "no word on the repair";
    d_.keys(done, "Return");
    EXPECT_EQ(d_.runToEnd({"exit"}), 0);
    EXPECT_EQ(d_.waitExit(pid, 8000), 0);

    const fs::path file = onlyRecording(d_.recordings);
    ASSERT_FALSE(file.empty()) << "the journal is left beside the recording, or the recording is gone:\n"
                               << d_.shell("ls -la '" + d_.recordings.string() + "'");
    const Probe p = probe(d_, file);
    EXPECT_EQ(p.video, "h264");
    EXPECT_GT(p.seconds, 2.0);
    EXPECT_EQ(d_.shell("ffmpeg -v error -i '" + file.string() + "' -f null - 2>&1"), "");
}

} // namespace quillet::desktop
