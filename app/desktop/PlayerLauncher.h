#pragma once
#include <string>

namespace quillet::desktop {

// Opens a recording: with the player "Player/quillet-player" beside the
// program when it exists (started with the file's path, in the program's
// folder), else with the desktop's default application (xdg-open). Image
// output opens the folder that holds the numbered files.
class PlayerLauncher {
public:
    static constexpr const char* kPlayerPath = "Player/quillet-player";
    static constexpr const char* kOpener = "xdg-open";

    explicit PlayerLauncher(std::string programFolder) : programFolder_(std::move(programFolder)) {}

    // The player's full path (whether or not it exists).
    std::string playerPath() const { return programFolder_ + kPlayerPath; }
    bool playerExists() const;

    // Returns 1 when the program was started.
    int play(const std::string& file) const;
    // Opens a folder in the file manager; 1 when started.
    int openFolder(const std::string& folder) const;

private:
    std::string programFolder_;
};

} // namespace quillet::desktop
