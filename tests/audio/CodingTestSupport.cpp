#include "tests/audio/CodingTestSupport.h"

#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace quillet::testing {

namespace {

std::string tempPath(const char* extension)
{
    static int counter = 0;
    return (std::filesystem::temp_directory_path() /
            ("quillet-acoding-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "." + extension))
        .string();
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

// Library messages at error level during a decode count as decode errors.
int g_libraryErrors = 0;
void countErrors(void* avcl, int level, const char* fmt, va_list args)
{
    if (level <= AV_LOG_ERROR) {
        ++g_libraryErrors;
        av_log_default_callback(avcl, level, fmt, args);
    }
}

void appendFrame(const AVFrame* f, DecodedAudio& out)
{
    const int ch = f->ch_layout.nb_channels;
    for (int i = 0; i < f->nb_samples; ++i) {
        for (int c = 0; c < ch; ++c) {
            float v = 0;
            switch (f->format) {
            case AV_SAMPLE_FMT_FLTP: v = reinterpret_cast<const float*>(f->extended_data[c])[i]; break;
            case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(f->extended_data[0])[i * ch + c]; break;
            case AV_SAMPLE_FMT_S16P:
                v = reinterpret_cast<const int16_t*>(f->extended_data[c])[i] / 32768.0f;
                break;
            case AV_SAMPLE_FMT_S16:
                v = reinterpret_cast<const int16_t*>(f->extended_data[0])[i * ch + c] / 32768.0f;
                break;
            default: break;
            }
            out.samples.push_back(v);
        }
    }
}

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
        const double angle = -2 * std::numbers::pi / double(len);
        const std::complex<double> wlen(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; ++k, w *= wlen) {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// Power spectrum of the middle power-of-two stretch of the signal.
std::vector<double> powerSpectrum(const std::vector<float>& signal, size_t* nOut)
{
    size_t n = 1;
    while (n * 2 <= signal.size() && n < 65536)
        n *= 2;
    const size_t start = (signal.size() - n) / 2;
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n));
        a[i] = signal[start + i] * w;
    }
    fft(a);
    std::vector<double> p(n / 2);
    for (size_t i = 0; i < n / 2; ++i)
        p[i] = std::norm(a[i]);
    *nOut = n;
    return p;
}

} // namespace

std::vector<float> DecodedAudio::channel(int index) const
{
    std::vector<float> out;
    if (channels <= 0)
        return out;
    for (size_t i = size_t(index); i < samples.size(); i += size_t(channels))
        out.push_back(samples[i]);
    return out;
}

std::vector<uint8_t> makeTonePcm(int sampleRate, int channels, int sampleFrames, double frequencyHz, double amplitude,
                                 int startFrame)
{
    std::vector<uint8_t> pcm(size_t(sampleFrames) * size_t(channels) * 2);
    for (int i = 0; i < sampleFrames; ++i) {
        const double t = double(i + startFrame) / sampleRate;
        const auto v = int16_t(std::lround(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * frequencyHz * t)));
        for (int c = 0; c < channels; ++c) {
            const size_t at = (size_t(i) * size_t(channels) + size_t(c)) * 2;
            pcm[at] = uint8_t(uint16_t(v));
            pcm[at + 1] = uint8_t(uint16_t(v) >> 8);
        }
    }
    return pcm;
}

std::vector<uint8_t> makeNoisePcm(int, int channels, int sampleFrames, double amplitude, uint32_t seed)
{
    std::vector<uint8_t> pcm(size_t(sampleFrames) * size_t(channels) * 2);
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < pcm.size(); i += 2) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const double u = double(x) / 4294967296.0 * 2.0 - 1.0;
        const auto v = int16_t(std::lround(u * amplitude * 32767.0));
        pcm[i] = uint8_t(uint16_t(v));
        pcm[i + 1] = uint8_t(uint16_t(v) >> 8);
    }
    return pcm;
}

std::vector<float> pcmChannel(const std::vector<uint8_t>& pcm, int channels, int index)
{
    std::vector<float> out;
    for (size_t at = size_t(index) * 2; at + 1 < pcm.size(); at += size_t(channels) * 2)
        out.push_back(float(int16_t(uint16_t(pcm[at] | pcm[at + 1] << 8))) / 32768.0f);
    return out;
}

