#include "mux/avi/AviReader.h"

#include <algorithm>
#include <cctype>

#include "base/ByteOrder.h"
#include "mux/avi/AviFormat.h"

namespace quillet {

using namespace avi;

namespace {

// A header list this large is not one we wrote, nor any sane file's.
constexpr uint64_t kMaxHeaderList = 1 << 20;
constexpr uint64_t kMaxHeaderChunk = 1 << 16;

bool printableId(uint32_t id)
{
    for (int i = 0; i < 4; ++i) {
        const int c = static_cast<int>((id >> (8 * i)) & 0xFF);
        if (!std::isprint(c))
            return false;
    }
    return true;
}

// Bytes a chunk of `size` data bytes takes, header and pad included.
uint64_t span(uint32_t size) { return kChunkHeader + uint64_t(size) + (size & 1); }

// "00dc", "01wb", ...: the stream number, or -1.
int mediaStream(uint32_t id)
{
    const int a = static_cast<int>(id & 0xFF) - '0';
    const int b = static_cast<int>((id >> 8) & 0xFF) - '0';
    if (a < 0 || a > 9 || b < 0 || b > 9)
        return -1;
    const char t0 = static_cast<char>((id >> 16) & 0xFF);
    const char t1 = static_cast<char>((id >> 24) & 0xFF);
    const bool media = (t0 == 'd' && (t1 == 'c' || t1 == 'b')) || (t0 == 'w' && t1 == 'b');
    return media ? a * 10 + b : -1;
}

} // namespace

void AviReader::close()
{
    file_.close();
}

int AviReader::fail(uint64_t at, const std::string& what)
{
    error_ = file_.damageAt(at, what);
    return 0;
}

uint64_t AviReader::listEnd(uint64_t dataStart, uint32_t size)
{
    if (size == 0 || dataStart + size > file_.size()) {
        finished_ = false;
        return file_.size();
    }
    return dataStart + size;
}

int AviReader::open(const std::string& path)
{
    close();
    for (AviStreamInfo& s : streams_)
        s = AviStreamInfo{};
    microSecPerFrame_ = 0;
    width_ = height_ = 0;
    pos_ = moviEnd_ = riffEnd_ = 0;
    recEnds_.clear();
    finished_ = true;
    damaged_ = false;
    ended_ = false;
    error_.clear();
    if (!file_.open(path, &error_))
        return 0;

    uint8_t h[12];
    if (!readAt(0, h, sizeof h) || getLE32(h) != kRiff || getLE32(h + 8) != kAviForm)
        return fail(0, "not an AVI file");
    riffEnd_ = listEnd(8, getLE32(h + 4));

    // The top level of the first RIFF: the header list, then the movi list.
    uint64_t at = kListHeader;
    bool header = false;
    while (at + kChunkHeader <= riffEnd_) {
        uint8_t c[12] = {};
        if (!readAt(at, c, std::min<uint64_t>(12, riffEnd_ - at)))
            return fail(at, "chunk header past the end");
        const uint32_t id = getLE32(c);
        const uint32_t size = getLE32(c + 4);
        if (id == kList && at + kListHeader <= riffEnd_) {
            const uint32_t type = getLE32(c + 8);
            if (type == kHdrl) {
                const uint64_t end = at + 8 + size;
                if (size < 4 || size > kMaxHeaderList || end > file_.size())
                    return fail(at, "header list of impossible size");
                if (!readHeaderList(at + kListHeader, end))
                    return 0;
                header = true;
            } else if (type == kMovi) {
                if (!header)
                    return fail(at, "media before the header list");
                pos_ = at + kListHeader;
                moviEnd_ = listEnd(at + 8, size);
                if (size != 0 && moviEnd_ > riffEnd_)
                    moviEnd_ = riffEnd_;
                return 1;
            }
        }
        if (!printableId(id))
            return fail(at, "damaged chunk header");
        at += span(size);
    }
    return fail(at, header ? "no media list" : "no header list");
}

int AviReader::readHeaderList(uint64_t begin, uint64_t end)
{
    std::vector<uint8_t> list(end - begin);
    if (!readAt(begin, list.data(), list.size()))
        return fail(begin, "header list past the end");
    int streamCount = 0;
    // Walks the chunks of list[from, to), descending into stream lists.
    auto walk = [&](auto&& self, size_t from, size_t to, int streamIndex) -> int {
        size_t at = from;
        while (to - at >= kChunkHeader) {
            const uint32_t id = getLE32(&list[at]);
            const uint32_t size = getLE32(&list[at + 4]);
            if (size > to - at - kChunkHeader)
                return fail(begin + at, "header chunk past the end of its list");
            const uint8_t* d = &list[at + kChunkHeader];
            if (id == kList && size >= 4 && getLE32(d) == kStrl) {
                const int index = streamCount++;
                if (!self(self, at + kListHeader, at + kChunkHeader + size, index))
                    return 0;
            } else if (id == kAvih && streamIndex < 0) {
                if (size < kAvihSize)
                    return fail(begin + at, "main header too short");
                microSecPerFrame_ = getLE32(d);
                width_ = static_cast<int32_t>(getLE32(d + 32));
                height_ = static_cast<int32_t>(getLE32(d + 36));
            } else if (id == kStrh && streamIndex >= 0 && streamIndex < 2) {
                if (size < 48)
                    return fail(begin + at, "stream header too short");
                AviStreamInfo& s = streams_[streamIndex];
                s.present = true;
                s.type = getLE32(d);
                s.handler = getLE32(d + 4);
                s.scale = getLE32(d + 20);
                s.rate = getLE32(d + 24);
                s.length = getLE32(d + 32);
                s.sampleSize = getLE32(d + 44);
            } else if (id == kStrf && streamIndex >= 0 && streamIndex < 2) {
                if (size > kMaxHeaderChunk)
                    return fail(begin + at, "stream format too large");
                streams_[streamIndex].format.assign(d, d + size);
            }
            at += kChunkHeader + size + (size & 1);
        }
        return 1;
    };
    // The header list's own type word comes first.
    return walk(walk, 0, list.size(), -1);
}

int AviReader::enterNextRiff(uint64_t from)
{
    while (from + kListHeader <= file_.size()) {
        uint8_t h[12];
        if (!readAt(from, h, sizeof h))
            return 0;
        if (getLE32(h) != kRiff || getLE32(h + 8) != kAvixForm) {
            damaged_ = true;
            fail(from, "damaged continuation header");
            return 0;
        }
        riffEnd_ = listEnd(from + 8, getLE32(h + 4));
        uint64_t at = from + kListHeader;
        while (at + kListHeader <= riffEnd_) {
            uint8_t c[12];
            if (!readAt(at, c, sizeof c))
                return 0;
            const uint32_t size = getLE32(c + 4);
            if (getLE32(c) == kList && getLE32(c + 8) == kMovi) {
                pos_ = at + kListHeader;
                moviEnd_ = std::min(listEnd(at + 8, size), riffEnd_);
                return 1;
            }
            if (!printableId(getLE32(c))) {
                damaged_ = true;
                fail(at, "damaged chunk header");
                return 0;
            }
            at += span(size);
        }
        from = riffEnd_ + (riffEnd_ & 1);
    }
    return 0;
}

int AviReader::next(AviChunk& chunk)
{
    if (!file_.isOpen() || ended_)
        return 0;
    for (;;) {
        while (!recEnds_.empty() && pos_ + kChunkHeader > recEnds_.back()) {
            pos_ = recEnds_.back();
            recEnds_.pop_back();
        }
        if (pos_ + kChunkHeader > moviEnd_) {
            // Fewer bytes than a chunk header are left: a cut, unless the
            // list really ends here.
            if (pos_ < moviEnd_ && moviEnd_ == file_.size()) {
                damaged_ = true;
                fail(pos_, "file cut inside a chunk header");
                ended_ = true;
                return 0;
            }
            recEnds_.clear();
            if (!enterNextRiff(riffEnd_ + (riffEnd_ & 1))) {
                ended_ = true;
                return 0;
            }
            continue;
        }
        uint8_t h[12];
        if (!readAt(pos_, h, kChunkHeader)) {
            ended_ = true;
            return 0;
        }
        const uint32_t id = getLE32(h);
        const uint32_t size = getLE32(h + 4);
        if (!printableId(id)) {
            damaged_ = true;
            fail(pos_, "damaged chunk header");
            ended_ = true;
            return 0;
        }
        const uint64_t dataEnd = pos_ + kChunkHeader + size;
        if (dataEnd > moviEnd_) {
            damaged_ = true;
            fail(pos_, dataEnd > file_.size() ? "file cut inside a chunk" : "chunk past the end of its list");
            ended_ = true;
            return 0;
        }
        if (id == kList && size >= 4) {
            if (readAt(pos_ + 8, h + 8, 4) && getLE32(h + 8) == fourcc("rec ")) {
                recEnds_.push_back(dataEnd);
                pos_ += kListHeader;
                continue;
            }
        }
        const int stream = mediaStream(id);
        const uint64_t at = pos_;
        pos_ = std::min(pos_ + span(size), std::max(dataEnd, moviEnd_));
        if (stream == 0 || stream == 1) {
            chunk.stream = stream;
            chunk.offset = at + kChunkHeader;
            chunk.size = size;
            return 1;
        }
        // Index chunks, padding and anything unknown are stepped over.
    }
}

int AviReader::read(const AviChunk& chunk, std::vector<uint8_t>& out)
{
    out.resize(chunk.size);
    if (chunk.size == 0)
        return 1;
    if (!readAt(chunk.offset, out.data(), chunk.size))
        return fail(chunk.offset, "chunk cannot be read");
    return 1;
}

int AviReader::seekToChunk(uint64_t headerOffset)
{
    if (!file_.isOpen())
        return 0;
    // Find the RIFF and movi list that hold the chunk by walking the RIFF
    // headers from the start; there is one per gigabyte at most.
    uint8_t h[12];
    if (!readAt(0, h, sizeof h))
        return 0;
    uint64_t riffStart = 0;
    uint64_t riffEnd = listEnd(8, getLE32(h + 4));
    while (headerOffset >= riffEnd) {
        const uint64_t from = riffEnd + (riffEnd & 1);
        if (!readAt(from, h, sizeof h) || getLE32(h) != kRiff)
            return fail(headerOffset, "no media list holds the chunk");
        riffStart = from;
        riffEnd = listEnd(from + 8, getLE32(h + 4));
    }
    uint64_t at = riffStart + kListHeader;
    while (at + kListHeader <= riffEnd) {
        if (!readAt(at, h, sizeof h))
            return 0;
        const uint32_t size = getLE32(h + 4);
        if (getLE32(h) == kList && getLE32(h + 8) == kMovi) {
            const uint64_t end = std::min(listEnd(at + 8, size), riffEnd);
            if (headerOffset < at + kListHeader || headerOffset >= end)
                break;
            riffEnd_ = riffEnd;
            moviEnd_ = end;
            pos_ = headerOffset;
            recEnds_.clear();
            ended_ = false;
            damaged_ = false;
            return 1;
        }
        at += span(size);
    }
    return fail(headerOffset, "no media list holds the chunk");
}

} // namespace quillet
