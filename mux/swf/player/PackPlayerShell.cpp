// Build tool: turns the compiler's SWF output of the player into the shell
// resource the recorder copies into its files, and writes it as C++ source.
//
// The shell is an uncompressed SWF whose tags start at offset 32 (header with
// a 9-byte stage RECT, FileAttributes, SetBackgroundColor) and end with
// ShowFrame and End; between them: Protect, DefineSceneAndFrameLabelData,
// DoABC and SymbolClass, the last binding the main timeline to the player
// class. The recorder copies the bytes from offset 32 to 4 before the end.
//
// usage: pack_player_shell compiled.swf out.cpp
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kTimelineClass = "aswf_fla.MainTimeline";
constexpr size_t kTagsOffset = 32;
enum : uint16_t {
    kTagShowFrame = 1,
    kTagSetBackgroundColor = 9,
    kTagProtect = 24,
    kTagFileAttributes = 69,
    kTagDoAbc = 82,
    kTagSymbolClass = 76,
    kTagSceneAndFrameLabels = 86,
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "pack_player_shell: %s\n", message.c_str());
    return 1;
}

bool readFile(const char* path, std::vector<uint8_t>& out)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put16(std::vector<uint8_t>& o, uint32_t v) { o.push_back(uint8_t(v)); o.push_back(uint8_t(v >> 8)); }
void put32(std::vector<uint8_t>& o, uint32_t v) { for (int i = 0; i < 4; ++i) o.push_back(uint8_t(v >> (8 * i))); }

void putTag(std::vector<uint8_t>& o, uint16_t code, const uint8_t* body, size_t length)
{
    if (length < 63) {
        put16(o, uint32_t(code) << 6 | uint32_t(length));
    } else {
        put16(o, uint32_t(code) << 6 | 0x3F);
        put32(o, uint32_t(length));
    }
    o.insert(o.end(), body, body + length);
}

// The whole file with the part after the 8-byte head inflated.
bool uncompressed(const std::vector<uint8_t>& in, std::vector<uint8_t>& out)
{
    if (in.size() < 8)
        return false;
    const uint32_t length = le32(&in[4]);
    if (in[0] == 'F' && in[1] == 'W' && in[2] == 'S') {
        out = in;
        return true;
    }
    if (in[0] != 'C' || in[1] != 'W' || in[2] != 'S' || length < 8 || length > (64u << 20))
        return false;
    out.assign(length, 0);
    std::memcpy(out.data(), in.data(), 8);
    out[0] = 'F';
    uLongf size = length - 8;
    if (uncompress(out.data() + 8, &size, in.data() + 8, uLong(in.size() - 8)) != Z_OK || size != length - 8)
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return fail("usage: pack_player_shell compiled.swf out.cpp");
    std::vector<uint8_t> raw, swf;
    if (!readFile(argv[1], raw))
        return fail(std::string("cannot read ") + argv[1]);
    if (!uncompressed(raw, swf))
        return fail(std::string(argv[1]) + " is not an SWF file");

    // Skip the stage RECT: 5 bits of size, then four fields.
    const size_t rectBits = 5 + 4 * size_t(swf[8] >> 3);
    size_t pos = 8 + (rectBits + 7) / 8 + 4;
    const size_t rectBytes = (rectBits + 7) / 8;
    std::vector<uint8_t> scene, abc, background;
    bool ended = false;
    while (pos + 2 <= swf.size() && !ended) {
        const uint32_t word = uint32_t(swf[pos]) | uint32_t(swf[pos + 1]) << 8;
        pos += 2;
        uint32_t length = word & 0x3F;
        if (length == 0x3F) {
            if (pos + 4 > swf.size())
                return fail("truncated tag header");
            length = le32(&swf[pos]);
            pos += 4;
        }
        if (length > swf.size() - pos)
            return fail("truncated tag");
        const uint16_t code = uint16_t(word >> 6);
        const uint8_t* body = &swf[pos];
        if (code == kTagSceneAndFrameLabels)
            putTag(scene, code, body, length);
        else if (code == kTagDoAbc)
            putTag(abc, code, body, length);
        else if (code == kTagSetBackgroundColor)
            putTag(background, code, body, length);
        ended = code == 0;
        pos += length;
    }
    if (abc.empty())
        return fail("the compiled player has no DoABC tag");
    if (rectBytes != 9)
        return fail("the player's stage size must give a 9-byte RECT (e.g. 800x600)");

    std::vector<uint8_t> out(swf.begin(), swf.begin() + 8 + rectBytes + 4);
    out[0] = 'F';
    out[3] = 9; // the recordings' version
    out[8 + rectBytes + 2] = 1; // one frame
    out[8 + rectBytes + 3] = 0;
    const uint8_t attributes[4] = {0x08, 0, 0, 0};
    putTag(out, kTagFileAttributes, attributes, sizeof attributes);
    const uint8_t gray[3] = {10, 10, 10};
    putTag(out, kTagSetBackgroundColor, gray, sizeof gray);
    if (out.size() != kTagsOffset)
        return fail("internal: the tags do not start at offset 32");
    // Protect without a password: authoring tools refuse to import the shell.
    putTag(out, kTagProtect, nullptr, 0);
    out.insert(out.end(), scene.begin(), scene.end());
    out.insert(out.end(), abc.begin(), abc.end());
    std::vector<uint8_t> symbols;
    put16(symbols, 1);
    put16(symbols, 0); // the main timeline
    symbols.insert(symbols.end(), kTimelineClass, kTimelineClass + std::strlen(kTimelineClass) + 1);
    putTag(out, kTagSymbolClass, symbols.data(), symbols.size());
    putTag(out, kTagShowFrame, nullptr, 0);
    putTag(out, 0, nullptr, 0);
    const uint32_t total = uint32_t(out.size());
    for (int i = 0; i < 4; ++i)
        out[4 + i] = uint8_t(total >> (8 * i));

    FILE* f = std::fopen(argv[2], "w");
    if (!f)
        return fail(std::string("cannot write ") + argv[2]);
    std::fprintf(f, "// Generated by pack_player_shell from the compiled player. Do not edit.\n"
                    "#include \"mux/swf/SwfPlayerShell.h\"\n\nnamespace quillet {\nnamespace {\n"
                    "const uint8_t kShell[%u] = {\n",
                 total);
    for (size_t i = 0; i < out.size(); ++i)
        std::fprintf(f, "%u,%s", out[i], i % 24 == 23 ? "\n" : "");
    std::fprintf(f, "};\n} // namespace\n\nSwfPlayerShell swfPlayerShell() { return {kShell, sizeof kShell}; }\n\n"
                    "} // namespace quillet\n");
    if (std::fclose(f) != 0)
        return fail(std::string("cannot write ") + argv[2]);
    return 0;
}
