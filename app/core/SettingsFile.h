#pragma once
#include <string>

#include "app/core/OutputFolder.h"
#include "base/ProfileStore.h"

namespace quillet {

// The settings file ("Data.ini") with its stored keys and defaults. Values are
// read where needed and written when they change; nothing is cached.
class SettingsFile {
public:
    SettingsFile(std::string path, std::string defaultOutputFolder);

    ProfileStore& store() { return store_; }
    const ProfileStore& store() const { return store_; }
    const std::string& path() const { return store_.path(); }

    // Output folder with a trailing '/'; an empty stored value gives the default.
    std::string outputFolder() const;
    // The stored output folder when recordings can be written there, else the
    // default folder, with what was wrong (see chooseOutputFolder).
    OutputFolderChoice usableOutputFolder() const;
    int setOutputFolder(const std::string& folder);
    // Format list index 0..5 (0 MP4, 1 FLV, 2 AVI, 3 WMV, 4 SWF, 5 images).
    int formatIndex() const;
    int setFormatIndex(int index);
    bool hotKeysOn() const;
    // Hotkey text for start (0), pause (1), stop (2) and screen pen (3).
    std::string hotKey(int which) const;
    bool noTrayIcon() const;
    int tip() const;

    // Deletes the file (the command line's "-remove"); 1 when it is gone.
    int remove() const;

    const std::string& defaultOutputFolder() const { return defaultOutputFolder_; }

private:
    ProfileStore store_;
    std::string defaultOutputFolder_;
};

} // namespace quillet
