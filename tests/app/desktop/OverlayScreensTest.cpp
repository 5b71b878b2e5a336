// The overlays on a desktop of two monitors side by side and on a desktop the
// toolkit scales by two: what is picked or dragged is taken in the physical
// pixels the recorder reads, and the recording is exactly what the frame shows.
#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/core/Language.h"
#include "tests/app/desktop/DesktopDriver.h"
#include "tests/app/desktop/OverlayTestSupport.h"

namespace quillet::desktop {
namespace fs = std::filesystem;
using namespace testing;

namespace {

// Everything one colour except the parked cursor's corner pixel.
bool allOfColour(const QImage& p, unsigned rgb)
{
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            if ((p.pixel(x, y) & 0xFFFFFF) != rgb && !(x == p.width() - 1 && y == p.height() - 1))
                return false;
    return true;
}

// A server started for one test, stopped with it.
struct Server {
    pid_t pid = 0;
    std::string display;
    ~Server()
    {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
};

// Starts `command` with "-displayfd 3" and waits for the display number.
bool startServer(const DesktopDriver& d, const std::string& command, const std::string& name, Server* s)
{
    const fs::path fd = d.root / (name + ".display");
    const std::string pid =
        d.shell(command + " -displayfd 3 -nolisten tcp 3>'" + fd.string() + "' >/dev/null 2>&1 & echo $!");
    s->pid = static_cast<pid_t>(std::atoi(pid.c_str()));
    return waitUntil(
        [&] {
            std::ifstream in(fd);
            std::string n;
            if (!(in >> n))
                return false;
            s->display = ":" + n;
            return true;
        },
        10000);
}

class OverlayScreens : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("QUILLET_TEST_ENV") || !std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)";
        language_.load();
        previousDisplay_ = std::getenv("DISPLAY");
        fs::create_directories(d_.settingsFile.parent_path());
        std::ofstream(d_.settingsFile) << kPictureSettings;
    }
    void TearDown() override { setenv("DISPLAY", previousDisplay_.c_str(), 1); }

    std::string start(pid_t* pid)
    {
        *pid = d_.launch();
        const std::string main = d_.waitWindow(exactName(language_.lookupText("Quillet", "Title", nullptr)), 10000);
        pause(500);
        return main;
    }
    void record(int seconds)
    {
        d_.shell("xdotool mousemove 10 1070"); // the pointer out of every area
        d_.keys("F8");
        const std::string box = d_.waitWindow(exactName(language_.lookupMessage("start")));
        ASSERT_FALSE(box.empty());
        d_.keys(box, "Return");
        pause(5000 + seconds * 1000);
        d_.keys("F10");
        const std::string end = d_.waitWindow(exactName(language_.lookupMessage("recEnd2")), 15000);
        ASSERT_FALSE(end.empty());
        d_.keys(end, "Escape");
        pause(500);
    }

    DesktopDriver d_{QUILLET_BUILD_BIN};
    Language language_{d_.languageFolder.string() + "/"};
    std::string previousDisplay_;
};

} // namespace

// Two monitors side by side (two Xinerama heads in a nested server): a window
// on the second one is picked and recorded exactly; the countdown stands on the
// first (primary) monitor and the pen covers that monitor only.
TEST_F(OverlayScreens, TwoMonitorsSideBySide)
{
    if (d_.shell("command -v Xephyr").empty())
        GTEST_SKIP() << "Xephyr is not installed (scripts/install-deps.sh)";
    Server host, nested;
    ASSERT_TRUE(startServer(d_, "Xvfb -screen 0 3840x1200x24", "host", &host));
    setenv("DISPLAY", host.display.c_str(), 1);
    ASSERT_TRUE(startServer(d_, "Xephyr -screen 1920x1080 -screen 1920x1080 +xinerama", "nested", &nested));
    setenv("DISPLAY", nested.display.c_str(), 1);
    ASSERT_TRUE(waitUntil([&] { return !d_.shell("xdpyinfo 2>/dev/null | grep -i 'dimensions'").empty(); }, 5000));
    ASSERT_NE(d_.shell("xdpyinfo | grep dimensions").find("3840x1080"), std::string::npos);

    TestClient target(d_, {"window", "2300", "400", "320", "240", "3366cc", "second-monitor"});
    ASSERT_TRUE(target.ready());
    pid_t pid = 0;
    const std::string main = start(&pid);
    ASSERT_FALSE(main.empty());
    settingsMenuEntry(d_, main, kMenuSelectWindow);
    d_.shell("xdotool mousemove 2460 520 sleep 0.3 click 1");
    pause(600);
    QImage shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kFrameGreen, 2294, 400, 2300, 640), 100) << "framed on the second monitor";
    EXPECT_EQ(countColour(shot, kFrameGreen, 2300, 400, 2620, 640), 0);

    d_.shell("xdotool mousemove 10 1070"); // the pointer out of the area
    d_.keys("F8");
    const std::string box = d_.waitWindow(exactName(language_.lookupMessage("start")));
    ASSERT_FALSE(box.empty());
    d_.keys(box, "Return");
    pause(500);
    const QRect digit = boundsOfColour(screenshot(d_), kDigitGreen);
    EXPECT_TRUE(QRect(810, 390, 300, 300).contains(digit)) << "in the middle of the primary monitor";
    pause(5500);
    d_.keys("F11");
    pause(1000);
    const std::string pen = d_.shell("xdotool search --onlyvisible --name '^quilletPen5$' | head -n1");
    ASSERT_FALSE(pen.empty());
    EXPECT_EQ(d_.shell("xdotool getwindowgeometry " + pen + " | grep Geometry"), "  Geometry: 1920x1080")
        << "the primary monitor only";
    d_.keys("F11");
    pause(500);
    d_.keys("F10");
    const std::string end = d_.waitWindow(exactName(language_.lookupMessage("recEnd2")), 15000);
    ASSERT_FALSE(end.empty());
    d_.keys(end, "Escape");
    pause(500);

    const std::vector<fs::path> pictures = recordedPictures(d_.recordings);
    ASSERT_FALSE(pictures.empty());
    const QImage p = picture(pictures.front());
    EXPECT_EQ(p.size(), QSize(320, 240));
    EXPECT_TRUE(allOfColour(p, 0x3366CC)) << "the window on the second monitor, edge to edge";
    d_.runToEnd({"exit"});
}

