#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/ByteOrder.h"

namespace quillet::muxtest {

// A minimal reader of the box tree, for checking what the writer produced.
struct Box {
    size_t offset = 0;  // of the size field
    uint64_t size = 0;  // including the header
    size_t header = 8;  // 16 with a 64-bit size
    std::string type;
    size_t payload() const { return offset + header; }
    size_t end() const { return size_t(offset + size); }
};

// Boxes laid one after another in [begin, end); stops at anything malformed.
inline std::vector<Box> boxesIn(const std::vector<uint8_t>& f, size_t begin, size_t end)
{
    std::vector<Box> out;
    size_t at = begin;
    while (at + 8 <= end && at + 8 <= f.size()) {
        Box b;
        b.offset = at;
        b.size = getBE32(&f[at]);
        b.type.assign(reinterpret_cast<const char*>(&f[at + 4]), 4);
        if (b.size == 1) {
            if (at + 16 > f.size())
                break;
            b.size = getBE64(&f[at + 8]);
            b.header = 16;
        }
        if (b.size < b.header || at + b.size > end)
            break;
        out.push_back(b);
        at += size_t(b.size);
    }
    return out;
}

// Child `type` (the n-th of that type) inside a container box.
inline bool childBox(const std::vector<uint8_t>& f, const Box& parent, const std::string& type, Box& out, int n = 0)
{
    for (const Box& b : boxesIn(f, parent.payload(), parent.end()))
        if (b.type == type && n-- == 0) {
            out = b;
            return true;
        }
    return false;
}

// Box by path from the top level, e.g. "moov/trak#1/mdia/minf/stbl/stsz"
// ("#n" picks the n-th of that type, from 0).
inline bool findBox(const std::vector<uint8_t>& f, const std::string& path, Box& out)
{
    Box parent;
    parent.offset = 0;
    parent.size = f.size();
    parent.header = 0;
    size_t at = 0;
    bool first = true;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos)
            slash = path.size();
        std::string part = path.substr(at, slash - at);
        int n = 0;
        const size_t hash = part.find('#');
        if (hash != std::string::npos) {
            n = std::stoi(part.substr(hash + 1));
            part = part.substr(0, hash);
        }
        Box child;
        if (!childBox(f, parent, part, child, n))
            return false;
        (void)first;
        first = false;
        parent = child;
        at = slash + 1;
    }
    out = parent;
    return true;
}

inline uint32_t be32At(const std::vector<uint8_t>& f, size_t at) { return getBE32(&f[at]); }

} // namespace quillet::muxtest
