#include "mux/avi/AviWriter.h"

#include <algorithm>

#include "base/ByteOrder.h"

namespace quillet {

using namespace avi;

namespace {

// Offsets inside the fixed records that are patched at Close.
constexpr uint64_t kAvihTotalFrames = 16;
constexpr uint64_t kAvihSuggestedBuffer = 28;
constexpr uint64_t kStrhLength = 32;

size_t superIndexBytes() { return kIndexHeaderSize + kSuperIndexEntrySize * AviWriter::kSuperIndexEntries; }

void putStreamHeader(uint8_t* h, uint32_t type, uint32_t handler, uint32_t scale, uint32_t rate,
                     uint32_t suggested, uint32_t sampleSize, int32_t width, int32_t height)
{
    std::fill(h, h + kStrhSize, uint8_t(0));
    putLE32(h + 0, type);      // fccType
    putLE32(h + 4, handler);   // fccHandler
    // dwFlags, wPriority, wLanguage, dwInitialFrames: 0
    putLE32(h + 20, scale);    // dwScale
    putLE32(h + 24, rate);     // dwRate
    // dwStart 0; dwLength patched at Close
    putLE32(h + 36, suggested); // dwSuggestedBufferSize
    // dwQuality 0
    putLE32(h + 44, sampleSize); // dwSampleSize
    putLE16(h + 48, 0);          // rcFrame left, top, right, bottom
    putLE16(h + 50, 0);
    putLE16(h + 52, static_cast<uint32_t>(width));
    putLE16(h + 54, static_cast<uint32_t>(height));
}

} // namespace

AviWriter::~AviWriter()
{
    Close();
}

void AviWriter::SetLimitsForTest(uint64_t riffBytes, uint32_t indexChunkEntries)
{
    riffLimit_ = riffBytes;
    indexChunkEntries_ = std::max<uint32_t>(1, indexChunkEntries);
}

void AviWriter::reset()
{
    riff_.reset();
    file_.reset();
    video_ = Stream{};
    audio_ = Stream{};
    idx1_.clear();
    riffOpen_ = false;
    riffCount_ = 0;
    failed_ = false;
}

int AviWriter::fail()
{
    failed_ = true;
    return 0;
}

int AviWriter::Open(const char* path, int frameRate, const AviVideoFormat& video, const uint8_t* waveFormat,
                    size_t waveFormatSize)
{
    Close();
    reset();
    if (!path || frameRate < 1 || video.width <= 0 || video.height <= 0 || video.width > 0xFFFF ||
        video.height > 0xFFFF)
        return 0;
    if (waveFormat) {
        if (waveFormatSize < kWaveFormatBase || waveFormatSize != kWaveFormatBase + getLE16(waveFormat + 16) ||
            getLE16(waveFormat + 12) == 0 || getLE32(waveFormat + 8) == 0)
            return 0; // the extra size must match, and block align and byte rate must be set
    }
    auto file = std::make_unique<FileSink>();
    if (!file->open(path))
        return 0;
    file_ = std::move(file);
    riff_ = std::make_unique<RiffWriter>(*file_);
    width_ = video.width;
    height_ = video.height;
    frameRate_ = static_cast<uint32_t>(frameRate);
    if (!writeHeaders(frameRate, video, waveFormat, waveFormatSize) || !file_->flush()) {
        file_->close();
        reset();
        return 0;
    }
    return 1;
}

int AviWriter::writeHeaders(int frameRate, const AviVideoFormat& video, const uint8_t* waveFormat,
                            size_t waveFormatSize)
{
    RiffWriter& w = *riff_;
    riffAt_ = w.beginList(kRiff, kAviForm);
    const uint64_t hdrl = w.beginList(kList, kHdrl);

    uint8_t avih[kAvihSize] = {};
    putLE32(avih + 0, 1000000u / static_cast<uint32_t>(frameRate)); // dwMicroSecPerFrame
    // dwMaxBytesPerSec, dwPaddingGranularity: 0
    putLE32(avih + 12, kAvihHasIndex | kAvihIsInterleaved); // dwFlags
    // dwTotalFrames patched at Close; dwInitialFrames 0
    putLE32(avih + 24, waveFormat ? 2 : 1);        // dwStreams
    putLE32(avih + 28, video.sizeImage);           // dwSuggestedBufferSize
    putLE32(avih + 32, static_cast<uint32_t>(video.width));
    putLE32(avih + 36, static_cast<uint32_t>(video.height));
    avihAt_ = w.tell() + kChunkHeader;
    w.chunk(kAvih, avih, sizeof avih);

    std::vector<uint8_t> emptySuper(superIndexBytes(), 0);
    auto superIndex = [&](Stream& s) {
        putLE16(emptySuper.data() + 0, 4); // wLongsPerEntry
        emptySuper[2] = 0;                 // bIndexSubType
        emptySuper[3] = kIndexOfIndexes;   // bIndexType
        putLE32(emptySuper.data() + 8, s.chunkId);
        s.indxAt = w.tell() + kChunkHeader;
        w.chunk(kIndx, emptySuper.data(), emptySuper.size());
    };

    // Video stream: one tick per chunk at the frame rate.
    video_.present = true;
    video_.chunkId = kVideoChunk;
    video_.indexId = kVideoIndexChunk;
    video_.sampleSize = 0;
    const uint64_t vstrl = w.beginList(kList, kStrl);
    uint8_t strh[kStrhSize];
    putStreamHeader(strh, kVids, video.compression, 1, static_cast<uint32_t>(frameRate), video.sizeImage, 0,
                    video.width, video.height);
    video_.strhAt = w.tell() + kChunkHeader;
    w.chunk(kStrh, strh, sizeof strh);
    uint8_t bih[kBitmapInfoSize] = {};
    putLE32(bih + 0, kBitmapInfoSize);
    putLE32(bih + 4, static_cast<uint32_t>(video.width));
    putLE32(bih + 8, static_cast<uint32_t>(video.height));
    putLE16(bih + 12, video.planes);
    putLE16(bih + 14, video.bitCount);
    putLE32(bih + 16, video.compression);
    putLE32(bih + 20, video.sizeImage);
    // resolution, colours used and important: 0
    w.chunk(kStrf, bih, sizeof bih);
    superIndex(video_);
    w.endList(vstrl);

    if (waveFormat) {
        // Audio stream: ticks of one block each, at the average byte rate.
        const uint32_t tag = getLE16(waveFormat + 0);
        const uint32_t avgBytes = getLE32(waveFormat + 8);
        const uint32_t blockAlign = getLE16(waveFormat + 12);
        audio_.present = true;
        audio_.chunkId = kAudioChunk;
        audio_.indexId = kAudioIndexChunk;
        audio_.sampleSize = blockAlign;
        const uint64_t astrl = w.beginList(kList, kStrl);
        putStreamHeader(strh, kAuds, tag, blockAlign, avgBytes, avgBytes, blockAlign, 0, 0);
        audio_.strhAt = w.tell() + kChunkHeader;
        w.chunk(kStrh, strh, sizeof strh);
        w.chunk(kStrf, waveFormat, waveFormatSize);
        superIndex(audio_);
        w.endList(astrl);
    }

    const uint64_t odml = w.beginList(kList, kOdml);
    uint8_t dmlh[kDmlhSize] = {};
    dmlhAt_ = w.tell() + kChunkHeader;
    w.chunk(kDmlh, dmlh, sizeof dmlh); // dwTotalFrames patched at Close
    w.endList(odml);
    w.endList(hdrl);

    moviAt_ = w.beginList(kList, kMovi);
    riffOpen_ = true;
    riffCount_ = 1;
    return !w.error();
}

uint64_t AviWriter::indexReserve() const
{
    uint64_t bytes = 0;
    for (const Stream* s : {&video_, &audio_})
        if (s->present)
            bytes += kChunkHeader + kIndexHeaderSize + kStdIndexEntrySize * (s->pending.size() + 1);
    if (riffCount_ == 1)
        bytes += kChunkHeader + kIdx1EntrySize * (idx1_.size() + 1);
    return bytes;
}

int AviWriter::ensureRoom(uint64_t dataBytes)
{
    const uint64_t end = riff_->tell() + RiffWriter::chunkSpan(dataBytes) + indexReserve();
    // A RIFF always takes at least one chunk, however large.
    if (end - riffAt_ <= riffLimit_ || riff_->tell() == moviAt_ + kListHeader)
        return 1;
    if (!finishRiff() || !beginRiff())
        return fail();
    return 1;
}

int AviWriter::writeSample(Stream& s, const uint8_t* data, size_t length, bool key)
{
    if (length > 0x7FFFFFFF || !ensureRoom(length))
        return fail();
    const uint64_t at = riff_->tell();
    if (!riff_->chunk(s.chunkId, data, length))
        return fail();
    const uint32_t size = static_cast<uint32_t>(length);
    s.pending.push_back({at + kChunkHeader, size | (key ? 0 : kStdIndexDeltaFrame)});
    if (riffCount_ == 1)
        idx1_.push_back({s.chunkId, key ? kIndexKeyFrame : 0u, static_cast<uint32_t>(at - (moviAt_ + 8)), size});
    const uint64_t ticks = s.sampleSize ? length / s.sampleSize : 1;
    ++s.samples;
    s.ticks += ticks;
    s.pendingTicks += ticks;
    s.largest = std::max(s.largest, size);
    if (s.pending.size() >= indexChunkEntries_ && !flushIndex(s))
        return 0;
    return 1;
}

int AviWriter::flushIndex(Stream& s)
{
    if (s.pending.empty())
        return 1;
    if (s.super.size() >= kSuperIndexEntries)
        return fail();
    std::vector<uint8_t> ix(kIndexHeaderSize + kStdIndexEntrySize * s.pending.size());
    uint8_t* p = ix.data();
    putLE16(p + 0, 2);       // wLongsPerEntry
    p[2] = 0;                // bIndexSubType
    p[3] = kIndexOfChunks;   // bIndexType
    putLE32(p + 4, static_cast<uint32_t>(s.pending.size())); // nEntriesInUse
    putLE32(p + 8, s.chunkId);
    const uint64_t base = moviAt_; // every pending chunk lies in this RIFF's movi list
    putLE32(p + 12, static_cast<uint32_t>(base));
    putLE32(p + 16, static_cast<uint32_t>(base >> 32));
    // dwReserved 0
    p += kIndexHeaderSize;
    for (const IndexEntry& e : s.pending) {
        putLE32(p, static_cast<uint32_t>(e.offset - base));
        putLE32(p + 4, e.size);
        p += kStdIndexEntrySize;
    }
    const uint64_t at = riff_->tell();
    if (!riff_->chunk(s.indexId, ix.data(), ix.size()))
        return fail();
    s.super.push_back({at, static_cast<uint32_t>(kChunkHeader + ix.size()), static_cast<uint32_t>(s.pendingTicks)});
    s.pending.clear();
    s.pendingTicks = 0;
    return 1;
}

int AviWriter::finishRiff()
{
    if (!riffOpen_)
        return 1;
    riffOpen_ = false;
    if (!flushIndex(video_) || !flushIndex(audio_))
        return 0;
    riff_->endList(moviAt_);
    if (riffCount_ == 1) {
        std::vector<uint8_t> idx(kIdx1EntrySize * idx1_.size());
        uint8_t* p = idx.data();
        for (const Idx1Entry& e : idx1_) {
            putLE32(p + 0, e.id);
            putLE32(p + 4, e.flags);
            putLE32(p + 8, e.offset);
            putLE32(p + 12, e.size);
            p += kIdx1EntrySize;
        }
        riff_->chunk(kIdx1, idx.data(), idx.size());
        idx1_.clear();
        idx1_.shrink_to_fit();
        video_.firstRiffTicks = static_cast<uint32_t>(video_.ticks);
    }
    riff_->endList(riffAt_);
    return riff_->error() ? fail() : 1;
}

int AviWriter::beginRiff()
{
    riffAt_ = riff_->beginList(kRiff, kAvixForm);
    moviAt_ = riff_->beginList(kList, kMovi);
    riffOpen_ = true;
    ++riffCount_;
    return riff_->error() ? fail() : 1;
}

int AviWriter::WriteVideo(const uint8_t* data, size_t length, int ticks, int key)
{
    if (!file_ || Failed() || (length > 0 && !data))
        return 0;
    int ok = writeSample(video_, data, length, key != 0);
    // Ticks the capture delivered nothing new for: empty, non-key samples.
    for (int i = 1; ok && i < ticks; ++i)
        ok = writeSample(video_, nullptr, 0, false);
    if (ok && !file_->flush())
        ok = fail();
    return ok;
}

int AviWriter::WriteAudio(const uint8_t* data, size_t length)
{
    if (!file_ || !audio_.present || Failed() || (length > 0 && !data))
        return 0;
    int ok = writeSample(audio_, data, length, true);
    if (ok && !file_->flush())
        ok = fail();
    return ok;
}

int AviWriter::patchHeaders()
{
    uint8_t v[4];
    const uint32_t first = riffCount_ > 1 ? video_.firstRiffTicks : static_cast<uint32_t>(video_.ticks);
    putLE32(v, first);
    riff_->patch(avihAt_ + kAvihTotalFrames, v, 4);
    putLE32(v, std::max(video_.largest, audio_.largest));
    riff_->patch(avihAt_ + kAvihSuggestedBuffer, v, 4);
    putLE32(v, static_cast<uint32_t>(video_.ticks));
    riff_->patch(dmlhAt_, v, 4);
    for (Stream* s : {&video_, &audio_}) {
        if (!s->present)
            continue;
        putLE32(v, static_cast<uint32_t>(s->ticks));
        riff_->patch(s->strhAt + kStrhLength, v, 4);
        std::vector<uint8_t> entries(kSuperIndexEntrySize * s->super.size());
        uint8_t* p = entries.data();
        for (const SuperEntry& e : s->super) {
            putLE32(p + 0, static_cast<uint32_t>(e.offset));
            putLE32(p + 4, static_cast<uint32_t>(e.offset >> 32));
            putLE32(p + 8, e.size);
            putLE32(p + 12, e.duration);
            p += kSuperIndexEntrySize;
        }
        putLE32(v, static_cast<uint32_t>(s->super.size()));
        riff_->patch(s->indxAt + 4, v, 4); // nEntriesInUse
        if (!entries.empty())
            riff_->patch(s->indxAt + kIndexHeaderSize, entries.data(), entries.size());
    }
    return !riff_->error();
}

int AviWriter::Close()
{
    if (!file_)
        return 0;
    int ok = !Failed();
    if (ok && riffOpen_)
        ok = finishRiff();
    if (ok)
        ok = patchHeaders();
    if (!file_->close())
        ok = 0;
    reset();
    return ok;
}

} // namespace quillet
