#include <gtest/gtest.h>

#include "app/update/UpdatePage.h"

namespace quillet {
namespace {

constexpr const char* kOurs = "0.1.0.0";

TEST(UpdatePage, ReadsVersionBackgroundAndNews)
{
    const UpdatePage p = UpdatePage::parse(
        "<html><head><title>Quillet news Max:0.2.0.0 latest</title></head>\r\n"
        "<BODY bgcolor=\"LightYellow\" text=\"#000000\">\r\n  <b>New:</b> faster MP4<br>more</BODY>ignored</html>",
        kOurs);
    EXPECT_EQ(p.newestVersion, "0.2.0.0");
    EXPECT_FALSE(p.upgradeRequested);
    EXPECT_TRUE(p.hasNews);
    EXPECT_EQ(p.background, "LightYellow");
    EXPECT_EQ(p.newsText, "<b>New:</b> faster MP4<br>more");

    // Lower-case tags, a bare body tag, no closing tag, a version at the end.
    const UpdatePage q = UpdatePage::parse("<TITLE>Max:7</TITLE><body>\n\tnews", kOurs);
    EXPECT_EQ(q.newestVersion, "7");
    EXPECT_TRUE(q.hasNews);
    EXPECT_EQ(q.background, "");
    EXPECT_EQ(q.newsText, "news");
}

TEST(UpdatePage, TitleRequiringAnUpgradeStopsBeforeTheNews)
{
    // "V" names the oldest version that needs no upgrade.
    const UpdatePage up = UpdatePage::parse("<title>Max:5.3 V5.2</title><BODY >x</BODY>", kOurs);
    EXPECT_TRUE(up.upgradeRequested);
    EXPECT_FALSE(up.hasNews);
    EXPECT_EQ(up.newestVersion, "5.3");

    // Ours sorts at or above it, or the number is not above 1.02: the news.
    for (const char* title : {"Max:5.3 V0.0.9", "Max:5.3 V0.1.0.0", "Max:5.3 V1.02", "Max:5.3 Vnone"}) {
        const UpdatePage p = UpdatePage::parse(std::string("<title>") + title + "</title><BODY >x</BODY>", kOurs);
        EXPECT_FALSE(p.upgradeRequested) << title;
        EXPECT_TRUE(p.hasNews) << title;
    }
}

TEST(UpdatePage, HostilePagesGiveNothingUsable)
{
    const std::string longVersion(100, '9');
    struct Case {
        std::string page;
        const char* version;
        bool news;
    };
    const Case cases[] = {
        {"", "", false},
        {"garbage \x01\xff\xfe no tags", "", false},
        {"<title>Max:", "", false},                          // unterminated, empty version
        {"<title>Max:" + longVersion + "</title>", "", false}, // too long for the button
        {"<title>Max:1.\x01" "2</title>", "", false},         // control byte in the version
        {"<title>no version</title><BODY bgcolor=\"", "", false}, // unterminated tag
        {"<BODY bgcolor=\"red\"onload=x>y", "", true},
        {"<bodyguard>not a body</bodyguard>", "", false},
    };
    for (const Case& c : cases) {
        const UpdatePage p = UpdatePage::parse(c.page, kOurs);
        EXPECT_EQ(p.newestVersion, c.version) << c.page;
        EXPECT_EQ(p.hasNews, c.news) << c.page;
        EXPECT_FALSE(p.upgradeRequested) << c.page;
    }
    const UpdatePage colourless =
        UpdatePage::parse("<BODY bgcolor=\"" + std::string(40, 'a') + "\">x</BODY>", kOurs);
    EXPECT_EQ(colourless.background, "");
}

TEST(UpdatePage, VersionsCompareAsByteStrings)
{
    EXPECT_TRUE(versionSortsBelow("5.10", "5.9"));
    EXPECT_FALSE(versionSortsBelow("5.9", "5.10"));
    EXPECT_TRUE(versionSortsBelow("0.1.0.0", "0.2"));
    EXPECT_FALSE(versionSortsBelow("0.1.0.0", "0.1"));
    EXPECT_FALSE(versionSortsBelow("1.0", "1.0"));
    // Bytes above 0x7f sort above ASCII, as unsigned bytes do.
    EXPECT_TRUE(versionSortsBelow("9", "\xc3\xa9"));

    EXPECT_TRUE(versionNumberAbove102("1.03"));
    EXPECT_TRUE(versionNumberAbove102("5.2.0.1"));
    EXPECT_FALSE(versionNumberAbove102("1.02"));
    EXPECT_FALSE(versionNumberAbove102("1.01.9"));
    EXPECT_FALSE(versionNumberAbove102(""));
    EXPECT_FALSE(versionNumberAbove102("inf"));
    EXPECT_FALSE(versionNumberAbove102("x5"));
}

} // namespace
} // namespace quillet