// The toolkit scales everything by two: a window at odd coordinates is framed
// on the very next pixels and recorded exactly; a dragged area at odd
// coordinates likewise.
TEST_F(OverlayScreens, ScaledDesktopKeepsPhysicalPixels)
{
    d_.extraEnvironment.push_back("QT_SCALE_FACTOR=2");
    TestClient window(d_, {"window", "1001", "601", "320", "240", "3366cc", "odd-window"});
    TestClient under(d_, {"window", "1201", "201", "80", "80", "aa7722", "odd-area"});
    ASSERT_TRUE(window.ready() && under.ready());
    pid_t pid = 0;
    const std::string main = start(&pid);
    ASSERT_FALSE(main.empty());
    EXPECT_NE(d_.shell("xdotool getwindowgeometry " + main + " | grep Geometry"), "  Geometry: 440x272")
        << "the window is scaled";

    settingsMenuEntry(d_, main, kMenuSelectWindow, 2);
    d_.shell("xdotool mousemove 1100 700 sleep 0.3 click 1");
    pause(600);
    QImage shot = screenshot(d_);
    EXPECT_EQ(shot.pixel(1000, 700) & 0xFFFFFF, kFrameGreen) << "the ring's last pixel touches the window";
    EXPECT_EQ(shot.pixel(1100, 600) & 0xFFFFFF, kFrameGreen);
    EXPECT_EQ(countColour(shot, kFrameGreen, 995, 595, 1327, 847), 6 * 332 * 2 + 6 * 240 * 2 -
                                                                      countColour(shot, 0xFFFFFF, 995, 595, 1327, 847) -
                                                                      countColour(shot, 0xFF0000, 995, 595, 1327, 847))
        << "green, white dashes and red handle lines make the whole 6-pixel ring";
    record(2);
    std::vector<fs::path> pictures = recordedPictures(d_.recordings);
    ASSERT_FALSE(pictures.empty());
    QImage p = picture(pictures.front());
    EXPECT_EQ(p.size(), QSize(320, 240));
    EXPECT_TRUE(allOfColour(p, 0x3366CC));
    for (const fs::path& f : pictures)
        fs::remove(f);

    settingsMenuEntry(d_, main, kMenuSelectArea, 2);
    pause(700);
    drag(d_, 1201, 201, 1281, 281);
    d_.shell("xdotool mousemove 1170 241 sleep 0.2 click 1"); // OK, left of the centre
    pause(600);
    shot = screenshot(d_);
    EXPECT_EQ(countColour(shot, kFrameGreen, 1201, 201, 1281, 281), 0);
    EXPECT_GT(countColour(shot, kFrameGreen, 1195, 201, 1201, 281), 20);
    record(2);
    pictures = recordedPictures(d_.recordings);
    ASSERT_FALSE(pictures.empty());
    p = picture(pictures.front());
    EXPECT_EQ(p.size(), QSize(80, 80));
    EXPECT_TRUE(allOfColour(p, 0xAA7722)) << "the dragged area, to the pixel";
    d_.runToEnd({"exit"});
}

} // namespace quillet::desktop
