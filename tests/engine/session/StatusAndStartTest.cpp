#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "engine/session/FileProblem.h"
#include "engine/session/StartRules.h"
#include "engine/session/StatusText.h"

namespace quillet {
namespace {

TEST(StatusText, ElapsedTextSwitchesToHoursAtOneHour)
{
    EXPECT_EQ(elapsedText(recordedSeconds(899, 15)), "00:59");
    EXPECT_EQ(elapsedText(recordedSeconds(54000, 15)), "01:00:00");
    EXPECT_EQ(elapsedText(3599), "59:59");
    EXPECT_EQ(elapsedText(0), "00:00");
    EXPECT_EQ(elapsedText(100 * 3600 + 61), "100:01:01");
}

TEST(StatusText, TrayIconBlinksWithTheSeconds)
{
    EXPECT_EQ(statusTrayIcon(1), kTrayIconOdd);
    EXPECT_EQ(statusTrayIcon(2), kTrayIconEven);
    EXPECT_EQ(statusTrayIcon(3601), kTrayIconOdd);
}

TEST(StatusText, SlowCaptureWarningBelowHalfTheSlots)
{
    EXPECT_EQ(slowCapturePercent(50, 100), -1);
    EXPECT_EQ(slowCapturePercent(49, 100), 49);
    EXPECT_EQ(slowCapturePercent(0, 0), -1);
    EXPECT_EQ(slowCapturePercent(1, 3), -1); // 1 / 3 slots is not below 3 / 2 == 1
    EXPECT_EQ(slowCapturePercent(1, 4), 25);
    EXPECT_EQ(slowCapturePercent(0, 1), -1); // 1 / 2 == 0 slots needed
}

TEST(StatusText, FormatTakesOneIntegerAndNothingElse)
{
    EXPECT_EQ(formatWithInt("slow (%d%%)", 49), "slow (49%)");
    // Conversions a language file might contain by mistake stay literal.
    EXPECT_EQ(formatWithInt("%s %d %d %n", 7), "%s 7 %d %n");
    EXPECT_EQ(formatWithInt("100%", 1), "100%");
}

TEST(StatusText, TextPlacesAreFilledInOrderAndNeverOverrun)
{
    EXPECT_EQ(formatWithTexts("Cannot create %s (%s)", {"/v/a.mp4", "No such file"}),
              "Cannot create /v/a.mp4 (No such file)");
    EXPECT_EQ(formatWithTexts("%s of %d%% and %s", {"1", "2"}), "1 of 2% and %s");
    EXPECT_EQ(formatWithTexts("no places", {"x"}), "no places");
}

TEST(CaptureArea, SizesRoundToSixteenWithSlack)
{
    Rect out;
    ASSERT_EQ(adjustCaptureArea({10, 20, 110, 120}, 1920, 1080, &out), AreaResult::Ok);
    EXPECT_EQ(out, (Rect{10, 20, 106, 116})); // 100 -> 96
    ASSERT_EQ(adjustCaptureArea({10, 20, 113, 123}, 1920, 1080, &out), AreaResult::Ok);
    EXPECT_EQ(out.right - out.left, 112); // 103 -> 112
    EXPECT_EQ(out.bottom - out.top, 112);
}

TEST(CaptureArea, ShiftedBackOntoTheScreenNeverBelowZero)
{
    Rect out;
    ASSERT_EQ(adjustCaptureArea({1850, 1000, 1953, 1050}, 1920, 1080, &out), AreaResult::Ok);
    EXPECT_EQ(out.right, 1920);
    EXPECT_EQ(out.left, 1920 - 112);
    EXPECT_EQ(out.top, 1000);
    EXPECT_EQ(out.bottom, 1048);
}

TEST(CaptureArea, AnAreaCoveringTheScreenKeepsEveryRowAndColumn)
{
    Rect out;
    // The whole screen as an area: not cut to 1072 rows; the grabber rounds
    // 1080 up to 1088 by scaling, as for the whole screen.
    ASSERT_EQ(adjustCaptureArea({0, 0, 1920, 1080}, 1920, 1080, &out), AreaResult::Ok);
    EXPECT_EQ(out, (Rect{0, 0, 1920, 1080}));
    // Wider than the screen: all of its width, every column of 1366.
    ASSERT_EQ(adjustCaptureArea({0, 0, 3000, 500}, 1366, 768, &out), AreaResult::Ok);
    EXPECT_EQ(out, (Rect{0, 0, 1366, 496}));
    // Rounding up would pass the screen: the whole height instead of a cut.
    ASSERT_EQ(adjustCaptureArea({100, 1, 500, 1080}, 1920, 1080, &out), AreaResult::Ok);
    EXPECT_EQ(out, (Rect{100, 0, 500, 1080}));
}

TEST(CaptureArea, EmptyIsWholeScreenAndNonsenseIsRefused)
{
    Rect out{1, 2, 3, 4};
    EXPECT_EQ(adjustCaptureArea({5, 5, 5, 100}, 1920, 1080, &out), AreaResult::WholeScreen);
    EXPECT_EQ(adjustCaptureArea({0, 0, 6, 100}, 1920, 1080, &out), AreaResult::Bad);   // rounds to 0 wide
    EXPECT_EQ(adjustCaptureArea({100, 0, 50, 100}, 1920, 1080, &out), AreaResult::Bad); // negative width
    EXPECT_EQ(adjustCaptureArea({2000, 0, 2100, 100}, 1920, 1080, &out), AreaResult::Bad); // off screen
    EXPECT_EQ(adjustCaptureArea({0, -300, 100, -100}, 1920, 1080, &out), AreaResult::Bad);
    EXPECT_EQ(out, (Rect{1, 2, 3, 4})); // untouched on refusal
}

TEST(StartTexts, ConfirmationAndEndMessageComposeLanguageTexts)
{
    const std::map<std::string, std::string> texts = {
        {"recFile", "\nFile: "}, {"recAudio", "\nSound: "}, {"recYes", "on"}, {"recNo", "off"},
        {"FPS", "\nRate: %d/s"}, {"start1", "\nGo."}, {"FpsErr", "Slow %d%%. "}, {"RecEnd", "Done: "}};
    const MessageLookup lookup = [&](const char* key) {
        auto it = texts.find(key);
        return it == texts.end() ? std::string() : it->second;
    };
    EXPECT_EQ(confirmationText("MP4", "/v/a.mp4", true, 15, lookup), "MP4\nFile: /v/a.mp4\nSound: on\nRate: 15/s\nGo.");
    EXPECT_EQ(confirmationText("FLV", "b.flv", false, 5, lookup), "FLV\nFile: b.flv\nSound: off\nRate: 5/s\nGo.");
    // The end names the rate the recording ran at.
    EXPECT_EQ(endMessageText(50, 100, "x.mp4", 25, lookup), "Done: x.mp4\nRate: 25/s");
    EXPECT_EQ(endMessageText(49, 100, "x.mp4", 15, lookup), "Slow 49%. Done: x.mp4\nRate: 15/s");
}

TEST(StartTexts, AFileThatCannotBeCreatedSaysWhy)
{
    const std::map<std::string, std::string> texts = {
        {"errNoFolder", "no folder %s"}, {"errDenied", "denied %s (%s)"}, {"errCreate", "cannot create %s (%s)"}};
    const MessageLookup lookup = [&](const char* key) { return texts.at(key); };
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("quillet_fp_" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "dir");
    std::ofstream(root / "plain") << "x";
    const std::string r = root.string();
    EXPECT_EQ(fileProblemText(r + "/missing/a.mp4", lookup), "no folder " + r + "/missing/");
    EXPECT_EQ(fileProblemText(r + "/plain/a.mp4", lookup), "cannot create " + r + "/plain/a.mp4 (Not a directory)");
    EXPECT_EQ(fileProblemText(r + "/dir/a.mp4", lookup), "") << "creatable: another cause";
    EXPECT_FALSE(std::filesystem::exists(root / "dir" / "a.mp4")) << "the check leaves nothing";
    std::filesystem::create_directories(root / "dir" / "sub.mp4");
    EXPECT_EQ(fileProblemText(r + "/dir/sub.mp4", lookup), "cannot create " + r + "/dir/sub.mp4 (Is a directory)");
    std::filesystem::remove_all(root);
}

TEST(StartTexts, DefaultNameCarriesTheDateAndExtension)
{
    std::tm t{};
    t.tm_mon = 2; // March
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    EXPECT_EQ(defaultOutputName("/home/u/Videos/Screen/", t, "mp4"), "/home/u/Videos/Screen/03-07-09_05_03.mp4");
    EXPECT_EQ(defaultOutputName("/tmp", t, "png"), "/tmp/03-07-09_05_03.png");
}

} // namespace
} // namespace quillet