DecodedAudio decodeStream(const std::vector<uint8_t>& bytes, const char* format)
{
    DecodedAudio out;
    const std::string path = tempPath(format);
    if (!writeFile(path, bytes)) {
        out.error = "cannot write " + path;
        return out;
    }
    g_libraryErrors = 0;
    av_log_set_callback(countErrors);

    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto fail = [&](const std::string& why) {
        if (out.error.empty())
            out.error = why;
    };
    if (avformat_open_input(&fmt, path.c_str(), av_find_input_format(format), nullptr) < 0) {
        fail("demuxer refused the stream");
    } else if (avformat_find_stream_info(fmt, nullptr) < 0 || fmt->nb_streams != 1) {
        fail("no single audio stream");
    } else {
        const AVCodecParameters* par = fmt->streams[0]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        dec = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!dec || avcodec_parameters_to_context(dec, par) < 0) {
            fail("no decoder");
        } else {
            dec->err_recognition = AV_EF_CRCCHECK | AV_EF_BITSTREAM | AV_EF_EXPLODE;
            if (avcodec_open2(dec, codec, nullptr) < 0)
                fail("decoder refused to open");
        }
        auto drain = [&] {
            int r;
            while ((r = avcodec_receive_frame(dec, frame)) == 0) {
                out.sampleRate = frame->sample_rate;
                out.channels = frame->ch_layout.nb_channels;
                appendFrame(frame, out);
            }
            if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
                fail("decode error");
        };
        while (out.error.empty() && av_read_frame(fmt, pkt) >= 0) {
            ++out.packets;
            if (avcodec_send_packet(dec, pkt) < 0)
                fail("packet rejected by the decoder");
            av_packet_unref(pkt);
            drain();
        }
        if (out.error.empty()) {
            avcodec_send_packet(dec, nullptr);
            drain();
        }
    }
    if (g_libraryErrors > 0)
        fail("the library reported errors");
    av_log_set_callback(av_log_default_callback);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    std::filesystem::remove(path);
    out.ok = out.error.empty() && !out.samples.empty();
    if (out.error.empty() && out.samples.empty())
        out.error = "nothing decoded";
    return out;
}

std::string ffmpegDecodeErrors(const std::vector<uint8_t>& bytes, const char* format, bool* available)
{
    *available = std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
    if (!*available)
        return "";
    const std::string path = tempPath(format);
    const std::string log = path + ".log";
    writeFile(path, bytes);
    const std::string cmd = std::string("ffmpeg -nostdin -hide_banner -v error -err_detect crccheck+explode -f ") +
                            format + " -i " + path + " -f null - 2>" + log;
    const int rc = std::system(cmd.c_str());
    std::ifstream f(log);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    std::filesystem::remove(log);
    if (rc != 0 && text.empty())
        text = "ffmpeg exit status " + std::to_string(rc);
    return text;
}

double peakFrequencyHz(const std::vector<float>& signal, int sampleRate)
{
    if (signal.size() < 1024)
        return 0;
    size_t n = 0;
    const std::vector<double> p = powerSpectrum(signal, &n);
    size_t k = 1;
    for (size_t i = 1; i + 1 < p.size(); ++i)
        if (p[i] > p[k])
            k = i;
    // Parabolic interpolation on log power around the peak bin.
    const double a = std::log(p[k - 1] + 1e-30), b = std::log(p[k] + 1e-30), c = std::log(p[k + 1] + 1e-30);
    const double offset = 0.5 * (a - c) / (a - 2 * b + c);
    return (double(k) + offset) * sampleRate / double(n);
}

double energyAboveDb(const std::vector<float>& signal, int sampleRate, double cutoffHz)
{
    size_t n = 0;
    const std::vector<double> p = powerSpectrum(signal, &n);
    double total = 0, above = 0;
    for (size_t i = 1; i < p.size(); ++i) {
        total += p[i];
        if (double(i) * sampleRate / double(n) > cutoffHz)
            above += p[i];
    }
    return 10 * std::log10((above + 1e-30) / (total + 1e-30));
}

double toneSnrDb(const std::vector<float>& decoded, int sampleRate, double frequencyHz, int margin)
{
    const long begin = margin, end = long(decoded.size()) - margin;
    if (end - begin < 1000)
        return -100;
    // Least-squares fit of a sin + b cos + c over the stretch: the fitted tone
    // is the signal, everything else (noise, distortion, other tones) the error.
    double m[3][3] = {}, v[3] = {};
    for (long i = begin; i < end; ++i) {
        const double ph = 2 * std::numbers::pi * frequencyHz * double(i) / sampleRate;
        const double basis[3] = {std::sin(ph), std::cos(ph), 1.0};
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[r] * decoded[size_t(i)];
            for (int c = 0; c < 3; ++c)
                m[r][c] += basis[r] * basis[c];
        }
    }
    // Solve the 3x3 normal equations by Cramer's rule.
    auto det = [](double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    double coef[3];
    for (int k = 0; k < 3; ++k) {
        double t[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                t[r][c] = c == k ? v[r] : m[r][c];
        coef[k] = det(t) / d;
    }
    double signal = 0, noise = 0;
    for (long i = begin; i < end; ++i) {
        const double ph = 2 * std::numbers::pi * frequencyHz * double(i) / sampleRate;
        const double s = coef[0] * std::sin(ph) + coef[1] * std::cos(ph);
        const double e = decoded[size_t(i)] - s - coef[2];
        signal += s * s;
        noise += e * e;
    }
    return 10 * std::log10((signal + 1e-30) / (noise + 1e-30));
}

int firstAbove(const std::vector<float>& signal, float threshold)
{
    for (size_t i = 0; i < signal.size(); ++i)
        if (std::fabs(signal[i]) > threshold)
            return int(i);
    return -1;
}

} // namespace quillet::testing
