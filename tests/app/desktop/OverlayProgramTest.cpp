// The desktop program driven from outside as a user would, with the hotkeys,
// the area selection and its frame, the countdown and the screen pen; the
// recordings are read back (ffprobe for video, the PNG pictures of image
// recordings pixel by pixel).
#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/core/Language.h"
#include "app/desktop/MainWindowLayout.h"
#include "tests/app/desktop/DesktopDriver.h"
#include "tests/app/desktop/OverlayTestSupport.h"

namespace quillet::desktop {
namespace fs = std::filesystem;
using namespace testing;

namespace {

constexpr unsigned kRecordingRing = 0x808080;
constexpr unsigned kInk = 0xFF0000;
constexpr int kCountdownMs = 5000;

double probeSeconds(const DesktopDriver& d, const fs::path& file, std::string* codec)
{
    std::istringstream out(d.shell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name:"
                                   "format=duration -of default=nw=1 '" + file.string() + "'"));
    std::string line;
    double seconds = 0;
    while (std::getline(out, line)) {
        if (line.rfind("codec_name=", 0) == 0)
            *codec = line.substr(11);
        else if (line.rfind("duration=", 0) == 0)
            seconds = std::atof(line.c_str() + 9);
    }
    return seconds;
}

// Every pixel of a picture has `rgb`, except where the cursor parked outside
// the area shows its corner (the bottom-right pixel).
int pixelsNotOfColour(const QImage& picture, unsigned rgb)
{
    int n = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if ((picture.pixel(x, y) & 0xFFFFFF) != rgb && !(x == picture.width() - 1 && y == picture.height() - 1))
                ++n;
    return n;
}

class OverlayProgram : public ::testing::Test {
protected:
    static bool haveDesktop() { return std::getenv("QUILLET_TEST_ENV") && std::getenv("DISPLAY"); }
    void SetUp() override
    {
        if (!haveDesktop())
            GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)";
        language_.load();
    }
    void writeSettings(const std::string& text)
    {
        fs::create_directories(d_.settingsFile.parent_path());
        std::ofstream(d_.settingsFile) << text;
    }
    std::string start(pid_t* pid)
    {
        *pid = d_.launch();
        const std::string main = d_.waitWindow(exactName(language_.lookupText("Quillet", "Title", nullptr)));
        pause(500);
        return main;
    }
    // F8, OK in the start question; returns when the countdown has begun.
    void startWithHotkey()
    {
        d_.shell("xdotool mousemove 1900 1060"); // the pointer out of every area
        d_.keys("F8");
        const std::string box = d_.waitWindow(exactName(language_.lookupMessage("start")));
        ASSERT_FALSE(box.empty()) << "F8 asked nothing";
        d_.keys(box, "Return");
    }
    void stopWithHotkey()
    {
        d_.keys("F10");
        const std::string box = d_.waitWindow(exactName(language_.lookupMessage("recEnd2")), 15000);
        ASSERT_FALSE(box.empty()) << "F10 did not stop";
        d_.keys(box, "Escape");
        pause(500);
    }

    DesktopDriver d_{QUILLET_BUILD_BIN};
    Language language_{d_.languageFolder.string() + "/"};
};

} // namespace

