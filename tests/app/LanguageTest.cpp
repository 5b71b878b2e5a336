#include "app/core/Language.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillet {
namespace fs = std::filesystem;

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("quillet_lang_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        folder_ = dir_.string() + "/";
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const std::string& name, const std::string& text) { std::ofstream(folder_ + name) << text; }

    fs::path dir_;
    std::string folder_;
};

TEST_F(LanguageTest, EscapesBecomeLineBreaksOnlyInTexts)
{
    write("english.ini", "[MSG]\nTwo=first\\r\\nsecond\n[Quillet]\nTitle=A\\r\\nB\n");
    Language lang(folder_);
    lang.load();
    EXPECT_EQ(lang.lookupMessage("Two", nullptr), "first  \r\nsecond") << "same length, two spaces kept";
    EXPECT_EQ(lang.lookupCaption("Title", "x", "Quillet"), "A\\r\\nB") << "captions keep the typed characters";
    EXPECT_EQ(lang.messageCaption(), "A\\r\\nB");

    std::string s = "\\r\\n\\r\\n\\r\\";
    Language::applyEscapes(&s);
    EXPECT_EQ(s, "  \r\n  \r\n\\r\\");
}

TEST_F(LanguageTest, MissingKeyFallsBackButEmptyValueStaysEmpty)
{
    write("english.ini", "[MSG]\nTyp1=\nstartErr=Could not start\n");
    Language lang(folder_);
    lang.load();
    EXPECT_EQ(lang.lookupMessage("Typ1"), "") << "present but empty: no built-in text";
    EXPECT_EQ(lang.lookupMessage("Typ2"), "FLV - 网页播放常用") << "missing: built-in text";
    EXPECT_EQ(lang.lookupMessage("startErr"), "Could not start");
    EXPECT_EQ(lang.lookupMessage("Code0"), "") << "no file value and no built-in text";
    EXPECT_EQ(lang.lookupMessage("nosuchkey", "fallback"), "fallback");
    EXPECT_EQ(lang.messageCaption(), "Quillet 5");
}

TEST_F(LanguageTest, LongValuesAreCutAt499Characters)
{
    std::string longAscii(600, 'a');
    std::string longChinese;
    for (int i = 0; i < 600; ++i)
        longChinese += "录";
    write("english.ini", "[MSG]\nA=" + longAscii + "\nB=" + longChinese + "\n");
    Language lang(folder_);
    lang.load();
    EXPECT_EQ(lang.lookupMessage("A", nullptr).size(), 499u);
    EXPECT_EQ(lang.lookupMessage("B", nullptr).size(), 499u * 3) << "cut at characters, not bytes";

    std::string emoji;
    for (int i = 0; i < 300; ++i)
        emoji += "\xF0\x9F\x8E\xA5"; // each takes two UTF-16 units
    Language::cutToLimit(&emoji);
    EXPECT_EQ(emoji.size(), 249u * 4);
}

TEST_F(LanguageTest, SelectionFileChoosesAndRecordsTheLanguage)
{
    write("chinese.ini", "[MSG]\nstart=开始录制\n");
    write("english.ini", "[MSG]\nstart=Start recording\n");
    Language lang(folder_);
    lang.load();
    EXPECT_EQ(lang.fileName(), "english.ini") << "no sel.ini: english";

    EXPECT_EQ(lang.switchTo("english.ini"), 0) << "already active";
    EXPECT_FALSE(fs::exists(folder_ + "sel.ini")) << "switching to the active language writes nothing";

    EXPECT_EQ(lang.switchTo("chinese.ini"), 1);
    EXPECT_EQ(lang.lookupMessage("start"), "开始录制") << "texts follow the new file at once";
    Language again(folder_);
    again.load();
    EXPECT_EQ(again.fileName(), "chinese.ini");

    EXPECT_EQ(lang.switchTo("../../etc/passwd"), 0);
    write("sel.ini", "[Quillet]\nLanguage=../secret.ini\n");
    again.load();
    EXPECT_EQ(again.fileName(), "english.ini") << "a path in the selection file is refused";
}

TEST_F(LanguageTest, ChoiceKeptOutsideAnInstalledLanguageFolder)
{
    // The shipped folder's sel.ini names the default until the user chooses.
    write("chinese.ini", "[MSG]\nstart=开始录制\n");
    write("sel.ini", "[Quillet]\nLanguage=chinese.ini\n");
    const std::string own = dir_.string() + "/user-sel.ini";
    Language lang(folder_, own);
    lang.load();
    EXPECT_EQ(lang.fileName(), "chinese.ini");

    EXPECT_EQ(lang.switchTo("english.ini"), 1);
    Language again(folder_, own);
    again.load();
    EXPECT_EQ(again.fileName(), "english.ini") << "the user's own choice wins";
    std::ifstream shipped(folder_ + "sel.ini");
    std::string text((std::istreambuf_iterator<char>(shipped)), {});
    EXPECT_NE(text.find("chinese.ini"), std::string::npos) << "the shipped folder is left alone";
    EXPECT_EQ(again.writeSelection("chinese.ini"), 1);
    again.load();
    EXPECT_EQ(again.fileName(), "chinese.ini");
}

TEST_F(LanguageTest, MissingFolderGivesBuiltInTexts)
{
    Language lang(folder_ + "nowhere/");
    lang.load();
    EXPECT_EQ(lang.lookupMessage("startErr"), "启动录制失败!");
    EXPECT_EQ(lang.writeSelection("chinese.ini"), 0);
}

} // namespace quillet
