#include "tests/mux/MuxTestMedia.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/ByteOrder.h"

namespace quillet::muxtest {
namespace {

void appendNal(Bytes& sample, const uint8_t* nal, size_t n)
{
    uint8_t len[4];
    putBE32(len, uint32_t(n));
    sample.insert(sample.end(), len, len + 4);
    sample.insert(sample.end(), nal, nal + n);
}

// Removes the per-process scratch folder when the test program ends.
struct ScratchDir {
    std::string path;
    ScratchDir() : path("/tmp/quillet-mux-" + std::to_string(getpid()))
    {
        std::filesystem::create_directories(path);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

} // namespace

std::string mediaDir()
{
    return QUILLET_MUX_MEDIA_DIR;
}

std::string tempPath(const std::string& name)
{
    static ScratchDir dir;
    return dir.path + "/" + name;
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes readRange(const std::string& path, uint64_t offset, size_t n)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(offset));
    Bytes b(n);
    in.read(reinterpret_cast<char*>(b.data()), std::streamsize(n));
    b.resize(size_t(in.gcount()));
    return b;
}

Bytes readIndexTail(const std::string& path)
{
    // ftyp, free, then the mdat header: find where the media box ends.
    const Bytes head = readRange(path, 0, 64);
    if (head.size() < 48)
        return {};
    const size_t mdat = getBE32(head.data()) + 8;
    const uint64_t end = mdat + uint64_t(getBE32(&head[mdat]));
    const uint64_t size = std::filesystem::file_size(path);
    return end < size ? readRange(path, end, size_t(size - end)) : Bytes{};
}

bool loadVideo(const std::string& annexb_path, VideoClip& out)
{
    const Bytes data = readFile(annexb_path);
    out = VideoClip{};
    // Split at start codes (3 or 4 bytes).
    std::vector<std::pair<size_t, size_t>> nals;
    size_t i = 0, start = std::string::npos;
    while (i + 3 <= data.size()) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && data[end - 1] == 0)
                    --end;
                nals.emplace_back(start, end - start);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos && start < data.size())
        nals.emplace_back(start, data.size() - start);

    Bytes current;
    int current_key = 0;
    for (auto [at, n] : nals) {
        if (n == 0)
            continue;
        const uint8_t type = data[at] & 0x1F;
        if (type == 7) {
            out.sps.assign(data.begin() + at, data.begin() + at + n);
        } else if (type == 8) {
            out.pps.assign(data.begin() + at, data.begin() + at + n);
        } else if (type == 1 || type == 5) {
            // first_mb_in_slice == 0 (first bit of the slice header set) starts a picture.
            const bool first_slice = n > 1 && (data[at + 1] & 0x80);
            if (first_slice && !current.empty()) {
                out.samples.push_back(current);
                out.keys.push_back(current_key);
                current.clear();
            }
            if (first_slice)
                current_key = type == 5;
            appendNal(current, data.data() + at, n);
        }
    }
    if (!current.empty()) {
        out.samples.push_back(current);
        out.keys.push_back(current_key);
    }
    out.width = 160;
    out.height = 120;
    return !out.sps.empty() && !out.pps.empty() && !out.samples.empty();
}

bool loadAudio(const std::string& adts_path, AudioClip& out)
{
    const Bytes data = readFile(adts_path);
    out = AudioClip{};
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    size_t at = 0;
    while (at + 7 <= data.size()) {
        const uint8_t* h = data.data() + at;
        if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0)
            return false;
        const size_t len = (size_t(h[3] & 0x03) << 11) | (size_t(h[4]) << 3) | (h[5] >> 5);
        const size_t header = (h[1] & 1) ? 7 : 9;
        if (len < header || at + len > data.size())
            return false;
        const int freq = (h[2] >> 2) & 0x0F;
        out.sample_rate = freq < 12 ? rates[freq] : 0;
        out.channels = ((h[2] & 1) << 2) | (h[3] >> 6);
        out.raw.emplace_back(h + header, h + len);
        Bytes rec(2);
        putLE16(rec.data(), uint32_t(len));
        rec.insert(rec.end(), h, h + len);
        out.records.push_back(rec);
        at += len;
    }
    return !out.raw.empty();
}

const VideoClip& testVideo()
{
    static VideoClip clip;
    static const bool ok = loadVideo(mediaDir() + "/clip.h264", clip);
    (void)ok;
    return clip;
}

const AudioClip& testAudioStereo()
{
    static AudioClip clip;
    static const bool ok = loadAudio(mediaDir() + "/stereo.aac", clip);
    (void)ok;
    return clip;
}

const AudioClip& testAudioMono()
{
    static AudioClip clip;
    static const bool ok = loadAudio(mediaDir() + "/mono.aac", clip);
    (void)ok;
    return clip;
}

