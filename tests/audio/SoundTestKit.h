#pragma once
// Helpers for tests against the private sound server of scripts/test-env.sh:
// tone files, player processes, pactl, and a spectrum check.
#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace quillet::soundtest {

// Empty when a sound server is reachable, otherwise the reason to skip.
std::string soundServerMissing();

// The sound tests play into and reconfigure the server, so they run only
// inside scripts/test-env.sh's private one.
#define REQUIRE_TEST_SOUND_SERVER()                                                                                  \
    do {                                                                                                             \
        if (!std::getenv("QUILLET_TEST_ENV"))                                                                        \
            GTEST_SKIP() << "plays into and reconfigures the sound server; run under scripts/test-env.sh";           \
        const std::string why = ::quillet::soundtest::soundServerMissing();                                          \
        if (!why.empty())                                                                                            \
            GTEST_SKIP() << why;                                                                                     \
    } while (0)

// A 16-bit mono WAV file holding a sine tone, in a fresh temporary folder.
std::string writeToneWav(double frequencyHz, double seconds, uint32_t rate = 48000, double amplitude = 0.5);

// A child process, killed and reaped when the object goes away.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    int start(const std::vector<std::string>& argv);
    void kill();

private:
    pid_t pid_ = -1;
};

// Runs a command line through the shell; returns its standard output, and
// sets ok to whether it exited with 0.
std::string runCommand(const std::string& command, bool* ok = nullptr);

// A module loaded into the sound server for one test, unloaded afterwards.
class PulseModule {
public:
    explicit PulseModule(const std::string& nameAndArgs);
    ~PulseModule();
    PulseModule(const PulseModule&) = delete;
    PulseModule& operator=(const PulseModule&) = delete;
    bool loaded() const { return index_ >= 0; }
    void unload();

private:
    int index_ = -1;
};

// One channel of interleaved 16-bit PCM bytes.
std::vector<int16_t> channelOf(const std::vector<uint8_t>& pcm, int channels, int channel);

struct Spectrum {
    double peakHz = 0;
    double peakShare = 0; // share of the spectrum's energy within 2 bins of the peak
    double rms = 0;       // of the analysed samples, full scale 32768
};
// Hann-windowed FFT over the last power-of-two run of samples (at most 32768).
Spectrum analyse(const std::vector<int16_t>& samples, uint32_t rate);

} // namespace quillet::soundtest