// F8 starts (after its question and the countdown), F9 pauses, F8 resumes, F10
// stops: the file holds the recorded time without the pause. A key another
// program holds (F11) is only missing: the program runs on, the other program
// gets the key, and the pen button still opens the pen.
TEST_F(OverlayProgram, HotkeysDriveARecordingAndAHeldKeyIsOnlyMissing)
{
    TestClient holder(d_, {"grab", "F11"});
    ASSERT_TRUE(holder.ready());
    writeSettings("[screen]\nfps=10\nSel3=0\n[Quillet]\na=0\n");
    pid_t pid = 0;
    const std::string main = start(&pid);
    ASSERT_FALSE(main.empty());

    startWithHotkey();
    pause(kCountdownMs + 2500);
    d_.keys("F9");
    pause(3000);
    d_.keys("F8"); // resumes: no question
    pause(300);
    EXPECT_FALSE(d_.windowVisible(exactName(language_.lookupMessage("start"))));
    pause(2000);
    d_.keys("F11");
    pause(800);
    EXPECT_NE(holder.output().find("pressed F11"), std::string::npos) << "the holder gets its key";
    EXPECT_FALSE(d_.windowVisible("^quilletPen5$"));
    stopWithHotkey();
    EXPECT_TRUE(d_.alive(pid));

    const std::vector<fs::path> files = [&] {
        std::vector<fs::path> f;
        for (const auto& e : fs::directory_iterator(d_.recordings))
            f.push_back(e.path());
        return f;
    }();
    ASSERT_EQ(files.size(), 1u);
    std::string codec;
    const double seconds = probeSeconds(d_, files.front(), &codec);
    EXPECT_EQ(codec, "h264");
    EXPECT_GT(seconds, 3.5) << "about 2.5 + 2 s recorded";
    EXPECT_LT(seconds, 6.5) << "the 3 s pause is not in the file";

    std::ifstream log(d_.root / "program.log");
    const std::string printed((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(printed.find("F11"), std::string::npos) << "the refused key is named on the console";

    // The pen button: drawing over the frozen screen, then the toolbar, then closed.
    d_.click(main, layout::kPen.centreX(), layout::kPen.centreY());
    ASSERT_FALSE(d_.waitWindow("^quilletPen5$", 3000).empty());
    const std::string pen = d_.shell("xdotool search --onlyvisible --name '^quilletPen5$' | head -n1");
    EXPECT_EQ(d_.shell("xdotool getwindowgeometry " + pen + " | grep Geometry"), "  Geometry: 1920x1080");
    // The toolbar sits at the top middle: pen, then close.
    d_.shell("xdotool mousemove 976 10 click 1");
    pause(600);
    EXPECT_EQ(d_.shell("xdotool getwindowgeometry " + pen + " | grep Position"), "  Position: 960,0 (screen: 0)");
    EXPECT_EQ(d_.shell("xdotool getwindowgeometry " + pen + " | grep Geometry"), "  Geometry: 59x23");
    d_.shell("xdotool mousemove 1000 10 click 1");
    pause(600);
    EXPECT_FALSE(d_.windowVisible("^quilletPen5$")) << "close hides it";
}

// Picking: a window too small is refused with "area1"; Escape and a click on
// the bare desktop leave the previous area; the picked window is followed when
// it moves, also during the recording, and the recording holds exactly that
// window: its colour edge to edge, nothing of the frame. When the window
// closes the frame stays at its last rectangle.
TEST_F(OverlayProgram, PickedWindowIsFollowedAndRecordedEdgeToEdge)
{
    constexpr unsigned kBlue = 0x3366CC;
    TestClient target(d_, {"window", "480", "400", "320", "240", "3366cc", "pick-target"});
    TestClient small(d_, {"window", "1300", "300", "48", "48", "cc3333", "small-target"});
    ASSERT_TRUE(target.ready() && small.ready());
    writeSettings(kPictureSettings);
    pid_t pid = 0;
    const std::string main = start(&pid);
    ASSERT_FALSE(main.empty());

    settingsMenuEntry(d_, main, kMenuSelectWindow);
    d_.shell("xdotool mousemove 1324 324 sleep 0.3 click 1");
    const std::string box = waitWindowOtherThan(d_, exactName(language_.messageCaption()), main);
    ASSERT_FALSE(box.empty()) << "no area1 message for a 48 × 48 window";
    d_.keys(box, "Return");
    pause(400);
    EXPECT_EQ(countColour(screenshot(d_), kFrameGreen, 0, 0, 1920, 1080), 0) << "no frame after a refusal";

    settingsMenuEntry(d_, main, kMenuSelectWindow);
    d_.shell("xdotool mousemove 640 520 sleep 0.3");
    QImage shot = screenshot(d_);
    EXPECT_EQ(countColour(shot, 0x00FFFF, 480, 400, 485, 640), 5 * 240) << "the cyan outline while picking";
    d_.keys("Escape");
    pause(400);
    EXPECT_EQ(countColour(screenshot(d_), kFrameGreen, 0, 0, 1920, 1080), 0) << "Escape leaves the whole screen";

    settingsMenuEntry(d_, main, kMenuSelectWindow);
    d_.shell("xdotool mousemove 640 520 sleep 0.3 click 1");
    pause(500);
    shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kFrameGreen, 474, 400, 480, 640), 100) << "the ring left of the window";
    EXPECT_EQ(countColour(shot, kFrameGreen, 480, 400, 800, 640), 0) << "nothing of it inside";

    settingsMenuEntry(d_, main, kMenuSelectWindow);
    d_.shell("xdotool mousemove 1700 900 sleep 0.3 click 1"); // the bare desktop
    pause(400);
    EXPECT_GT(countColour(screenshot(d_), kFrameGreen, 474, 400, 480, 640), 100) << "the frame stays";

    // The window moves: the frame follows.
    d_.shell("xdotool search --name '^pick-target$' windowmove 600 300");
    pause(600);
    shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kFrameGreen, 594, 300, 600, 540), 100);
    EXPECT_EQ(countColour(shot, kFrameGreen, 474, 400, 480, 640), 0);

    startWithHotkey();
    pause(kCountdownMs + 1500);
    d_.shell("xdotool search --name '^pick-target$' windowmove 900 500"); // during the recording
    pause(1500);
    shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kRecordingRing, 894, 500, 900, 740), 100) << "the frame went along";
    EXPECT_EQ(countColour(shot, kFrameGreen, 0, 0, 1920, 1080), 0) << "not editable while recording";
    stopWithHotkey();

    const std::vector<fs::path> pictures = recordedPictures(d_.recordings);
    ASSERT_FALSE(pictures.empty());
    for (const fs::path& f : pictures) {
        SCOPED_TRACE(f.filename().string());
        const QImage p = picture(f);
        ASSERT_EQ(p.size(), QSize(320, 240)) << "exactly the window's size";
        EXPECT_EQ(pixelsNotOfColour(p, kBlue), 0) << "only the window, edge to edge, before and after it moved";
        EXPECT_EQ(countColour(p, kFrameGreen, 0, 0, 320, 240), 0);
    }

    // The window closes: the last rectangle stays the area.
    target.end();
    pause(500);
    EXPECT_GT(countColour(screenshot(d_), kFrameGreen, 894, 500, 900, 740), 100);
    EXPECT_TRUE(d_.alive(pid));
}

