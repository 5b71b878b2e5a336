#include "base/OutputSink.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace quillet {

TEST(MemorySink, OverwritesAfterSeekAndKeepsLength)
{
    MemorySink s;
    ASSERT_TRUE(s.write("abcdef", 6));
    ASSERT_TRUE(s.seek(2));
    ASSERT_TRUE(s.write("XY", 2));
    EXPECT_EQ(s.tell(), 4u);
    EXPECT_EQ(std::string(s.bytes().begin(), s.bytes().end()), "abXYef");
    EXPECT_FALSE(s.seek(7)) << "seeking past the end";
    EXPECT_TRUE(s.error());
}

TEST(MemorySink, LimitActsLikeAFullDisk)
{
    MemorySink s;
    s.setLimit(4);
    EXPECT_TRUE(s.write("abc", 3));
    EXPECT_FALSE(s.write("de", 2));
    EXPECT_TRUE(s.error());
    EXPECT_FALSE(s.write("x", 1)) << "errors are sticky";
}

TEST(FileSink, WritesSeeksAndReportsFailures)
{
    const auto path = std::filesystem::temp_directory_path() / "quillet_filesink_test.bin";
    {
        FileSink f;
        ASSERT_TRUE(f.open(path.string()));
        ASSERT_TRUE(f.write("hello world", 11));
        ASSERT_TRUE(f.seek(0));
        ASSERT_TRUE(f.write("J", 1));
        EXPECT_EQ(f.tell(), 1u);
        ASSERT_TRUE(f.close());
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "Jello world");
    std::filesystem::remove(path);

    FileSink bad;
    EXPECT_FALSE(bad.open("/nonexistent-dir/x.bin"));
    EXPECT_FALSE(bad.write("x", 1));
    EXPECT_TRUE(bad.error());
}

TEST(FileSink, FullDeviceIsReportedByFlush)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "/dev/full not available";
    FileSink f;
    ASSERT_TRUE(f.openExisting("/dev/full"));
    f.write("data", 4); // buffered: may still report success
    EXPECT_FALSE(f.flush());
    EXPECT_TRUE(f.error());
    EXPECT_FALSE(f.close());
}

} // namespace quillet
