#include "app/core/OutputFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillet {
namespace fs = std::filesystem;

TEST(OutputFolder, StoredFoldersThatCannotBeUsedFallBackToTheDefault)
{
    const fs::path root = fs::temp_directory_path() / ("quillet_out_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    const std::string def = (root / "Videos" / "Screen").string();

    // Empty: the default, created, nothing to report.
    OutputFolderChoice c = chooseOutputFolder("", def);
    EXPECT_EQ(c.problem, OutputFolderChoice::None);
    EXPECT_EQ(c.folder, def + "/");

    // A usable folder is created and kept, with its trailing slash.
    c = chooseOutputFolder((root / "mine").string(), def);
    EXPECT_EQ(c.problem, OutputFolderChoice::None);
    EXPECT_EQ(c.folder, (root / "mine").string() + "/");
    EXPECT_TRUE(fs::is_directory(root / "mine"));
    EXPECT_FALSE(fs::exists(root / "mine" / kFolderWriteTestFile)) << "the write test cleans up";

    // Another system's folder and relative paths never create folders here.
    fs::remove_all(def);
    for (const char* bad : {"d:\\Screen\\", "Screen/", "./out"}) {
        c = chooseOutputFolder(bad, def);
        EXPECT_TRUE(fs::is_directory(def)) << "the default is there to record into";
        EXPECT_EQ(c.problem, OutputFolderChoice::NotAbsolute) << bad;
        EXPECT_EQ(c.folder, def + "/") << bad;
        EXPECT_EQ(c.stored, bad);
    }
    EXPECT_FALSE(fs::exists("d:\\Screen\\"));

    // A folder that cannot exist (below a plain file) names the system's reason.
    std::ofstream(root / "plain") << "x";
    c = chooseOutputFolder((root / "plain" / "sub").string(), def);
    EXPECT_EQ(c.problem, OutputFolderChoice::NotWritable);
    EXPECT_EQ(c.folder, def + "/");
    EXPECT_FALSE(c.reason.empty());
    std::string reason;
    EXPECT_EQ(folderIsWritable((root / "plain").string(), &reason), 0);
    EXPECT_FALSE(reason.empty());
    fs::remove_all(root);
}

} // namespace quillet
