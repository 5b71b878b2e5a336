#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

// What kind of recording a journal belongs to; the second file of an MP4
// recording (the room kept for its end, see Mp4Journal.h) has its own kind.
enum class JournalKind : uint16_t { Mp4 = 1, Flv = 2, Mp4Room = 3 };

// Files beside a recording while it is written: "rec.mp4" has "rec.mp4.journal"
// and, for MP4, "rec.mp4.reserve". Both go when the recording is closed
// normally, so a journal found later belongs to a recording that was not.
constexpr const char* kJournalSuffix = ".journal";
constexpr const char* kReserveSuffix = ".reserve";
std::string journalPathFor(const std::string& recording);
std::string reservePathFor(const std::string& recording);
// The recording a journal belongs to; 0 when the name does not end in ".journal".
int recordingForJournal(const std::string& journal, std::string* recording);

// An append-only file of checked records: a 8-byte header ("QJNL", version,
// kind), then records of a 32-bit payload length, a type byte (never 0), the
// payload and a CRC-32 of type and payload (little-endian). Every record is
// one unbuffered write, so a killed process leaves whole records and at most
// one torn one at the end, which the reader recognises and drops.
//
// The writer holds an exclusive lock on its file while it is open, so that a
// repair never touches a recording another process is still writing.
// Results: 1 success, 0 failure; a failed write is sticky.
class JournalWriter {
public:
    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Creates (truncating) the file and writes its header.
    int create(const std::string& path, JournalKind kind);
    // One record from up to three pieces of payload, in one write.
    int append(uint8_t type, const void* a, size_t na, const void* b = nullptr, size_t nb = 0,
               const void* c = nullptr, size_t nc = 0);
    // The next record goes right behind the header again. Records further on
    // stay until overwritten: a reader stops at the first one that does not
    // check, so what it finds is always what was written, newest first.
    void rewind();
    // Makes the file occupy at least `bytes` on the disk (room that later
    // records and, once released, others can use). 0 when the disk is full.
    int preallocate(uint64_t bytes);
    uint64_t preallocated() const { return allocated_; }
    // Gives back the room beyond the last record written.
    int releaseRoom();
    int close();
    // Closes the file and deletes it.
    int remove();

    bool isOpen() const { return fd_ >= 0; }
    bool failed() const { return failed_; }
    // errno of the first failed system call (0: none).
    int systemError() const { return errno_; }
    const std::string& path() const { return path_; }
    // End of the last record written.
    uint64_t end() const { return pos_; }

    static constexpr size_t kHeaderBytes = 8;
    static constexpr size_t kRecordOverhead = 9; // length, type, CRC

private:
    int fd_ = -1;
    uint64_t pos_ = 0;
    uint64_t allocated_ = 0;
    bool failed_ = false;
    int errno_ = 0;
    std::string path_;
};

struct JournalRecord {
    uint8_t type = 0;
    const uint8_t* data = nullptr; // into JournalContents::bytes
    uint32_t size = 0;
};

struct JournalContents {
    JournalKind kind = JournalKind::Mp4;
    std::vector<uint8_t> bytes;
    std::vector<JournalRecord> records; // up to the first record that does not check
    bool torn = false;                  // something followed that did not check
};

// Reads a journal. 0 when the file cannot be read or is no journal at all.
int readJournal(const std::string& path, JournalContents* out);
// Whether a running program still holds the journal open for writing.
bool journalInUse(const std::string& path);
// Reads the journal of a recording that is to be repaired. 0 with *error set
// when there is none, a running program still writes the recording, or the
// journal is damaged or of another kind.
int readJournalForRepair(const std::string& recording, JournalKind kind, JournalContents* out, std::string* error);

// Reads little-endian fields of a record's payload in order; a read past the
// end yields 0 and sets `short_`.
class RecordReader {
public:
    explicit RecordReader(const JournalRecord& r) : p_(r.data), left_(r.size) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    // n bytes in place (null when fewer are left).
    const uint8_t* bytes(size_t n);
    size_t left() const { return left_; }
    bool ok() const { return !short_; }

private:
    const uint8_t* p_;
    size_t left_;
    bool short_ = false;
};

// CRC-32 (the zlib polynomial) of a byte range, continuing from crc.
uint32_t journalCrc(const void* data, size_t n, uint32_t crc = 0);

} // namespace quillet
