#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

// Scratch files for the playback tests: one private folder per test program,
// removed at exit.
namespace quillet::test {

using Bytes = std::vector<uint8_t>;

inline const std::string& scratchFolder()
{
    // Never freed: the removal at exit runs after static destructors.
    static const std::string* dir = [] {
        char pattern[] = "/tmp/quillet-playback-XXXXXX";
        const char* d = mkdtemp(pattern);
        auto* path = new std::string(d ? d : "/tmp");
        if (d)
            std::atexit([] { std::system(("rm -rf '" + scratchFolder() + "'").c_str()); });
        return path;
    }();
    return *dir;
}

inline std::string scratchPath(const std::string& name) { return scratchFolder() + "/" + name; }

inline Bytes readBytes(const std::string& path)
{
    Bytes b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

inline void writeBytes(const std::string& path, const Bytes& b)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    if (!b.empty())
        std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
}

} // namespace quillet::test
