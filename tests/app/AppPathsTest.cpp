#include "app/core/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillet {
namespace fs = std::filesystem;

TEST(AppPaths, ParsesUserDirsFile)
{
    const std::string text = "# comment\n"
                             "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                             "XDG_VIDEOS_DIR=\"/data/videos/\"\n"
                             "XDG_MUSIC_DIR=\"$HOME\"\n"
                             "XDG_PICTURES_DIR=\"relative/not/allowed\"\n";
    EXPECT_EQ(parseUserDir(text, "DOCUMENTS", "/home/u"), "/home/u/Dokumente");
    EXPECT_EQ(parseUserDir(text, "VIDEOS", "/home/u"), "/data/videos");
    EXPECT_EQ(parseUserDir(text, "MUSIC", "/home/u"), "") << "HOME itself means disabled";
    EXPECT_EQ(parseUserDir(text, "PICTURES", "/home/u"), "");
    EXPECT_EQ(parseUserDir(text, "DESKTOP", "/home/u"), "");
}

TEST(AppPaths, DetectUsesXdgFoldersWithFallbacks)
{
    const fs::path home = fs::temp_directory_path() / ("quillet_home_" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / ".config");
    std::ofstream(home / ".config" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n";

    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    AppPaths p = AppPaths::detect();
    p.createSettingsFolder();
    if (oldHome)
        setenv("HOME", saved.c_str(), 1);

    EXPECT_EQ(p.settingsFile, home.string() + "/Docs/OrvikClass/Data.ini");
    EXPECT_EQ(p.defaultOutputFolder, home.string() + "/Videos/Screen/") << "no videos entry: ~/Videos";
    EXPECT_TRUE(fs::is_directory(home / "Docs" / "OrvikClass"));
    EXPECT_EQ(p.languageSelectionFile, p.executableFolder + "Language/sel.ini");
    EXPECT_EQ(p.executableFolder.back(), '/');
    fs::remove_all(home);
}

} // namespace quillet
