#include "base/ProfileStore.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace quillet {
namespace fs = std::filesystem;

class ProfileStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("quillet_profile_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "Data.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeFile(const std::string& text)
    {
        std::ofstream(path_, std::ios::binary) << text;
    }
    std::string readFile() const
    {
        std::ifstream in(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(ProfileStoreTest, ReadsCaseInsensitivelyWithDefaults)
{
    writeFile("\xEF\xBB\xBF[Screen]\r\nFPS = 10\r\naudio2=\"3\"\r\n[quillet]\r\npath=/tmp/x/\r\nA=\r\n");
    ProfileStore p(path_);
    EXPECT_EQ(p.getInt("screen", "fps", 15), 10);
    EXPECT_EQ(p.getInt("SCREEN", "Audio2", 2), 3) << "quotes are removed";
    EXPECT_EQ(p.getString("Quillet", "path", "d"), "/tmp/x/");
    EXPECT_EQ(p.getInt("screen", "min", 7), 7) << "missing key gives the default";
    EXPECT_EQ(p.getInt("nosuch", "fps", 5), 5) << "missing section gives the default";

    std::string v = "unchanged";
    EXPECT_TRUE(p.find("Quillet", "a", &v)) << "an empty value is present";
    EXPECT_EQ(v, "");
    EXPECT_EQ(p.getString("Quillet", "a", "def"), "");
    EXPECT_EQ(p.getInt("Quillet", "a", 1), 0) << "present but not a number reads as 0";
}

TEST_F(ProfileStoreTest, ParsesIntegersLikeTheProfileFunctions)
{
    EXPECT_EQ(ProfileStore::parseInt("42"), 42);
    EXPECT_EQ(ProfileStore::parseInt("  -7"), -7);
    EXPECT_EQ(ProfileStore::parseInt("+12abc"), 12);
    EXPECT_EQ(ProfileStore::parseInt("abc"), 0);
    EXPECT_EQ(ProfileStore::parseInt(""), 0);
    EXPECT_EQ(ProfileStore::parseInt("99999999999"), 2147483647);
    EXPECT_EQ(ProfileStore::parseInt("-99999999999"), -2147483647 - 1);
}

TEST_F(ProfileStoreTest, WritesKeepEveryOtherLine)
{
    writeFile("; user comment\n[screen]\nfps=10\n# another\nodd line without equals\n\n[HotKey]\nk1=F8\n");
    ProfileStore p(path_);
    ASSERT_TRUE(p.writeInt("SCREEN", "FPS", 5));
    ASSERT_TRUE(p.writeInt("screen", "min", 1));      // new key: appended to its section
    ASSERT_TRUE(p.writeString("Quillet", "path", "/v/")); // new section: appended at the end
    EXPECT_EQ(readFile(),
              "; user comment\n[screen]\nfps=5\n# another\nodd line without equals\nmin=1\n\n[HotKey]\nk1=F8\n"
              "[Quillet]\npath=/v/\n");
    EXPECT_EQ(p.getInt("screen", "fps", 0), 5);
    EXPECT_EQ(p.getInt("HotKey", "k1", 0), 0);
    EXPECT_EQ(p.getString("HotKey", "k1", ""), "F8");

    ASSERT_TRUE(p.removeKey("screen", "min"));
    EXPECT_EQ(p.getInt("screen", "min", 9), 9);
    EXPECT_FALSE(fs::exists(path_ + ".tmp")) << "no temporary file left behind";
}

TEST_F(ProfileStoreTest, CreatesAMissingFileAndRefusesLineBreaksInValues)
{
    ProfileStore p(path_);
    EXPECT_EQ(p.getInt("screen", "fps", 15), 15);
    ASSERT_TRUE(p.writeInt("screen", "fps", 2));
    EXPECT_EQ(readFile(), "[screen]\nfps=2\n");
    EXPECT_FALSE(p.writeString("screen", "x", "a\nb=c"));
    EXPECT_EQ(readFile(), "[screen]\nfps=2\n");
}

TEST_F(ProfileStoreTest, BadFilesGiveDefaultsAndWritesFailCleanly)
{
    fs::create_directories(path_); // a directory where the file should be
    ProfileStore p(path_);
    EXPECT_EQ(p.getInt("screen", "fps", 15), 15);
    EXPECT_FALSE(p.writeInt("screen", "fps", 2));
    EXPECT_TRUE(fs::is_directory(path_));

    ProfileStore missingFolder((dir_ / "no" / "Data.ini").string());
    EXPECT_EQ(missingFolder.getString("a", "b", "d"), "d");
    EXPECT_FALSE(missingFolder.writeInt("a", "b", 1));

    ProfileStore empty;
    EXPECT_EQ(empty.getInt("a", "b", 3), 3);
    EXPECT_FALSE(empty.writeInt("a", "b", 1));
}

TEST_F(ProfileStoreTest, MalformedContentNeverBreaksReading)
{
    writeFile("[unterminated\n=novalue\n[screen\nfps=3\n]]]\n[screen]\n=\nfps=4\nfps=9\n\xff\xfe garbage");
    ProfileStore p(path_);
    EXPECT_EQ(p.getInt("screen", "fps", 0), 4) << "the first of duplicate keys wins";
}

TEST_F(ProfileStoreTest, ARewriteIsAtomic)
{
    // A reader holding the old file keeps seeing complete old contents: the
    // new file replaces it by rename, never by truncating in place.
    writeFile("[screen]\nfps=10\n");
    std::ifstream oldHandle(path_, std::ios::binary);
    ProfileStore p(path_);
    ASSERT_TRUE(p.writeInt("screen", "fps", 5));
    std::string old((std::istreambuf_iterator<char>(oldHandle)), {});
    EXPECT_EQ(old, "[screen]\nfps=10\n");
    EXPECT_EQ(readFile(), "[screen]\nfps=5\n");
}

} // namespace quillet

namespace quillet {

// Random bytes in place of a settings file: reading never crashes, and a write
// afterwards is read back exactly while the rest of the file is kept.
TEST_F(ProfileStoreTest, SurvivesRandomContent)
{
    uint32_t seed = 12345;
    auto next = [&seed] { seed = seed * 1103515245u + 12345u; return seed >> 16; };
    const char alphabet[] = "[]=;#\"' \t\r\nabcSCREENfps0123456789-+\xEF\xBB\xBF\xE5\xBD\x95";
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int len = static_cast<int>(next() % 300);
        for (int i = 0; i < len; ++i)
            text += (next() % 8 == 0) ? char(next() & 0xFF) : alphabet[next() % (sizeof alphabet - 1)];
        writeFile(text);
        ProfileStore p(path_);
        (void)p.getInt("screen", "fps", 15);
        (void)p.getString("a", "b", "c");
        ASSERT_TRUE(p.writeInt("screen", "fps", round));
        ASSERT_EQ(p.getInt("screen", "fps", -1), round) << "round " << round;
        ASSERT_TRUE(p.writeString("Quillet", "path", "/x/"));
        ASSERT_EQ(p.getInt("screen", "fps", -1), round);
        ASSERT_EQ(p.getString("Quillet", "path", ""), "/x/");
    }
}

} // namespace quillet
