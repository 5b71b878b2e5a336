#include "app/core/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace quillet {
namespace fs = std::filesystem;
namespace {

std::string withSlash(std::string p)
{
    if (p.empty() || p.back() != '/')
        p += '/';
    return p;
}

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string homeFolder()
{
    std::string home = env("HOME");
    if (home.empty())
        home = "/tmp";
    return home;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

} // namespace

std::string parseUserDir(const std::string& text, const std::string& name, const std::string& home)
{
    const std::string key = "XDG_" + name + "_DIR";
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line[b] == '#' || line.compare(b, key.size(), key) != 0)
            continue;
        size_t eq = line.find('=', b + key.size());
        if (eq == std::string::npos || line.find_first_not_of(" \t", b + key.size()) != eq)
            continue;
        std::string v = line.substr(eq + 1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
            v.pop_back();
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        if (v.compare(0, 5, "$HOME") == 0)
            v = home + v.substr(5);
        else if (v.empty() || v.front() != '/')
            continue; // only absolute paths or $HOME-relative ones are valid
        while (v.size() > 1 && v.back() == '/')
            v.pop_back();
        // A directory equal to HOME means "disabled" for that entry.
        if (v == home)
            return {};
        return v;
    }
    return {};
}

std::string executableFolder()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return withSlash(fs::current_path(ec).string());
    return withSlash(exe.parent_path().string());
}

int createFolder(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec) ? 1 : 0;
}

AppPaths AppPaths::detect()
{
    AppPaths p;
    const std::string home = homeFolder();
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')
        config = home + "/.config";
    const std::string userDirs = readFile(config + "/user-dirs.dirs");

    std::string docs = parseUserDir(userDirs, "DOCUMENTS", home);
    if (docs.empty())
        docs = home + "/Documents";
    std::string videos = parseUserDir(userDirs, "VIDEOS", home);
    if (videos.empty())
        videos = home + "/Videos";

    p.executableFolder = quillet::executableFolder();
    p.documentsFolder = withSlash(docs);
    p.videosFolder = withSlash(videos);
    p.settingsFolder = p.documentsFolder + "OrvikClass/";
    p.settingsFile = p.settingsFolder + "Data.ini";
    p.languageFolder = p.executableFolder + "Language/";
    p.languageSelectionFile = p.languageFolder + "sel.ini";
    std::error_code ec;
    if (fs::is_directory(p.languageFolder, ec) && ::access(p.languageFolder.c_str(), W_OK) != 0)
        p.languageSelectionFile = p.settingsFolder + "sel.ini";
    p.defaultOutputFolder = p.videosFolder + "Screen/";
    return p;
}

void AppPaths::createSettingsFolder() const
{
    createFolder(settingsFolder);
}

} // namespace quillet
