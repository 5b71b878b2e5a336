#include "tests/app/desktop/DesktopDriver.h"

#include <chrono>
#include <gtest/gtest.h>
#include <iterator>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillet::desktop::testing {
namespace fs = std::filesystem;
namespace {

pid_t g_tray = 0;

std::string quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const char* errorLog = nullptr)
{
    std::vector<char*> a, e;
    for (const std::string& s : argv)
        a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const std::string& s : env)
        e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Quiet children: their diagnostics go to a log that a failed test shows.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorLog ? errorLog : "/dev/null", O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    const int rc = posix_spawnp(&pid, a[0], &actions, nullptr, a.data(), e.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

} // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs, int stepMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

DesktopDriver::DesktopDriver(const std::string& buildBin)
{
    static int serial = 0;
    root = fs::temp_directory_path() / ("quillet_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
    fs::remove_all(root);
    fs::create_directories(root / "bin" / "Language");
    fs::create_directories(root / "run");
    fs::permissions(root / "run", fs::perms::owner_all);
    program = root / "bin" / "quillet";
    fs::copy_file(fs::path(buildBin) / "quillet", program);
    languageFolder = root / "bin" / "Language";
    for (const char* f : {"english.ini", "chinese.ini"})
        fs::copy_file(fs::path(buildBin) / "Language" / f, languageFolder / f);
    home = root / "home";
    fs::create_directories(home);
    settingsFile = home / "Documents" / "OrvikClass" / "Data.ini";
    recordings = home / "Videos" / "Screen";
}

DesktopDriver::~DesktopDriver()
{
    for (pid_t pid : children_) {
        if (alive(pid)) {
            ::kill(pid, SIGTERM);
            if (waitExit(pid, 3000) == -1) {
                ::kill(pid, SIGKILL);
                waitExit(pid, 2000);
            }
        }
    }
    if (::testing::Test::HasFailure()) {
        std::ifstream in(root / "program.log");
        const std::string log((std::istreambuf_iterator<char>(in)), {});
        std::fprintf(stderr, "--- what the program printed:\n%s\n---\n", log.substr(log.size() > 8000 ? log.size() - 8000 : 0).c_str());
    }
    fs::remove_all(root);
}

void DesktopDriver::startTray()
{
    if (g_tray)
        return;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    g_tray = spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32",
                    "--SetDockType", "true", "--transparent", "false", "--tint", "0x303030"},
                   env);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

void DesktopDriver::stopTray()
{
    if (g_tray) {
        ::kill(g_tray, SIGTERM);
        int status = 0;
        ::waitpid(g_tray, &status, 0);
        g_tray = 0;
    }
}

std::vector<std::string> DesktopDriver::environment() const
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string s(*e);
        if (s.rfind("HOME=", 0) == 0 || s.rfind("XDG_RUNTIME_DIR=", 0) == 0 || s.rfind("XDG_CONFIG_HOME=", 0) == 0)
            continue;
        bool replaced = false;
        for (const std::string& extra : extraEnvironment)
            replaced |= s.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
        if (replaced)
            continue;
        env.push_back(s);
    }
    env.push_back("HOME=" + home.string());
    env.push_back("XDG_RUNTIME_DIR=" + (root / "run").string());
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    return env;
}

pid_t DesktopDriver::launch(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string log = (root / "program.log").string();
    const pid_t pid = spawn(argv, environment(), log.c_str());
    if (pid)
        children_.push_back(pid);
    return pid;
}

int DesktopDriver::runToEnd(const std::vector<std::string>& args, int timeoutMs)
{
    const pid_t pid = launch(args);
    return pid ? waitExit(pid, timeoutMs) : -1;
}

int DesktopDriver::waitExit(pid_t pid, int timeoutMs)
{
    int status = 0;
    int code = -1;
    waitUntil(
        [&] {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            return r < 0;
        },
        timeoutMs, 50);
    return code;
}

bool DesktopDriver::alive(pid_t pid) const
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

std::string DesktopDriver::shell(const std::string& command, int* exitCode) const
{
    std::string prefix;
    for (const std::string& e : environment())
        if (e.rfind("HOME=", 0) == 0 || e.rfind("XDG_RUNTIME_DIR=", 0) == 0)
            prefix += "export " + e.substr(0, e.find('=') + 1) + quoted(e.substr(e.find('=') + 1)) + "; ";
    FILE* p = ::popen((prefix + "{ " + command + "; } 2>/dev/null").c_str(), "r");
    if (!p)
        return {};
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = ::pclose(p);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::string DesktopDriver::waitWindow(const std::string& nameRegex, int timeoutMs) const
{
    std::string id;
    waitUntil(
        [&] {
            id = shell("xdotool search --onlyvisible --name " + quoted(nameRegex) + " | head -n1");
            return !id.empty();
        },
        timeoutMs);
    return id;
}

bool DesktopDriver::windowVisible(const std::string& nameRegex) const
{
    return !shell("xdotool search --onlyvisible --name " + quoted(nameRegex) + " | head -n1").empty();
}

void DesktopDriver::click(const std::string& window, int x, int y, int button) const
{
    shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
          " sleep 0.2 click " + std::to_string(button));
}

void DesktopDriver::keys(const std::string& window, const std::string& names) const
{
    shell("xdotool windowfocus --sync " + window + " sleep 0.2 key " + names);
}

void DesktopDriver::keys(const std::string& names) const
{
    shell("xdotool key " + names);
}

int DesktopDriver::clickTrayIcon(int button) const
{
    // The icon is the program's small window (its class is the program's
    // name, like the main window's) docked in the tray.
    const std::string icon = shell(
        "for w in $(xdotool search --onlyvisible --classname '^quillet$'); do "
        "eval $(xdotool getwindowgeometry --shell $w); "
        "[ $WIDTH -le 48 ] && [ $HEIGHT -le 48 ] && echo $w && break; done");
    if (icon.empty())
        return 0;
    shell("xdotool mousemove --window " + icon + " 10 12 sleep 0.2 click " + std::to_string(button));
    return 1;
}

} // namespace quillet::desktop::testing
