#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/OutputSink.h"
#include "mux/avi/AviFormat.h"
#include "mux/avi/RiffWriter.h"

namespace quillet {

// The video stream's format: the 40-byte bitmap information block with no
// palette.
struct AviVideoFormat {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 16;
    uint32_t compression = avi::kScreenCodec;
    uint32_t sizeImage = 0;
};

// Writes an AVI file with one video stream and, optionally, one audio stream
// (a wave format record such as MP3's). Every WriteVideo and WriteAudio call
// becomes one chunk in the movi list, in call order; a frame that covers n
// frame ticks is followed by n - 1 empty chunks, so the video keeps its timing
// at the declared rate.
//
// Files past the AVI 1.0 size: the first RIFF ("AVI ") is closed before it
// reaches 1 GiB and the file continues in "AVIX" RIFFs. Every stream carries
// an OpenDML super index in its header list pointing at standard index
// chunks ("ix00", "ix01") inside the movi lists, and the first RIFF also ends
// with an AVI 1.0 "idx1" index of its own chunks, so old readers play the
// first gigabyte and OpenDML readers the whole file. Key-frame flags are
// recorded in both indexes.
//
// Every call hands its bytes to the system before it returns, so a killed
// recording keeps every whole chunk; its headers and indexes are those of
// Open (sizes zero), and only a reader that walks the chunks (ours does)
// recovers it.
//
// The RIFF structure is our own, so there is no platform library whose
// version would need checking before a file is opened.
//
// Results: 1 success, 0 failure. Errors are sticky: after a failed write
// (a full disk) every call fails, and the file keeps what was written before.
// Not thread-safe: the recording lock serialises all calls.
class AviWriter {
public:
    // A RIFF is closed before it grows past this (bytes).
    static constexpr uint64_t kRiffLimit = uint64_t(1) << 30;
    // Entries of one standard index chunk, and of each stream's super index.
    // Together they bound a recording to 512 × 16384 frames (155 hours at 15
    // frames per second) or 512 GiB; past that WriteVideo fails.
    static constexpr uint32_t kIndexChunkEntries = 16384;
    static constexpr uint32_t kSuperIndexEntries = 512;

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates the file and writes the header lists. waveFormat (18 + extra
    // bytes) is null for a recording without sound. An open writer is closed
    // first. Returns 0 when the file cannot be created, the format is not
    // usable or a write fails.
    int Open(const char* path, int frameRate, const AviVideoFormat& video, const uint8_t* waveFormat,
             size_t waveFormatSize);
    // One coded frame covering `ticks` frame ticks (at least 1); key is the
    // key-frame flag. Returns 1 when every chunk was written.
    int WriteVideo(const uint8_t* data, size_t length, int ticks, int key);
    // One captured buffer's coded sound as one chunk.
    int WriteAudio(const uint8_t* data, size_t length);
    // Writes the indexes, fixes the headers and closes the file. Returns 0 when
    // anything failed since Open.
    int Close();

    bool IsOpen() const { return file_ != nullptr; }
    bool Failed() const { return failed_ || (file_ && file_->error()); }
    // Samples written: video chunks (empty ones included), audio chunks.
    uint32_t VideoPosition() const { return video_.samples; }
    uint32_t AudioPosition() const { return audio_.samples; }
    // RIFFs begun so far (1 until the file passes the first limit).
    int RiffCount() const { return riffCount_; }

    // Tests: closes RIFFs at `bytes` instead of kRiffLimit, and caps the
    // index chunks, to exercise continuation files without gigabytes.
    void SetLimitsForTest(uint64_t riffBytes, uint32_t indexChunkEntries);

private:
    struct IndexEntry {
        uint64_t offset; // file offset of the chunk's data
        uint32_t size;   // data bytes, bit 31 set for a non-key sample
    };
    struct SuperEntry {
        uint64_t offset; // file offset of the index chunk
        uint32_t size;   // its bytes, header included
        uint32_t duration; // stream ticks it covers
    };
    struct Stream {
        bool present = false;
        uint32_t chunkId = 0;
        uint32_t indexId = 0;
        uint32_t sampleSize = 0; // 0: one tick per chunk; else bytes per tick
        uint64_t strhAt = 0;     // file offset of the strh data
        uint64_t indxAt = 0;     // file offset of the super index data
        uint32_t samples = 0;
        uint64_t ticks = 0;         // stream length in its own units
        uint64_t pendingTicks = 0;  // ticks of the entries not yet in an index chunk
        uint32_t firstRiffTicks = 0;
        uint32_t largest = 0;
        std::vector<IndexEntry> pending;
        std::vector<SuperEntry> super;
    };
    struct Idx1Entry {
        uint32_t id;
        uint32_t flags;
        uint32_t offset; // from the "movi" type word
        uint32_t size;
    };

    int writeHeaders(int frameRate, const AviVideoFormat& video, const uint8_t* waveFormat, size_t waveFormatSize);
    int writeSample(Stream& s, const uint8_t* data, size_t length, bool key);
    int ensureRoom(uint64_t dataBytes);
    int flushIndex(Stream& s);
    int finishRiff();
    int beginRiff();
    int patchHeaders();
    uint64_t indexReserve() const;
    int fail();
    void reset();

    std::unique_ptr<FileSink> file_;
    std::unique_ptr<RiffWriter> riff_;
    Stream video_;
    Stream audio_;
    std::vector<Idx1Entry> idx1_; // chunks of the first RIFF
    uint64_t riffAt_ = 0;
    uint64_t moviAt_ = 0;
    bool riffOpen_ = false;
    int riffCount_ = 0;
    uint64_t avihAt_ = 0;
    uint64_t dmlhAt_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t frameRate_ = 0;
    bool failed_ = false;
    uint64_t riffLimit_ = kRiffLimit;
    uint32_t indexChunkEntries_ = kIndexChunkEntries;
};

} // namespace quillet
