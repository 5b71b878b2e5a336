#pragma once
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace quillet::player::test {

// quillet-player started with --control: commands go to its standard input,
// its events come back one a line from its standard output.
class PlayerProcess {
public:
    explicit PlayerProcess(const std::vector<std::string>& args)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        std::vector<std::string> all = {"./Player/quillet-player", "--control"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~PlayerProcess() { finish(); }
    PlayerProcess(const PlayerProcess&) = delete;
    PlayerProcess& operator=(const PlayerProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void send(const std::string& command)
    {
        const std::string line = command + "\n";
        if (in_ >= 0 && write(in_, line.data(), line.size()) < 0)
            return;
    }
    // Waits for the next line that starts with prefix; the lines on the way
    // are kept. Returns false on time-out or when the player ended.
    bool expect(const std::string& prefix, std::string* line = nullptr, int timeoutMs = 15000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            while (next_ < lines_.size()) {
                const std::string& l = lines_[next_++];
                if (l.compare(0, prefix.size(), prefix) == 0) {
                    if (line)
                        *line = l;
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(int(left.count())))
                return false;
        }
    }
    const std::vector<std::string>& lines() const { return lines_; }
    std::string transcript() const
    {
        std::string t;
        for (const std::string& l : lines_)
            if (l.compare(0, 6, "shown ") != 0)
                t += l + "\n";
        return t;
    }
    // Asks it to quit; returns its exit code (kills it after 10 s).
    int finish()
    {
        if (pid_ <= 0)
            return exitCode_;
        send("quit");
        if (in_ >= 0)
            close(in_);
        in_ = -1;
        // Its output ends before the process does: wait on the clock, not on
        // the reads.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (!readSome(50))
                usleep(10000);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            exitCode_ = 137;
        }
        if (out_ >= 0)
            close(out_);
        out_ = -1;
        return exitCode_;
    }

private:
    bool readSome(int timeoutMs)
    {
        if (out_ < 0)
            return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buf[8192];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0)
            return false;
        partial_.append(buf, size_t(n));
        for (size_t e; (e = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, e));
            partial_.erase(0, e + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int exitCode_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
};

// A "shown START END INDEX MONOTONIC_US [seek]" line.
struct ShownLine {
    int64_t startMs = 0, endMs = 0, index = 0, atUs = 0;
    bool seek = false;
};

inline bool parseShown(const std::string& line, ShownLine& s)
{
    long long a, b, c, d;
    if (std::sscanf(line.c_str(), "shown %lld %lld %lld %lld", &a, &b, &c, &d) != 4)
        return false;
    s = {a, b, c, d, line.find(" seek") != std::string::npos};
    return true;
}

} // namespace quillet::player::test
