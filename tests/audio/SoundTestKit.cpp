#include "tests/audio/SoundTestKit.h"

#include <pulse/pulseaudio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "audio/pulse/PulseConnection.h"

extern char** environ;

namespace quillet::soundtest {

std::string soundServerMissing()
{
    if (!std::getenv("PULSE_SERVER"))
        return "PULSE_SERVER is not set; run under scripts/test-env.sh";
    PulseConnection c;
    if (!c.connect("Quillet test probe", 2000))
        return "sound server unreachable: " + c.error();
    return "";
}

namespace {

void put16(std::ofstream& f, uint16_t v)
{
    const char b[2] = {char(v & 0xff), char(v >> 8)};
    f.write(b, 2);
}
void put32(std::ofstream& f, uint32_t v)
{
    put16(f, uint16_t(v & 0xffff));
    put16(f, uint16_t(v >> 16));
}

} // namespace

std::string writeToneWav(double frequencyHz, double seconds, uint32_t rate, double amplitude)
{
    char dir[] = "/tmp/quillet-tone.XXXXXX";
    if (!mkdtemp(dir))
        return "";
    const std::string path = std::string(dir) + "/tone.wav";
    const uint32_t frames = static_cast<uint32_t>(seconds * rate);
    std::ofstream f(path, std::ios::binary);
    f.write("RIFF", 4);
    put32(f, 36 + frames * 2);
    f.write("WAVEfmt ", 8);
    put32(f, 16);
    put16(f, 1);
    put16(f, 1);
    put32(f, rate);
    put32(f, rate * 2);
    put16(f, 2);
    put16(f, 16);
    f.write("data", 4);
    put32(f, frames * 2);
    for (uint32_t i = 0; i < frames; ++i)
        put16(f, static_cast<uint16_t>(static_cast<int16_t>(
                     std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * frequencyHz * i / rate)))));
    return f.good() ? path : "";
}

ChildProcess::~ChildProcess() { kill(); }

int ChildProcess::start(const std::vector<std::string>& argv)
{
    kill();
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return 0;
    pid_ = pid;
    return 1;
}

void ChildProcess::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string runCommand(const std::string& command, bool* ok)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (ok)
            *ok = false;
        return out;
    }
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = pclose(p);
    if (ok)
        *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return out;
}

PulseModule::PulseModule(const std::string& nameAndArgs)
{
    bool ok = false;
    const std::string out = runCommand("pactl load-module " + nameAndArgs, &ok);
    if (ok)
        index_ = std::atoi(out.c_str());
}

PulseModule::~PulseModule() { unload(); }

void PulseModule::unload()
{
    if (index_ < 0)
        return;
    runCommand("pactl unload-module " + std::to_string(index_));
    index_ = -1;
}

std::vector<int16_t> channelOf(const std::vector<uint8_t>& pcm, int channels, int channel)
{
    std::vector<int16_t> out;
    const size_t frameBytes = static_cast<size_t>(channels) * 2;
    out.reserve(pcm.size() / frameBytes);
    for (size_t off = static_cast<size_t>(channel) * 2; off + 1 < pcm.size(); off += frameBytes) {
        int16_t v;
        std::memcpy(&v, pcm.data() + off, 2);
        out.push_back(v);
    }
    return out;
}

namespace {

void fft(std::vector<std::complex<double>>& a)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * M_PI / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

} // namespace

Spectrum analyse(const std::vector<int16_t>& samples, uint32_t rate)
{
    Spectrum s;
    size_t n = 1;
    while (n * 2 <= samples.size() && n * 2 <= 32768)
        n *= 2;
    if (n < 256)
        return s;
    const size_t first = samples.size() - n;
    std::vector<std::complex<double>> a(n);
    double sumSq = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = samples[first + i] / 32768.0;
        sumSq += x * x;
        const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n - 1));
        a[i] = x * hann;
    }
    s.rms = std::sqrt(sumSq / static_cast<double>(n));
    fft(a);
    std::vector<double> power(n / 2);
    double total = 0;
    size_t peak = 1;
    for (size_t k = 1; k < n / 2; ++k) {
        power[k] = std::norm(a[k]);
        total += power[k];
        if (power[k] > power[peak])
            peak = k;
    }
    double near = 0;
    for (size_t k = peak > 2 ? peak - 2 : 1; k <= peak + 2 && k < n / 2; ++k)
        near += power[k];
    s.peakHz = static_cast<double>(peak) * rate / static_cast<double>(n);
    s.peakShare = total > 0 ? near / total : 0;
    return s;
}

} // namespace quillet::soundtest
