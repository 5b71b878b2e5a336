#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/desktop/OutputFiles.h"
#include "app/desktop/SettingsValues.h"
#include "app/desktop/StartupCommand.h"
#include "base/ProfileStore.h"

namespace quillet::desktop {
namespace fs = std::filesystem;

TEST(StartupCommand, ArgumentsCompareExactlyAndWhole)
{
    using A = StartupAction;
    EXPECT_EQ(parseStartupCommand({}).action, A::Normal);
    EXPECT_EQ(parseStartupCommand({"run"}).action, A::Run);
    EXPECT_EQ(parseStartupCommand({"end"}).action, A::End);
    EXPECT_EQ(parseStartupCommand({"exit"}).action, A::Exit);
    EXPECT_EQ(parseStartupCommand({"-remove"}).action, A::Remove);
    for (const char* other : {"Run", "run ", "--run", "-Remove", "exits", ""})
        EXPECT_EQ(parseStartupCommand({other}).action, A::Normal) << other;
    EXPECT_EQ(parseStartupCommand({"run", "now"}).action, A::Normal) << "two arguments that are not -language";

    const StartupCommand lang = parseStartupCommand({"-language", "chinese.ini"});
    EXPECT_EQ(lang.action, A::SetLanguage);
    EXPECT_EQ(lang.language, "chinese.ini");
    EXPECT_EQ(parseStartupCommand({"-language"}).action, A::Normal) << "one argument starts normally";
    EXPECT_EQ(parseStartupCommand({"-language", "a", "b"}).action, A::Normal);

    EXPECT_EQ(commandForAction(A::Run), 1000);
    EXPECT_EQ(commandForAction(A::End), 1002);
    EXPECT_EQ(commandForAction(A::Exit), 32771);
    EXPECT_EQ(commandForAction(A::Remove), 32771);
    EXPECT_EQ(commandForAction(A::Normal), 0);
}

TEST(SettingsArea, EditsAreCheckedAgainstRangeScreenAndMinimumSize)
{
    Rect area{};
    int bad = -1;
    auto check = [&](std::string l, std::string t, std::string w, std::string h) {
        const std::string texts[4] = {l, t, w, h};
        return checkAreaEdits(texts, 1920, 1080, &area, &bad);
    };
    EXPECT_EQ(check("0", "0", "63", "100"), AreaCheck::TooSmall);
    EXPECT_EQ(check("0", "0", "100", "63"), AreaCheck::TooSmall);
    EXPECT_EQ(check("1900", "0", "100", "100"), AreaCheck::LargerThanScreen);
    EXPECT_EQ(check("0", "1000", "100", "81"), AreaCheck::LargerThanScreen);
    EXPECT_EQ(check("1900", "0", "20", "0"), AreaCheck::TooSmall) << "fits the screen but is too narrow";

    ASSERT_EQ(check("0", "0", "0", "0"), AreaCheck::Accepted) << "width 0: the whole screen";
    EXPECT_EQ(area.right, area.left);
    ASSERT_EQ(check("1820", "980", "100", "100"), AreaCheck::Accepted) << "exactly to the screen's edge";
    EXPECT_EQ(area, (Rect{1820, 980, 1920, 1080}));
    ASSERT_EQ(check(" 10 ", "20", "64", "64"), AreaCheck::Accepted);
    EXPECT_EQ(area, (Rect{10, 20, 74, 84}));

    EXPECT_EQ(check("2001", "0", "0", "0"), AreaCheck::OutOfRange);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(check("0", "-5", "0", "0"), AreaCheck::OutOfRange);
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(check("0", "0", "", "0"), AreaCheck::OutOfRange);
    EXPECT_EQ(bad, 2);
    EXPECT_EQ(check("0", "0", "0", "1e3"), AreaCheck::OutOfRange);
    EXPECT_EQ(bad, 3);
    EXPECT_EQ(check("0", "0", "99999999999", "0"), AreaCheck::OutOfRange) << "no overflow into a small number";
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("quillet_desk_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        store_.setPath((dir_ / "Data.ini").string());
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const std::string& text) { std::ofstream(store_.path()) << text; }

    fs::path dir_;
    ProfileStore store_;
};

TEST_F(SettingsFileTest, StoredValuesLoadWithTheirRules)
{
    write("[screen]\naudio2=7\nfps=20\nmin=1\nhide=1\n[Quillet]\na=0\nad=9\n");
    SettingsValues v;
    v.load(store_, 3);
    EXPECT_EQ(v.qualityLevel, 4) << "above 4 becomes 4";
    EXPECT_EQ(v.framesPerSecond, 20) << "kept as stored";
    EXPECT_TRUE(v.hideWhileRecording);
    EXPECT_TRUE(v.noTrayIcon);
    EXPECT_FALSE(v.recordSound);
    EXPECT_EQ(v.audioSourceIndex, 3) << "above the source count becomes the count";

    write("[screen]\naudio2=-1\nfps=260\n[Quillet]\nad=-4\n");
    v.load(store_, 3);
    EXPECT_EQ(v.qualityLevel, 0);
    EXPECT_EQ(v.framesPerSecond, 260) << "not wrapped into a byte";
    EXPECT_EQ(v.audioSourceIndex, 0);

    write("\x01\x02 garbage [[[ \n=\n[screen\naudio2=x\n");
    v.load(store_, 1);
    EXPECT_EQ(v.framesPerSecond, 15) << "a damaged file gives the defaults";
    EXPECT_TRUE(v.recordSound);
}

TEST_F(SettingsFileTest, OkStoresTheChoiceUnderThePartsKeys)
{
    write("[screen]\nfps=20\nSel3=2\n");
    SettingsValues v;
    v.load(store_, 2);
    SettingsChoice c;
    c.qualityIndex = 3;
    c.frameRateIndex = 0; // what the list shows for a stored 20
    c.sourceIndex = 2;
    c.recordSound = false;
    c.hideWhileRecording = true;
    c.tip = true;
    ASSERT_EQ(storeSettingsChoice(c, &v, store_), 1);
    EXPECT_EQ(store_.getInt("screen", "audio2", -9), 3);
    EXPECT_EQ(store_.getInt("screen", "fps", -9), 2) << "a stored 20 becomes 2 on OK";
    EXPECT_EQ(store_.getInt("screen", "min", -9), 1);
    EXPECT_EQ(store_.getInt("Quillet", "a", -9), 0);
    EXPECT_EQ(store_.getInt("Quillet", "ad", -9), 2);
    EXPECT_EQ(store_.getInt("Quillet", "tip", -9), 1);
    EXPECT_EQ(store_.getInt("screen", "Sel3", -9), 2) << "other keys untouched";
    EXPECT_FALSE(store_.find("screen", "hide", nullptr)) << "the no-tray-icon box is never stored";

    c.frameRateIndex = 4; // the list has four rates; a fifth would be 20
    c.sourceIndex = -1;
    storeSettingsChoice(c, &v, store_);
    EXPECT_EQ(store_.getInt("screen", "fps", -9), 20);
    EXPECT_EQ(store_.getInt("Quillet", "ad", -9), 0);
}

TEST(OutputFiles, ExtensionFollowsFormatAndQuality)
{
    EXPECT_EQ(correctExtension("/v/12-08-10_22_33.mp4", 2, 2), "/v/12-08-10_22_33.avi");
    EXPECT_EQ(correctExtension("/v/12-08-10_22_33.avi", 5, 4), "/v/12-08-10_22_33.png");
    EXPECT_EQ(correctExtension("/v/12-08-10_22_33.png", 5, 3), "/v/12-08-10_22_33.jpg");
    EXPECT_EQ(correctExtension("/v/a.b.c", 1, 0), "/v/a.b.flv") << "only the last extension is replaced";

    std::tm t{};
    t.tm_mon = 11; // December
    t.tm_mday = 8;
    t.tm_hour = 10;
    t.tm_min = 22;
    t.tm_sec = 33;
    EXPECT_EQ(generatedFileName("/home/u/Videos/Screen/", t, 0, 2), "/home/u/Videos/Screen/12-08-10_22_33.mp4");
    EXPECT_EQ(generatedFileName("/x", t, 4, 2), "/x/12-08-10_22_33.swf");
}

TEST(OutputFiles, ChosenFileSelectsItsFormatAndFolder)
{
    EXPECT_EQ(formatIndexForExtension(extensionOfPath("/d/Video/talk.FLV")), 1);
    EXPECT_EQ(folderOfPath("/d/Video/talk.FLV"), "/d/Video/");
    EXPECT_EQ(formatIndexForExtension("png"), -1) << "png leaves the list as it is";
    EXPECT_EQ(formatIndexForExtension("mp3"), -1);
    EXPECT_EQ(formatIndexForExtension("jpg"), 5);
    EXPECT_EQ(extensionOfPath("/d/some.dir/name"), "") << "a dot in a folder is no extension";
    EXPECT_EQ(folderOfPath("name.mp4"), "");
    EXPECT_EQ(folderOfPath("/name.mp4"), "") << "a slash at the very start is not a folder";
}

TEST(OutputFiles, WriteTestLeavesNothingBehind)
{
    const fs::path dir = fs::temp_directory_path() / ("quillet_wt_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    EXPECT_EQ(folderWriteTest(dir.string() + "/"), 1);
    EXPECT_FALSE(fs::exists(dir / kWriteTestFile));
    EXPECT_EQ(folderWriteTest(dir.string() + "/missing/"), 0);
    if (::geteuid() != 0) {
        ::chmod(dir.c_str(), 0500);
        EXPECT_EQ(folderWriteTest(dir.string() + "/"), 0) << "a read-only folder is refused";
        ::chmod(dir.c_str(), 0700);
    }
    fs::remove_all(dir);
}

} // namespace quillet::desktop
