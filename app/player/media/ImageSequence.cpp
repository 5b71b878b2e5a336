#include "app/player/media/ImageSequence.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <tuple>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace quillet::player {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string kindOf(const std::string& ext)
{
    const std::string e = lower(ext);
    return e == "jpeg" ? "jpg" : e;
}

// "NAME_012.jpg" -> NAME, 12, "jpg". Returns false for other names.
bool parseNumberedName(const std::string& name, std::string& base, long& number, std::string& ext)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    ext = name.substr(dot + 1);
    const std::string e = lower(ext);
    if (e != "jpg" && e != "jpeg" && e != "png")
        return false;
    const size_t under = name.rfind('_', dot);
    if (under == std::string::npos || dot - under - 1 < 3 || dot - under - 1 > 9)
        return false;
    for (size_t i = under + 1; i < dot; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    base = name.substr(0, under);
    number = std::stol(name.substr(under + 1, dot - under - 1));
    return true;
}

int64_t modifiedNs(const std::string& file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return 0;
    return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

struct Group {
    std::vector<std::pair<long, std::string>> files;
    int64_t newestNs = 0;
};

} // namespace

void timeImageSequence(ImageSequence& seq, const std::vector<int64_t>& ns)
{
    const size_t n = seq.files.size();
    seq.startMs.assign(n, 0);
    bool ordered = ns.size() == n && n > 1;
    for (size_t i = 1; ordered && i < n; ++i)
        ordered = ns[i] >= ns[i - 1];
    seq.timed = ordered && ns[n - 1] > ns[0];
    for (size_t i = 0; i < n; ++i)
        seq.startMs[i] = seq.timed ? (ns[i] - ns[0]) / 1000000 : int64_t(i) * ImageSequence::kUntimedImageMs;
    // The last image stays up as long as an untimed one would.
    seq.durationMs = n ? seq.startMs[n - 1] + ImageSequence::kUntimedImageMs : 0;
}

int findImageSequence(const std::string& path, ImageSequence& out)
{
    std::error_code ec;
    fs::path p(path);
    std::string wantBase, wantExt;
    fs::path folder;
    if (fs::is_directory(p, ec)) {
        folder = p;
    } else {
        folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
        const std::string name = p.filename().string();
        long number = 0;
        if (!parseNumberedName(name, wantBase, number, wantExt)) {
            // The recording's own name: NAME.jpg stands for NAME_000.jpg ...
            const size_t dot = name.rfind('.');
            if (dot == std::string::npos)
                return 0;
            wantBase = name.substr(0, dot);
            wantExt = name.substr(dot + 1);
            const std::string e = lower(wantExt);
            if (e != "jpg" && e != "jpeg" && e != "png")
                return 0;
        }
    }
    std::map<std::pair<std::string, std::string>, Group> groups;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        std::string base, ext;
        long number = 0;
        if (!parseNumberedName(it->path().filename().string(), base, number, ext))
            continue;
        if (!wantBase.empty() && base != wantBase)
            continue;
        Group& g = groups[{base, kindOf(ext)}];
        g.files.emplace_back(number, it->path().string());
        g.newestNs = std::max(g.newestNs, modifiedNs(it->path().string()));
    }
    if (groups.empty())
        return 0;
    // A name's own extension first: a recording named NAME.png is written as
    // JPEG files below the lossless level.
    if (!wantExt.empty()) {
        const std::string e = kindOf(wantExt);
        for (auto it = groups.begin(); it != groups.end();)
            it = groups.size() > 1 && it->first.second != e ? groups.erase(it) : std::next(it);
    }
    auto chosen = groups.begin();
    for (auto it = groups.begin(); it != groups.end(); ++it)
        if (it->second.newestNs > chosen->second.newestNs)
            chosen = it;
    Group& g = chosen->second;
    std::sort(g.files.begin(), g.files.end());
    out = ImageSequence{};
    out.folder = folder.string();
    if (out.folder.empty() || out.folder.back() != '/')
        out.folder += '/';
    out.baseName = chosen->first.first;
    out.extension = fs::path(g.files.front().second).extension().string().substr(1);
    out.otherSequences = int(groups.size()) - 1;
    std::vector<int64_t> times;
    for (const auto& [number, file] : g.files) {
        out.files.push_back(file);
        times.push_back(modifiedNs(file));
    }
    timeImageSequence(out, times);
    return 1;
}

