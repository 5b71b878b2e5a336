#include "tests/video/screen/ScreenTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "video/screen/ConvertedBlock.h"
#include "video/screen/RegionPieces.h"

namespace quillet::test {

TestFrame::TestFrame(int32_t width, int32_t height, int bitsPerPixel)
{
    bits.assign(size_t(width) * size_t(height) * size_t(bitsPerPixel / 8), 0);
    frame.width = width;
    frame.height = height;
    frame.bitsPerPixel = uint8_t(bitsPerPixel);
    frame.bits = bits.data();
    frame.stride = width * (bitsPerPixel / 8);
    frame.imageSize = uint32_t(bits.size());
}

void TestFrame::set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t* p = bits.data() + size_t(frame.height - 1 - y) * size_t(frame.stride) + size_t(x) * (frame.bitsPerPixel / 8);
    if (frame.bitsPerPixel == 16) {
        const uint32_t v = uint32_t(r >> 3) << 10 | uint32_t(g >> 3) << 5 | uint32_t(b >> 3);
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        return;
    }
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

void TestFrame::fill(const Rect& r, uint8_t red, uint8_t green, uint8_t blue)
{
    for (int32_t y = std::max(r.top, 0); y <= std::min(r.bottom, frame.height - 1); ++y)
        for (int32_t x = std::max(r.left, 0); x <= std::min(r.right, frame.width - 1); ++x)
            set(x, y, red, green, blue);
}

std::vector<uint8_t> craft_region(const std::vector<uint8_t>& blockStream, const std::vector<uint8_t>& dct)
{
    std::vector<uint8_t> out(2 + dct.size());
    out[0] = uint8_t((dct.size() + 2) & 0xFF);
    out[1] = uint8_t((dct.size() + 2) >> 8);
    std::copy(dct.begin(), dct.end(), out.begin() + 2);
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> packed(blockStream.size() * 2 + 64);
    z.next_in = const_cast<Bytef*>(blockStream.data());
    z.avail_in = uInt(blockStream.size());
    z.next_out = packed.data();
    z.avail_out = uInt(packed.size());
    deflate(&z, Z_SYNC_FLUSH);
    packed.resize(packed.size() - z.avail_out);
    deflateEnd(&z);
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

StreamTap::StreamTap() { inflateInit2(&z_, 15); }
StreamTap::~StreamTap() { inflateEnd(&z_); }
void StreamTap::restart() { inflateReset(&z_); }

std::vector<std::pair<int32_t, int32_t>> walk_order(const Rect& rect, int32_t width, int32_t height)
{
    std::vector<std::pair<int32_t, int32_t>> order;
    const int32_t left = std::max(rect.left, 0) / 8 * 8;
    const int32_t top = std::max(rect.top, 0) / 8 * 8;
    const int32_t right = std::min(rect.right, width - 1) | 7;
    const int32_t bottom = std::min(rect.bottom, height - 1) | 7;
    for (int32_t sx = left; sx <= right; sx += 16)
        for (int32_t sy = top; sy <= bottom; sy += 16) {
            const bool two = sx + 8 <= right;
            const bool tall = sy + 8 <= bottom;
            order.emplace_back(sx, sy);
            if (tall)
                order.emplace_back(sx, sy + 8);
            if (two)
                order.emplace_back(sx + 8, sy);
            if (two && tall)
                order.emplace_back(sx + 8, sy + 8);
        }
    return order;
}

bool StreamTap::parse(const Rect& rect, int32_t width, int32_t height, const uint8_t* data, size_t length,
                      ParsedRegion& out)
{
    out = ParsedRegion{};
    if (length < 2)
        return false;
    const size_t c = size_t(data[0]) | size_t(data[1]) << 8;
    if (c < 2 || c > length)
        return false;
    out.dctBytes = c - 2;
    const auto order = walk_order(rect, width, height);
    out.stream.resize(2 + order.size() * 97 + 16);
    z_.next_in = const_cast<Bytef*>(data + c);
    z_.avail_in = uInt(length - c);
    z_.next_out = out.stream.data();
    z_.avail_out = uInt(out.stream.size());
    const int rc = inflate(&z_, Z_SYNC_FLUSH);
    if ((rc != Z_OK && rc != Z_BUF_ERROR) || z_.avail_in != 0)
        return false;
    out.streamBytes = out.stream.size() - z_.avail_out;
    out.stream.resize(out.streamBytes);
    const size_t codeBytes = (order.size() + 3) / 4;
    if (out.streamBytes < 2 + codeBytes)
        return false;
    out.pos = uint32_t(out.stream[0]) | uint32_t(out.stream[1]) << 8;
    size_t p = 2 + codeBytes;
    for (size_t i = 0; i < order.size(); ++i) {
        ParsedBlock b;
        b.x = order[i].first;
        b.y = order[i].second;
        b.code = (out.stream[2 + i / 4] >> (6 - 2 * (i % 4))) & 3;
        const size_t need = b.code == 1 ? 2 : b.code == 3 ? 1 : b.code == 0 ? 96 : 0;
        if (p + need > out.streamBytes)
            return false;
        if (b.code == 1)
            b.value = out.stream[p] | out.stream[p + 1] << 8;
        else if (b.code == 3)
            b.value = out.stream[p];
        p += need;
        out.blocks.push_back(b);
    }
    return p == out.streamBytes;
}

FrameCheck check_frame(const ScreenFrame& frame, const ScreenPicture& decoded, const uint8_t* lossy)
{
    FrameCheck check;
    const screen::BlockSource source = screen::block_source(frame);
    const int32_t bw = (frame.width + 7) / 8;
    const int32_t bh = (frame.height + 7) / 8;
    double lossyErr = 0, allErr = 0;
    size_t lossySamples = 0, allSamples = 0;
    uint8_t block[96];
    for (int32_t by = 0; by < bh; ++by) {
        for (int32_t bx = 0; bx < bw; ++bx) {
            const bool isLossy = lossy != nullptr && lossy[size_t(by) * size_t(bw) + size_t(bx)] != 0;
            screen::convert_block(source, bx * 8, by * 8, block);
            bool same = true;
            for (int32_t y = by * 8; y < std::min(by * 8 + 8, frame.height); ++y) {
                const uint8_t* got = decoded.row_from_top(y);
                for (int32_t x = bx * 8; x < std::min(bx * 8 + 8, frame.width); ++x) {
                    uint8_t want[3];
                    const int i = (y - by * 8) * 8 + (x - bx * 8);
                    const int pair = 64 + ((y - by * 8) / 2 * 4 + (x - bx * 8) / 2) * 2;
                    screen::block_colour(block[i], block[pair], block[pair + 1], want);
                    uint8_t in[3];
                    screen::pixel_bgr(source, x, y, in);
                    for (int k = 0; k < 3; ++k) {
                        const double d = double(got[x * 4 + k]) - double(in[k]);
                        allErr += d * d;
                        if (isLossy)
                            lossyErr += d * d;
                        if (got[x * 4 + k] != want[k])
                            same = false;
                    }
                    allSamples += 3;
                    if (isLossy)
                        lossySamples += 3;
                }
            }
            if (isLossy) {
                ++check.lossyBlocks;
            } else {
                ++check.exactBlocks;
                check.mismatchedBlocks += same ? 0 : 1;
            }
        }
    }
    auto psnr = [](double err, size_t n) {
        if (n == 0 || err == 0)
            return 99.0;
        return 10.0 * std::log10(255.0 * 255.0 / (err / double(n)));
    };
    check.lossyPsnr = psnr(lossyErr, lossySamples);
    check.framePsnr = psnr(allErr, allSamples);
    return check;
}

Recorder::Recorder(int32_t width, int32_t height, int bitsPerPixel, RecordOptions options) : options_(options)
{
    ok_ = coder_.init(width, height, bitsPerPixel, ScreenCodec::kCodeMode) == 1 && decoder_.init(width, height) == 1;
    side_.resize(coder_.side_data_capacity() + 1);
}

void Recorder::frame(const ScreenFrame& input, int index)
{
    if (!ok_)
        return;
    ScreenFrame f = input;
    const bool key = index % options_.keyInterval == 0;
    if (key) {
        for (int i = 0; i < f.tileCount; ++i)
            f.tiles[i].dirty = f.tiles[i].tile;
        coder_.reset();
        decoder_.reset();
    }
    coder_.natural = 0;
    if (options_.naturalTest)
        for (int i = 0; i < f.tileCount; ++i)
            if (f.tiles[i].isDirty())
                coder_.natural_test(i, f.tiles[i].dirty, f);
    totals_.naturalFrames += coder_.natural;

    // Regions that do not fit a record are coded in pieces.
    std::vector<std::pair<Rect, std::vector<uint8_t>>> records;
    size_t packetBytes = 0;
    for (int i = 0; i < f.tileCount; ++i) {
        if (!f.tiles[i].isDirty())
            continue;
        const int pieces = code_region_pieces(coder_, f, f.tiles[i].dirty, 65500, region_,
                                              [&](const Rect& r, const uint8_t* data, size_t n) {
                                                  records.emplace_back(r, std::vector<uint8_t>(data, data + n));
                                                  totals_.regionBytes += n;
                                                  packetBytes += n + 10;
                                              });
        totals_.regions += size_t(pieces);
        totals_.failedRegions += pieces == 0 ? 1 : 0;
        totals_.splitRegions += pieces > 1 ? 1 : 0;
    }

    const size_t side = coder_.side_data(side_.data(), side_.size(), uint32_t(packetBytes / 1000));
    if (side > 0) {
        totals_.sideBytes += side;
        ++totals_.sidePackets;
        if (options_.decodeSideData && !decoder_.decode_side_data(side_.data(), side) && totals_.firstError.empty())
            totals_.firstError = std::string("side data: ") + decoder_.last_error().reason;
    }
    for (const auto& [rect, bytes] : records)
        if (!decoder_.decode_region(rect, bytes.data(), bytes.size()) && totals_.firstError.empty())
            totals_.firstError = std::string("frame ") + std::to_string(index) + ": " + decoder_.last_error().reason +
                                 " at " + std::to_string(decoder_.last_error().offset);

    const FrameCheck c = check_frame(f, decoder_.picture(), decoder_.lossy_blocks());
    totals_.worst.exactBlocks = std::max(totals_.worst.exactBlocks, c.exactBlocks);
    totals_.worst.mismatchedBlocks = std::max(totals_.worst.mismatchedBlocks, c.mismatchedBlocks);
    totals_.worst.lossyBlocks = std::max(totals_.worst.lossyBlocks, c.lossyBlocks);
    totals_.worst.lossyPsnr = std::min(totals_.worst.lossyPsnr, c.lossyPsnr);
    totals_.worst.framePsnr = std::min(totals_.worst.framePsnr, c.framePsnr);
    ++totals_.frames;
}

} // namespace quillet::test
