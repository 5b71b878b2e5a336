#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "app/update/UpdateConfig.h"
#include "base/ProfileStore.h"

namespace quillet {
namespace {
namespace fs = std::filesystem;

class UpdateConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quillet_updcfg_XXXXXX";
        dir_ = mkdtemp(pattern);
        store_.setPath((dir_ / "Data.ini").string());
    }
    void TearDown() override { fs::remove_all(dir_); }

    UpdateConfig with(const char* host, const char* page)
    {
        store_.writeString("Update", "Host", host);
        store_.writeString("Update", "Page", page);
        return UpdateConfig::fromSettings(store_, "0.1.0.0");
    }

    fs::path dir_;
    ProfileStore store_;
};

TEST_F(UpdateConfigTest, NothingConfiguredMeansNoCheck)
{
    const UpdateConfig none = UpdateConfig::fromSettings(store_, "0.1.0.0");
    EXPECT_FALSE(none.configured());
    EXPECT_TRUE(none.problem.empty());
    EXPECT_EQ(none.versionText, "0.1.0.0");

    EXPECT_FALSE(with("", "news.html").configured());
}

TEST_F(UpdateConfigTest, HostAndPageMakeTheUrl)
{
    const UpdateConfig c = with("updates.example.org:8080", "/quillet/news.html");
    EXPECT_TRUE(c.configured()) << c.problem;
    EXPECT_EQ(c.url(), "updates.example.org:8080/quillet/news.html");
    EXPECT_EQ(with("127.0.0.1", "").url(), "127.0.0.1/");
    EXPECT_TRUE(with("a.io:80", "x").configured());
}

TEST_F(UpdateConfigTest, UnusableSettingsAreRefusedWithAReason)
{
    for (const char* host : {"http://example.org", "example.org/path", "exa mple.org", ":8080", "example.org:99999",
                             "example.org:http", "a.io", "b\xc3\xa9.example.org"}) {
        const UpdateConfig c = with(host, "news.html");
        EXPECT_FALSE(c.configured()) << host;
        EXPECT_FALSE(c.problem.empty()) << host;
        EXPECT_NE(c.problem.find(host), std::string::npos) << c.problem;
    }
    const UpdateConfig page = with("example.org", "news page.html");
    EXPECT_FALSE(page.configured());
    EXPECT_NE(page.problem.find("page"), std::string::npos);
}

} // namespace
} // namespace quillet
