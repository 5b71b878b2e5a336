#pragma once
// Helpers for tests that run quillet-cli on the headless desktop of
// scripts/test-env.sh: processes, private X and sound servers, waiting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/session/SessionTestSupport.h"

extern char** environ;

namespace quillet::test {

inline bool desktopPresent()
{
    return std::getenv("DISPLAY") && std::system("xdpyinfo >/dev/null 2>&1") == 0 &&
           std::system("pactl info >/dev/null 2>&1") == 0 && std::system("ffprobe -version >/dev/null 2>&1") == 0;
}

#define REQUIRE_DESKTOP()                                                                  \
    do {                                                                                   \
        if (!::quillet::test::desktopPresent())                                            \
            GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)"; \
    } while (0)

inline std::string cli() { return "./quillet-cli"; }

inline std::string tempFolder()
{
    char pattern[] = "/tmp/quillet-cli-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? std::string(dir) + "/" : std::string("/tmp/");
}

// Runs a shell command; returns its exit code and output (stdout + stderr).
inline int run(const std::string& cmd, std::string* output)
{
    *output = commandOutput(cmd + " 2>&1; echo \"@rc=$?\"");
    const size_t at = output->rfind("@rc=");
    if (at == std::string::npos)
        return -1;
    const int rc = std::atoi(output->c_str() + at + 4);
    output->resize(at);
    return rc;
}

// Starts a program with its output (stdout and stderr) going to `outputFile`
// (/dev/null when empty), with `extraEnv` ("NAME=value") added to the
// environment.
inline pid_t spawn(const std::vector<std::string>& args, const std::string& outputFile = {},
                   const std::vector<std::string>& extraEnv = {})
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extraEnv)
            replaced = replaced || x.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = outputFile.empty() ? std::string("/dev/null") : outputFile;
    pid_t pid = -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

inline int waitExit(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits up to timeoutMs; returns the exit code, or -1 (the process is then
// killed and reaped) when it did not end in time.
inline int waitExitWithin(pid_t pid, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Waits until the file holds `text`; returns false after timeoutMs.
inline bool waitForText(const std::string& path, const std::string& text, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (readText(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// A virtual X display of its own, which a test may kill or freeze without
// disturbing the shared one. The server picks a free display number.
class PrivateDisplay {
public:
    explicit PrivateDisplay(const std::string& size = "1280x720")
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        const std::string fd = std::to_string(fds[1]);
        pid_ = spawn({"/usr/bin/Xvfb", "-displayfd", fd, "-screen", "0", size + "x24", "-nolisten", "tcp", "-noreset"});
        close(fds[1]);
        char buf[32] = {};
        const ssize_t n = pid_ > 0 ? read(fds[0], buf, sizeof buf - 1) : -1;
        close(fds[0]);
        if (n > 0)
            name_ = ":" + std::to_string(std::atoi(buf));
    }
    ~PrivateDisplay()
    {
        if (pid_ > 0) {
            kill(pid_, SIGCONT);
            kill(pid_, SIGKILL);
            waitExit(pid_);
        }
    }
    bool ready() const { return !name_.empty(); }
    const std::string& name() const { return name_; }
    pid_t pid() const { return pid_; }
    // After kill(): the server is gone.
    void forget() { pid_ = -1; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A sound server of its own with a stand-in microphone "mic" (fed from the
// null sink "micfeed") as the default source, as scripts/test-env.sh sets one
// up; a test may kill it.
class PrivateSound {
public:
    PrivateSound()
    {
        dir_ = tempFolder();
        std::filesystem::create_directories(dir_ + "run");
        std::filesystem::permissions(dir_ + "run", std::filesystem::perms::owner_all);
        std::ofstream(dir_ + "test.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << dir_ << "native\n"
            << "load-module module-null-sink sink_name=micfeed rate=48000 channels=2\n"
            << "load-module module-remap-source source_name=mic master=micfeed.monitor\n"
            << "set-default-source mic\n";
        env_ = {"XDG_RUNTIME_DIR=" + dir_ + "run", "PULSE_STATE_PATH=" + dir_ + "state",
                "PULSE_RUNTIME_PATH=" + dir_ + "run/pulse", "PULSE_SERVER=unix:" + dir_ + "native"};
        pid_ = spawn({"/usr/bin/pulseaudio", "--daemonize=no", "-n", "-F", dir_ + "test.pa", "--exit-idle-time=-1",
                      "--use-pid-file=no"},
                     dir_ + "pa.log", env_);
        for (int i = 0; i < 100 && !ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~PrivateSound()
    {
        for (pid_t p : {keeper_, pid_})
            if (p > 0) {
                kill(p, SIGKILL);
                waitExit(p);
            }
        std::filesystem::remove_all(dir_);
    }
    bool ready() const { return std::system(("PULSE_SERVER=unix:" + dir_ + "native pactl info >/dev/null 2>&1").c_str()) == 0; }
    // The environment that points a program at this server.
    const std::vector<std::string>& env() const { return env_; }
    std::string pactl(const std::string& args) const { return commandOutput("PULSE_SERVER=unix:" + dir_ + "native pactl " + args + " 2>&1"); }
    // Plays a tone into the microphone for the life of the server.
    void playTone(int seconds)
    {
        const std::string wav = dir_ + "tone.wav";
        std::system(("sox -n -r 48000 -c 2 '" + wav + "' synth " + std::to_string(seconds) + " sine 1000 vol 0.5 2>/dev/null").c_str());
        keeper_ = spawn({"/usr/bin/paplay", "-d", "micfeed", wav}, {}, env_);
    }
    void killServer()
    {
        kill(pid_, SIGKILL);
        waitExit(pid_);
        pid_ = -1;
    }

private:
    std::string dir_;
    std::vector<std::string> env_;
    pid_t pid_ = -1;
    pid_t keeper_ = -1;
};

inline std::vector<int16_t> decodeSound(const std::string& file)
{
    const std::string raw = commandOutput("ffmpeg -v error -i '" + file + "' -map 0:a:0 -ac 1 -ar 32000 -f s16le -");
    std::vector<int16_t> pcm(raw.size() / 2);
    if (!pcm.empty())
        std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// The computer's own sound: the last entry of "quillet-cli devices".
inline std::string computerSoundIndex()
{
    const std::string out = commandOutput(cli() + " devices 2>/dev/null | grep -E 'own sound|monitor' | tail -n1");
    const size_t p = out.find_first_not_of(' ');
    return p == std::string::npos ? std::string() : out.substr(p, out.find(' ', p) - p);
}

// A tone playing into the default sink, and a moving scene, for the life of
// the object.
struct Scene {
    explicit Scene(int seconds, int freq = 1000)
    {
        folder = tempFolder();
        const std::string wav = folder + "tone.wav";
        std::system(("sox -n -r 48000 -c 2 '" + wav + "' synth " + std::to_string(seconds) + " sine " +
                     std::to_string(freq) + " vol 0.5 2>/dev/null")
                        .c_str());
        tone = spawn({"/usr/bin/paplay", wav});
        mover = spawn({"/bin/sh", "-c",
                       "i=0; while :; do xsetroot -solid \"#$(printf '%02x%02x40' $((i*37%256)) $((i*91%256)))\"; "
                       "i=$((i+1)); sleep 0.2; done"});
    }
    ~Scene()
    {
        for (pid_t p : {tone, mover})
            if (p > 0) {
                kill(p, SIGTERM);
                waitExit(p);
            }
    }
    std::string folder;
    pid_t tone = -1, mover = -1;
};

} // namespace quillet::test