// Dragging: 31 × 40 is refused (the selector stays, with no buttons), 40 × 40
// accepted with OK. The frame then moves by its top edge and grows by its
// right edge, and the recording reads exactly the area it frames. Escape in
// a new drag leaves the area as it was.
TEST_F(OverlayProgram, DraggedAreaIsFramedMovedResizedAndRecorded)
{
    constexpr unsigned kOrange = 0xAA7722;
    TestClient under(d_, {"window", "900", "500", "300", "200", "aa7722", "drag-target"});
    ASSERT_TRUE(under.ready());
    writeSettings(kPictureSettings);
    pid_t pid = 0;
    const std::string main = start(&pid);
    ASSERT_FALSE(main.empty());

    settingsMenuEntry(d_, main, kMenuSelectArea);
    pause(500);
    drag(d_, 600, 300, 631, 340);
    pause(300);
    QImage shot = screenshot(d_);
    EXPECT_EQ(countColour(shot, 0xFFFFFF, 545, 305, 615, 335), 0) << "no OK button for 31 × 40";
    drag(d_, 600, 300, 640, 340);
    d_.shell("xdotool mousemove 560 320 sleep 0.2 click 1"); // OK: left of the centre
    pause(600);
    shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kFrameGreen, 594, 300, 600, 340), 10) << "framed 40 × 40";
    EXPECT_EQ(countColour(shot, kFrameGreen, 600, 300, 640, 340), 0);

    // Moved by the top edge (left of its middle handle), then widened by the right edge.
    drag(d_, 605, 296, 905, 496);
    drag(d_, 943, 520, 1043, 520);
    shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kFrameGreen, 1040, 500, 1046, 540), 10) << "the right edge went to 1040";
    EXPECT_GT(countColour(shot, kFrameGreen, 894, 500, 900, 540), 10) << "the left edge stayed at 900";

    settingsMenuEntry(d_, main, kMenuSelectArea);
    pause(500);
    drag(d_, 100, 600, 400, 800);
    d_.keys("Escape Escape"); // clears the selection, then closes
    pause(500);
    shot = screenshot(d_);
    EXPECT_GT(countColour(shot, kFrameGreen, 1040, 500, 1046, 540), 10) << "the area is as it was";
    EXPECT_EQ(countColour(shot, kFrameGreen, 94, 600, 100, 800), 0);

    startWithHotkey();
    pause(kCountdownMs + 1500);
    stopWithHotkey();
    const std::vector<fs::path> pictures = recordedPictures(d_.recordings);
    ASSERT_FALSE(pictures.empty());
    const QImage p = picture(pictures.front());
    // 140 × 40 rounded for the coders: (n + 9) down to a multiple of 16.
    ASSERT_EQ(p.size(), QSize(144, 48));
    EXPECT_EQ(pixelsNotOfColour(p, kOrange), 0) << "what the frame showed, nothing of the frame";
}

