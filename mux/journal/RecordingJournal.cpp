#include "mux/journal/RecordingJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "base/ByteOrder.h"
#include "base/DirectFileSink.h"

namespace quillet {
namespace {

constexpr char kMagic[4] = {'Q', 'J', 'N', 'L'};
constexpr uint16_t kVersion = 1;
// A record longer than this is damage, not data (the largest, a held media
// run, is bounded by the size of an MP4 index).
constexpr uint32_t kMaxRecordPayload = 256u << 20;

} // namespace

std::string journalPathFor(const std::string& recording)
{
    return recording + kJournalSuffix;
}

std::string reservePathFor(const std::string& recording)
{
    return recording + kReserveSuffix;
}

int recordingForJournal(const std::string& journal, std::string* recording)
{
    const size_t n = std::strlen(kJournalSuffix);
    if (journal.size() <= n || journal.compare(journal.size() - n, n, kJournalSuffix) != 0)
        return 0;
    if (recording)
        *recording = journal.substr(0, journal.size() - n);
    return 1;
}

uint32_t journalCrc(const void* data, size_t n, uint32_t crc)
{
    const auto* p = static_cast<const Bytef*>(data);
    while (n > 0) {
        const uInt step = n > 0x40000000u ? 0x40000000u : uInt(n);
        crc = uint32_t(crc32(crc, p, step));
        p += step;
        n -= step;
    }
    return crc;
}

JournalWriter::~JournalWriter()
{
    close();
}

int JournalWriter::create(const std::string& path, JournalKind kind)
{
    close();
    failed_ = false;
    errno_ = 0;
    path_ = path;
    pos_ = allocated_ = 0;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        errno_ = errno;
        return 0;
    }
    // Another program writing the same recording holds the lock: leave its
    // journal alone.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd_, 0) != 0) {
        errno_ = errno;
        ::close(fd_);
        fd_ = -1;
        return 0;
    }
    uint8_t head[kHeaderBytes];
    std::memcpy(head, kMagic, 4);
    putLE16(head + 4, kVersion);
    putLE16(head + 6, uint16_t(kind));
    struct iovec part = {head, sizeof head};
    if (!writeAllAt(fd_, &part, 1, 0)) {
        errno_ = errno;
        failed_ = true;
        return 0;
    }
    pos_ = kHeaderBytes;
    return 1;
}

int JournalWriter::append(uint8_t type, const void* a, size_t na, const void* b, size_t nb, const void* c,
                          size_t nc)
{
    if (fd_ < 0 || failed_ || type == 0)
        return 0;
    const size_t payload = na + nb + nc;
    if (payload > kMaxRecordPayload)
        return 0;
    uint8_t head[5];
    putLE32(head, uint32_t(payload));
    head[4] = type;
    uint32_t crc = journalCrc(&type, 1);
    if (na)
        crc = journalCrc(a, na, crc);
    if (nb)
        crc = journalCrc(b, nb, crc);
    if (nc)
        crc = journalCrc(c, nc, crc);
    uint8_t tail[4];
    putLE32(tail, crc);
    struct iovec parts[5];
    int count = 0;
    parts[count++] = {head, sizeof head};
    if (na)
        parts[count++] = {const_cast<void*>(a), na};
    if (nb)
        parts[count++] = {const_cast<void*>(b), nb};
    if (nc)
        parts[count++] = {const_cast<void*>(c), nc};
    parts[count++] = {tail, sizeof tail};
    if (!writeAllAt(fd_, parts, count, pos_)) {
        if (errno_ == 0)
            errno_ = errno;
        failed_ = true;
        return 0;
    }
    pos_ += payload + kRecordOverhead;
    return 1;
}

void JournalWriter::rewind()
{
    if (fd_ >= 0)
        pos_ = kHeaderBytes;
}

int JournalWriter::preallocate(uint64_t bytes)
{
    if (fd_ < 0)
        return 0;
    if (bytes <= allocated_)
        return 1;
    const int err = ::posix_fallocate(fd_, 0, off_t(bytes));
    if (err != 0) {
        errno_ = err;
        return 0;
    }
    allocated_ = bytes;
    return 1;
}

int JournalWriter::releaseRoom()
{
    if (fd_ < 0)
        return 0;
    if (::ftruncate(fd_, off_t(pos_)) != 0)
        return 0;
    allocated_ = 0;
    return 1;
}

int JournalWriter::close()
{
    if (fd_ < 0)
        return failed_ ? 0 : 1;
    if (::close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
    return failed_ ? 0 : 1;
}

int JournalWriter::remove()
{
    const bool had = fd_ >= 0 || !path_.empty();
    close();
    if (!had || path_.empty())
        return 1;
    const int ok = ::unlink(path_.c_str()) == 0 || errno == ENOENT;
    path_.clear();
    return ok;
}

int readJournal(const std::string& path, JournalContents* out)
{
    out->bytes.clear();
    out->records.clear();
    out->torn = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < off_t(JournalWriter::kHeaderBytes)) {
        ::close(fd);
        return 0;
    }
    out->bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < out->bytes.size()) {
        const ssize_t n = ::pread(fd, out->bytes.data() + got, out->bytes.size() - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    out->bytes.resize(got);
    const uint8_t* f = out->bytes.data();
    if (got < JournalWriter::kHeaderBytes || std::memcmp(f, kMagic, 4) != 0 || getLE16(f + 4) != kVersion)
        return 0;
    out->kind = JournalKind(getLE16(f + 6));
    size_t at = JournalWriter::kHeaderBytes;
    while (at < got) {
        if (got - at < JournalWriter::kRecordOverhead) {
            out->torn = true;
            break;
        }
        const uint32_t len = getLE32(f + at);
        const uint8_t type = f[at + 4];
        if (type == 0 || len > kMaxRecordPayload || got - at - JournalWriter::kRecordOverhead < len) {
            // Zeros are the unused room of a preallocated file, not damage.
            out->torn = !(type == 0 && len == 0);
            break;
        }
        const uint32_t crc = journalCrc(f + at + 4, size_t(len) + 1);
        if (crc != getLE32(f + at + 5 + len)) {
            out->torn = true;
            break;
        }
        out->records.push_back(JournalRecord{type, f + at + 5, len});
        at += JournalWriter::kRecordOverhead + len;
    }
    return 1;
}

bool journalInUse(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy;
}

int readJournalForRepair(const std::string& recording, JournalKind kind, JournalContents* out, std::string* error)
{
    const std::string path = journalPathFor(recording);
    if (access(path.c_str(), F_OK) != 0) {
        *error = "there is no journal " + path;
        return 0;
    }
    if (journalInUse(path)) {
        *error = "the recording is still being written";
        return 0;
    }
    if (!readJournal(path, out) || out->kind != kind) {
        *error = "the journal " + path + " is damaged";
        return 0;
    }
    return 1;
}

uint8_t RecordReader::u8()
{
    const uint8_t* p = bytes(1);
    return p ? p[0] : 0;
}

uint16_t RecordReader::u16()
{
    const uint8_t* p = bytes(2);
    return p ? uint16_t(getLE16(p)) : 0;
}

uint32_t RecordReader::u32()
{
    const uint8_t* p = bytes(4);
    return p ? getLE32(p) : 0;
}

const uint8_t* RecordReader::bytes(size_t n)
{
    if (left_ < n) {
        short_ = true;
        left_ = 0;
        return nullptr;
    }
    const uint8_t* p = p_;
    p_ += n;
    left_ -= n;
    return p;
}

} // namespace quillet