Bytes flvVideoTag(const Bytes& sample, bool key, uint32_t timestamp_ms)
{
    const uint32_t data_size = uint32_t(sample.size()) + 5;
    Bytes tag(11 + data_size + 4);
    uint8_t* p = tag.data();
    p[0] = 9;
    putBE24(p + 1, data_size);
    putBE24(p + 4, timestamp_ms & 0xFFFFFF);
    p[7] = uint8_t(timestamp_ms >> 24);
    putBE24(p + 8, 0);
    p[11] = key ? 0x17 : 0x27;
    p[12] = 0x01;
    putBE24(p + 13, 66); // composition time as the wrapper writes it
    std::copy(sample.begin(), sample.end(), p + 16);
    putBE32(p + 16 + sample.size(), data_size + 11);
    return tag;
}

Bytes flvAvcHeaderTag(const Bytes& sps, const Bytes& pps)
{
    const uint32_t l = uint32_t(sps.size() + pps.size() + 5);
    const uint32_t n = 11 + l;
    Bytes tag(11 + n + 4);
    uint8_t* p = tag.data();
    p[0] = 9;
    putBE24(p + 1, n);
    putBE24(p + 4, 0);
    p[7] = 0;
    putBE24(p + 8, 0);
    const uint8_t fixed[] = {0x17, 0x00, 0, 0, 0, 0x01, 0x42, 0xC0, 0x15, 0x03, 0x01};
    std::copy(std::begin(fixed), std::end(fixed), p + 11);
    putBE16(p + 22, uint32_t(sps.size()));
    std::copy(sps.begin(), sps.end(), p + 24);
    p[24 + sps.size()] = 0x01;
    putBE16(p + 25 + sps.size(), uint32_t(pps.size()));
    std::copy(pps.begin(), pps.end(), p + 27 + sps.size());
    putBE32(p + 11 + n, n + 11);
    return tag;
}

int runCommand(const std::string& cmd, std::string* output, bool with_stderr)
{
    FILE* pipe = popen((with_stderr ? cmd + " 2>&1" : cmd).c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        text.append(buf, n);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string decodeErrors(const std::string& path)
{
    std::string out;
    const int rc = runCommand("ffmpeg -nostdin -v error -i " + quote(path) + " -f null -", &out);
    if (rc != 0)
        out += "exit " + std::to_string(rc);
    return out;
}

DecodeReport decodeAndList(const std::string& path)
{
    DecodeReport r;
    const std::string err = path + ".err";
    std::string listing;
    const int rc = runCommand("ffmpeg -nostdin -v error -i " + quote(path) +
                                  " -map 0 -f null - -map 0 -c copy -f framecrc - 2>" + quote(err),
                              &listing, false);
    const Bytes e = readFile(err);
    std::remove(err.c_str());
    r.errors.assign(e.begin(), e.end());
    if (rc != 0)
        r.errors += "exit " + std::to_string(rc);
    // "#media_type 0: video" names the streams; packets are "index, dts, pts,
    // duration, size, crc".
    std::string types[4];
    size_t at = 0;
    while (at < listing.size()) {
        size_t end = listing.find('\n', at);
        if (end == std::string::npos)
            end = listing.size();
        const std::string line = listing.substr(at, end - at);
        at = end + 1;
        unsigned idx = 0;
        char type[16] = {};
        if (std::sscanf(line.c_str(), "#media_type %u: %15s", &idx, type) == 2 && idx < 4) {
            types[idx] = type;
            continue;
        }
        long long dts, pts, dur;
        unsigned size = 0;
        if (line.empty() || line[0] == '#' ||
            std::sscanf(line.c_str(), "%u, %lld, %lld, %lld, %u", &idx, &dts, &pts, &dur, &size) != 5 || idx >= 4)
            continue;
        if (types[idx] == "video")
            r.video.push_back(size);
        else if (types[idx] == "audio")
            r.audio.push_back(size);
    }
    return r;
}

std::string streamField(const std::string& path, const char* stream, const char* field)
{
    return probeEntry(path, stream, "stream", field);
}

std::vector<uint32_t> probePacketSizes(const std::string& path, const char* stream)
{
    std::string out;
    runCommand(std::string("ffprobe -v error -select_streams ") + stream +
                   ":0 -show_entries packet=size -of csv=p=0 " + quote(path),
               &out);
    std::vector<uint32_t> sizes;
    size_t at = 0;
    while (at < out.size()) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty())
            sizes.push_back(uint32_t(std::stoul(line)));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return sizes;
}

std::string probeEntry(const std::string& path, const char* stream, const char* section, const char* entry)
{
    std::string out;
    std::string select = stream ? std::string("-select_streams ") + stream + ":0 " : std::string();
    runCommand("ffprobe -v error " + select + "-show_entries " + section + "=" + entry +
                   " -of default=nw=1:nk=1 " + quote(path),
               &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace quillet::muxtest