// The countdown shows 5 in the middle and 4 one step towards the corner, and
// the first recorded picture comes after it. With the pen on, strokes drawn
// over the frozen screen are recorded red where they were drawn, and the live
// desktop is back once the pen is off. A killed program leaves nothing on
// the screen.
TEST_F(OverlayProgram, CountdownThenPenStrokesAreRecordedAndAKilledProgramLeavesNothing)
{
    writeSettings(kPictureSettings);
    pid_t pid = 0;
    const std::string main = start(&pid);
    ASSERT_FALSE(main.empty());
    // An area where the first digit stands.
    settingsMenuEntry(d_, main, kMenuSelectArea);
    pause(500);
    drag(d_, 800, 380, 1120, 620);
    d_.shell("xdotool mousemove 900 500 sleep 0.2 click 1");
    pause(500);

    startWithHotkey();
    pause(500);
    const QImage five = screenshot(d_);
    pause(1000);
    const QImage four = screenshot(d_);
    const QRect digit5 = boundsOfColour(five, kDigitGreen);
    const QRect digit4 = boundsOfColour(four, kDigitGreen);
    ASSERT_FALSE(digit5.isEmpty()) << "no digit on the screen";
    EXPECT_TRUE(QRect(810, 390, 300, 300).contains(digit5)) << "5 in the middle";
    ASSERT_FALSE(digit4.isEmpty());
    EXPECT_TRUE(QRect(1012, 528, 300, 300).contains(digit4)) << "4 one step on";
    EXPECT_LT(digit4.height(), digit5.height()) << "smaller";
    pause(kCountdownMs - 1500 + 1000);

    d_.keys("F11");
    pause(1000);
    drag(d_, 850, 450, 1050, 450);
    pause(1000);
    const QImage drawn = screenshot(d_);
    d_.keys("F11");
    pause(1200);
    stopWithHotkey();

    EXPECT_GT(countColour(drawn, kInk, 860, 448, 1040, 453), 150) << "the stroke on the screen";
    const std::vector<fs::path> pictures = recordedPictures(d_.recordings);
    ASSERT_GE(pictures.size(), 2u);
    EXPECT_EQ(countColour(picture(pictures.front()), kDigitGreen, 0, 0, 320, 240), 0)
        << "the first picture comes after the countdown";
    bool strokeRecorded = false;
    for (const fs::path& f : pictures)
        strokeRecorded |= countColour(picture(f), kInk, 60, 68, 240, 73) > 150; // 850..1050 at 450, area-relative
    EXPECT_TRUE(strokeRecorded) << "the stroke is in the recording where it was drawn";
    EXPECT_EQ(countColour(picture(pictures.back()), kInk, 0, 0, 320, 240), 0) << "the pen is off at the end";

    // Frame and pen on the screen, then the program is killed.
    d_.keys("F11");
    pause(1000);
    ASSERT_TRUE(d_.windowVisible("^quilletPen5$"));
    ::kill(pid, SIGKILL);
    d_.waitExit(pid, 3000);
    pause(500);
    const QImage after = screenshot(d_);
    EXPECT_EQ(countColour(after, kFrameGreen, 0, 0, 1920, 1080), 0) << "no frame left";
    EXPECT_FALSE(d_.windowVisible("^quilletPen5$")) << "no pen left";
}

} // namespace quillet::desktop
