#pragma once
#include <string>

namespace quillet {

// Where the program finds and keeps its files. Folders end with '/'.
struct AppPaths {
    std::string executableFolder; // folder of the running program
    std::string documentsFolder;  // the user's documents folder
    std::string videosFolder;     // the user's videos folder
    std::string settingsFolder;   // documents + "OrvikClass/"
    std::string settingsFile;     // settingsFolder + "Data.ini"
    std::string languageFolder;   // executableFolder + "Language/"
    // languageFolder + "sel.ini"; settingsFolder + "sel.ini" when the user may
    // not write the language folder (an installed program).
    std::string languageSelectionFile;
    std::string defaultOutputFolder;   // videos + "Screen/"

    // Fills every field from the environment (HOME, XDG_CONFIG_HOME and the
    // user-dirs.dirs file) and the running executable. Never fails: missing
    // pieces fall back to ~/Documents, ~/Videos and the current folder.
    static AppPaths detect();
    // Creates the settings folder (errors are ignored, as the program then
    // simply runs with defaults).
    void createSettingsFolder() const;
};

// The folder the running executable lives in, with a trailing '/'.
std::string executableFolder();

// Resolves a user directory ("DOCUMENTS", "VIDEOS") from a user-dirs.dirs text:
// lines like XDG_VIDEOS_DIR="$HOME/Videos". Returns an empty string when absent.
std::string parseUserDir(const std::string& userDirsText, const std::string& name, const std::string& home);

// Creates a folder and its parents; returns 1 when it exists afterwards.
int createFolder(const std::string& path);

} // namespace quillet
