#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/RecordOptions.h"

namespace quillet::cli {
namespace {

int parse(std::vector<std::string> words, RecordOptions* o, std::string* error)
{
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    return parseRecordOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(RecordOptions, ValuesOverrideTheSettings)
{
    RecordOptions o;
    std::string error;
    ASSERT_EQ(parse({"-o", "/tmp/a.flv", "--seconds", "10", "--area", "-100,20,640,480", "--fps", "25", "--quality",
                     "4", "--sound", "off", "--source", "2", "--no-countdown", "-y"},
                    &o, &error),
              1)
        << error;
    EXPECT_EQ(o.output, "/tmp/a.flv");
    EXPECT_EQ(o.seconds, 10);
    ASSERT_TRUE(o.hasArea);
    EXPECT_EQ(o.area, (Rect{-100, 20, 540, 500}));
    EXPECT_EQ(o.fps, 25);
    EXPECT_EQ(o.quality, 4);
    EXPECT_EQ(o.sound, 0);
    EXPECT_EQ(o.source, 2);
    EXPECT_FALSE(o.countdown);
    EXPECT_TRUE(o.yes);
    RecordOptions defaults;
    ASSERT_EQ(parse({}, &defaults, &error), 1);
    EXPECT_EQ(defaults.quality, -1);
    EXPECT_EQ(defaults.sound, -1);
    EXPECT_TRUE(defaults.countdown);
}

TEST(RecordOptions, BadValuesAreRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--seconds"},         {"--seconds", "0"},        {"--seconds", "5x"},      {"--fps", "31"},
        {"--quality", "5"},    {"--quality", "-1"},       {"--sound", "maybe"},     {"--area", "1,2,3"},
        {"--area", "1,2,0,5"}, {"--area", "1,2,3,4,5"},   {"--area", "a,b,c,d"},    {"--source", "-2"},
        {"-o", ""},            {"--frobnicate"},          {"--area", "1,2,-3,4"},   {"--seconds", "99999999999"},
    };
    for (const auto& words : bad) {
        RecordOptions o;
        std::string error;
        EXPECT_EQ(parse(words, &o, &error), 0) << words[0] << (words.size() > 1 ? " " + words[1] : "");
        EXPECT_FALSE(error.empty()) << words[0];
    }
}

} // namespace
} // namespace quillet::cli
