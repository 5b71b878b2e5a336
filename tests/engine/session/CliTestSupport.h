#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/engine/session/SessionTestSupport.h"

extern char** environ;

// What the tests of quillet-cli on the headless desktop (scripts/test-env.sh)
// share: the desktop check, running and spawning the tool, the computer's
// sound source, and a scene with a tone and a changing screen.
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

inline pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
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
