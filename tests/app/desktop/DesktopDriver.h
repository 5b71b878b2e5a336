#pragma once
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillet::desktop::testing {

// Runs the real desktop program on the test desktop and drives it from the
// outside, as a user would: xdotool for clicks and keys, a tray host for the
// tray icon, and the files the program writes.
class DesktopDriver {
public:
    // Copies the built program and its language files into a private
    // folder with its own home (settings, recordings) and runtime folder.
    explicit DesktopDriver(const std::string& buildBin);
    ~DesktopDriver();

    // Starts a tray host for the whole test program (stopped at exit).
    static void startTray();
    static void stopTray();

    // Starts the program in the background; returns its process id.
    pid_t launch(const std::vector<std::string>& args = {});
    // Runs the program to its end (a second start); returns its exit code,
    // or -1 when it did not end within timeoutMs.
    int runToEnd(const std::vector<std::string>& args, int timeoutMs = 10000);
    // Starts a second start in the background, for one that shows a box.
    pid_t launchSecond(const std::vector<std::string>& args) { return launch(args); }
    // Waits for a process started here to end; its exit code, -1 on time-out.
    int waitExit(pid_t pid, int timeoutMs);
    bool alive(pid_t pid) const;

    // A visible window whose name matches the regular expression; "" when
    // none shows up within timeoutMs.
    std::string waitWindow(const std::string& nameRegex, int timeoutMs = 8000) const;
    bool windowVisible(const std::string& nameRegex) const;
    void click(const std::string& window, int x, int y, int button = 1) const;
    // Focuses a window and sends it keys (xdotool key names).
    void keys(const std::string& window, const std::string& names) const;
    // Sends keys to whatever has the keyboard (an open menu grabs it).
    void keys(const std::string& names) const;
    // Right-clicks the program's tray icon.
    int clickTrayIcon(int button = 3) const;

    // The shell's output of a command run with the program's environment.
    std::string shell(const std::string& command, int* exitCode = nullptr) const;

    std::filesystem::path root;
    std::filesystem::path program;      // the copied executable
    std::filesystem::path home;
    std::filesystem::path settingsFile; // home/Documents/OrvikClass/Data.ini
    std::filesystem::path recordings;   // home/Videos/Screen
    std::filesystem::path languageFolder;
    // NAME=VALUE entries added to the program's environment.
    std::vector<std::string> extraEnvironment;

private:
    std::vector<std::string> environment() const;
    std::vector<pid_t> children_;
};

// Runs until done() or the time is up; returns done().
bool waitUntil(const std::function<bool()>& done, int timeoutMs, int stepMs = 100);

} // namespace quillet::desktop::testing
