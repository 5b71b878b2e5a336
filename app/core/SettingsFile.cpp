#include "app/core/SettingsFile.h"

#include <cstdio>
#include <filesystem>

#include "engine/OutputType.h"
#include "engine/SettingsKeys.h"

namespace quillet {

SettingsFile::SettingsFile(std::string path, std::string defaultOutputFolder)
    : store_(std::move(path)), defaultOutputFolder_(std::move(defaultOutputFolder))
{
}

std::string SettingsFile::outputFolder() const
{
    std::string f = store_.getString(keys::kQuillet, keys::kOutputFolder, defaultOutputFolder_);
    if (f.empty())
        f = defaultOutputFolder_;
    if (f.back() != '/')
        f += '/';
    return f;
}

OutputFolderChoice SettingsFile::usableOutputFolder() const
{
    return chooseOutputFolder(store_.getString(keys::kQuillet, keys::kOutputFolder, ""), defaultOutputFolder_);
}

int SettingsFile::setOutputFolder(const std::string& folder)
{
    return store_.writeString(keys::kQuillet, keys::kOutputFolder, folder);
}

int SettingsFile::formatIndex() const
{
    const int i = store_.getInt(keys::kScreen, keys::kFormatIndex, 0);
    return (i < 0 || i >= kFormatCount) ? 0 : i;
}

int SettingsFile::setFormatIndex(int index)
{
    return store_.writeInt(keys::kScreen, keys::kFormatIndex, index);
}

bool SettingsFile::hotKeysOn() const
{
    return store_.getInt(keys::kHotKey, keys::kHotKeysOn, 1) != 0;
}

std::string SettingsFile::hotKey(int which) const
{
    static const char* const kKeys[4] = {keys::kHotKeyStart, keys::kHotKeyPause, keys::kHotKeyStop, keys::kHotKeyPen};
    static const char* const kDefaults[4] = {"F8", "F9", "F10", "F11"};
    if (which < 0 || which > 3)
        return {};
    return store_.getString(keys::kHotKey, kKeys[which], kDefaults[which]);
}

bool SettingsFile::noTrayIcon() const
{
    return store_.getInt(keys::kScreen, keys::kNoTrayIcon, 0) != 0;
}

int SettingsFile::tip() const
{
    return store_.getInt(keys::kQuillet, keys::kTip, 0);
}

int SettingsFile::remove() const
{
    std::error_code ec;
    std::filesystem::remove(store_.path(), ec);
    return std::filesystem::exists(store_.path(), ec) ? 0 : 1;
}

} // namespace quillet