ImageSequenceReader::ImageSequenceReader(ImageSequence seq) : seq_(std::move(seq)) {}

ImageSequenceReader::~ImageSequenceReader()
{
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    sws_freeContext(sws_);
}

int ImageSequenceReader::open(std::string& error)
{
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) {
        error = seq_.folder + ": out of memory";
        return 0;
    }
    const std::string e = lower(seq_.extension);
    codec_ = avcodec_find_decoder(e == "png" ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec_) {
        error = seq_.folder + ": this build has no " + e + " decoder";
        return 0;
    }
    if (seq_.files.empty() || !decodeFile(seq_.files[0], nullptr, error))
        return 0;
    width_ = frame_->width;
    height_ = frame_->height;
    return 1;
}

int ImageSequenceReader::decodeFile(const std::string& file, MediaPicture* out, std::string& error)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) {
        error = file + ": cannot be read";
        return 0;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    bytes.resize(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    // A decoder of its own for every image: libavcodec's PNG decoder carries
    // the last row of one image into the filters of the next.
    AVCodecContext* c = avcodec_alloc_context3(codec_);
    int rc = c ? avcodec_open2(c, codec_, nullptr) : -1;
    if (rc >= 0) {
        av_packet_unref(packet_);
        packet_->data = bytes.data();
        packet_->size = int(bytes.size() - AV_INPUT_BUFFER_PADDING_SIZE);
        rc = avcodec_send_packet(c, packet_);
        if (rc >= 0)
            rc = avcodec_receive_frame(c, frame_);
        packet_->data = nullptr;
        packet_->size = 0;
    }
    avcodec_free_context(&c);
    if (rc < 0 || frame_->width <= 0 || frame_->height <= 0) {
        error = file + ": the image cannot be decoded";
        return 0;
    }
    if (!out)
        return 1;
    const int w = frame_->width, h = frame_->height;
    sws_ = sws_getCachedContext(sws_, w, h, AVPixelFormat(frame_->format), w, h, AV_PIX_FMT_BGR0, SWS_BICUBIC,
                                nullptr, nullptr, nullptr);
    if (!sws_) {
        error = file + ": the image's pixel format cannot be shown";
        return 0;
    }
    if (out->width != w || out->height != h)
        out->allocate(w, h);
    uint8_t* dst[4] = {out->pixels.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {int(out->stride()), 0, 0, 0};
    sws_scale(sws_, frame_->data, frame_->linesize, 0, h, dst, dstStride);
    return 1;
}

int ImageSequenceReader::advance(PictureTiming& timing)
{
    if (next_ >= seq_.files.size()) {
        stop_.atMs = seq_.durationMs;
        return 0;
    }
    current_ = int64_t(next_++);
    timing.index = current_;
    timing.key = true;
    timing.startMs = seq_.startMs[size_t(current_)];
    timing.endMs = next_ < seq_.files.size() ? seq_.startMs[next_] : seq_.durationMs;
    return 1;
}

int ImageSequenceReader::picture(MediaPicture& out)
{
    if (current_ < 0)
        return 0;
    std::string error;
    if (decodeFile(seq_.files[size_t(current_)], &out, error))
        return 1;
    // A damaged image keeps the previous one on the screen.
    if (warnings_.size() < 100)
        warnings_.push_back(error);
    return 0;
}

int ImageSequenceReader::seek(int64_t timeMs)
{
    const auto it = std::upper_bound(seq_.startMs.begin(), seq_.startMs.end(), timeMs);
    next_ = it == seq_.startMs.begin() ? 0 : size_t(it - seq_.startMs.begin()) - 1;
    current_ = -1;
    stop_ = ReadStop{};
    return 1;
}

std::vector<std::string> ImageSequenceReader::takeWarnings()
{
    std::vector<std::string> out;
    out.swap(warnings_);
    return out;
}

} // namespace quillet::player
