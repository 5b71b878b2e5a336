#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Reads back what the SWF writer produced, for tests: the header and the tag
// list, with the few records the recorder writes decoded.
namespace quillet::test {

struct SwfBitReader {
    const uint8_t* p;
    size_t bit = 0;
    uint32_t u(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit)
            v = v << 1 | ((p[bit >> 3] >> (7 - (bit & 7))) & 1u);
        return v;
    }
    int32_t s(int n)
    {
        if (n == 0)
            return 0;
        const uint32_t v = u(n);
        return (v & (1u << (n - 1))) ? int32_t(v | ~((1u << n) - 1)) : int32_t(v);
    }
    size_t bytes() const { return (bit + 7) / 8; }
};

struct SwfTag {
    uint16_t code = 0;
    size_t offset = 0; // of the tag header
    size_t headerBytes = 0;
    std::vector<uint8_t> body;
    uint32_t le16(size_t at) const { return uint32_t(body[at]) | uint32_t(body[at + 1]) << 8; }
};

struct SwfMatrixRead {
    bool hasScale = false;
    int32_t scaleX = 0, scaleY = 0, translateX = 0, translateY = 0;
    int translateBits = 0;
};

inline SwfMatrixRead readMatrix(SwfBitReader& r)
{
    SwfMatrixRead m;
    m.hasScale = r.u(1);
    if (m.hasScale) {
        const int n = int(r.u(5));
        m.scaleX = r.s(n);
        m.scaleY = r.s(n);
    }
    if (r.u(1)) {
        const int n = int(r.u(5));
        r.s(n);
        r.s(n);
    }
    m.translateBits = int(r.u(5));
    m.translateX = r.s(m.translateBits);
    m.translateY = r.s(m.translateBits);
    return m;
}

struct SwfPlacement {
    uint8_t flags = 0;
    uint16_t depth = 0;
    uint16_t id = 0;
    SwfMatrixRead matrix;
};

struct SwfFile {
    std::vector<uint8_t> bytes;
    std::string signature;
    uint8_t version = 0;
    uint32_t length = 0;
    int rectBits = 0;
    int32_t xMax = 0, yMax = 0;
    uint16_t frameRate = 0, frameCount = 0;
    std::vector<SwfTag> tags;
    bool wellFormed = false; // every tag fits and the last one is End

    bool load(const std::string& path)
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return false;
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
        if (bytes.size() < 21)
            return false;
        signature.assign(bytes.begin(), bytes.begin() + 3);
        version = bytes[3];
        length = uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 | uint32_t(bytes[7]) << 24;
        SwfBitReader r{&bytes[8]};
        rectBits = int(r.u(5));
        r.s(rectBits);
        xMax = r.s(rectBits);
        r.s(rectBits);
        yMax = r.s(rectBits);
        size_t pos = 8 + r.bytes();
        frameRate = uint16_t(bytes[pos] | bytes[pos + 1] << 8);
        frameCount = uint16_t(bytes[pos + 2] | bytes[pos + 3] << 8);
        pos += 4;
        while (pos + 2 <= bytes.size()) {
            SwfTag t;
            t.offset = pos;
            const uint32_t word = uint32_t(bytes[pos]) | uint32_t(bytes[pos + 1]) << 8;
            pos += 2;
            uint32_t len = word & 0x3F;
            if (len == 0x3F) {
                if (pos + 4 > bytes.size())
                    return true;
                len = uint32_t(bytes[pos]) | uint32_t(bytes[pos + 1]) << 8 | uint32_t(bytes[pos + 2]) << 16 |
                      uint32_t(bytes[pos + 3]) << 24;
                pos += 4;
            }
            t.headerBytes = pos - t.offset;
            if (len > bytes.size() - pos)
                return true;
            t.code = uint16_t(word >> 6);
            t.body.assign(bytes.begin() + pos, bytes.begin() + pos + len);
            pos += len;
            tags.push_back(std::move(t));
            if (tags.back().code == 0) {
                wellFormed = pos == bytes.size();
                return true;
            }
        }
        return true;
    }

    int count(uint16_t code) const
    {
        int n = 0;
        for (const SwfTag& t : tags)
            n += t.code == code;
        return n;
    }
};

inline SwfPlacement readPlacement(const SwfTag& t)
{
    SwfPlacement p;
    p.flags = t.body[0];
    p.depth = uint16_t(t.le16(1));
    size_t at = 3;
    if (p.flags & 0x02) {
        p.id = uint16_t(t.le16(3));
        at = 5;
    }
    if (p.flags & 0x04) {
        SwfBitReader r{t.body.data() + at};
        p.matrix = readMatrix(r);
    }
    return p;
}

} // namespace quillet::test
