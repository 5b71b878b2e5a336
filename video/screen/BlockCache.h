#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/screen/ConvertedBlock.h"

// The memory of the screen codec: a ring of converted blocks written
// round-robin, a checksum-addressed hash table over its live slots (coder
// only), and for every 8x8 block position of the frame the eight slots last
// seen there. The coder and the decoder keep the same ring and the same
// histories, step by step; the coder also keeps an undo log, so that a region
// that cannot be written leaves no trace.
namespace quillet::screen {

constexpr int kHistoryEntries = ScreenCodec::kHistoryEntries;

struct HistoryEntry {
    uint16_t slot;     // == capacity when empty
    uint16_t checksum;
    uint32_t counter;  // block counter when the slot was stored
};

struct PositionHistory {
    HistoryEntry entry[kHistoryEntries];
    uint8_t next; // entry to replace next
    // The entry written last.
    int last() const { return (next + kHistoryEntries - 1) % kHistoryEntries; }
};

enum class BlockCode : uint8_t { Raw = 0, Slot = 1, Dct = 2, History = 3 };

struct LookupResult {
    BlockCode code; // Slot, History, or Raw when the block is new
    uint16_t value; // slot number or history index
};

class BlockCache {
public:
    // withHash: the coder's hash table and undo log. Returns 1, or 0 when
    // the memory cannot be had.
    int allocate(uint32_t capacity, size_t positions, bool withHash);
    // Forgets every block: empty hash table and histories. The ring position
    // and the counter go on.
    void reset();

    uint32_t capacity() const { return capacity_; }
    uint32_t pos() const { return pos_; }
    uint32_t counter() const { return counter_; }
    uint8_t* slot(uint32_t s) { return ring_.data() + size_t(s) * kBlockBytes; }
    const uint8_t* slot(uint32_t s) const { return ring_.data() + size_t(s) * kBlockBytes; }
    bool live(const HistoryEntry& e) const
    {
        return e.slot < capacity_ && counter_ - e.counter < capacity_ && slotCounter_[e.slot] == e.counter;
    }
    PositionHistory& history(size_t position) { return histories_[position]; }

    // ---- coder
    // Looks the block up at this position: the history first (the entry
    // written last, then the last matching index, then the rest), then the
    // hash chain of its checksum. A hit is entered into the history as the
    // format says. Raw means not found; nothing is changed then.
    LookupResult lookup(const uint8_t* block, uint16_t checksum, size_t position);
    // The first step of lookup() alone, which needs no checksum: whether the
    // block equals the entry written last at this position (the usual case
    // for a block that did not change).
    bool is_last_seen(const uint8_t* block, size_t position);
    // Stores a new block at pos, enters it into the hash table and the
    // position history and advances pos. Returns the slot.
    uint32_t store(const uint8_t* block, uint16_t checksum, size_t position);

    // Starts logging changes for one region; commit() forgets the log,
    // rollback() undoes every change since begin().
    void begin();
    void commit();
    void rollback();

    // ---- decoder: the same steps driven by the codes read.
    // Sets pos (only valid after reset or when it equals the coder's).
    void set_pos(uint32_t p) { pos_ = p; }
    bool slot_usable(uint32_t s) const
    {
        return s < capacity_ && slotEpoch_[s] == epoch_ && counter_ - slotCounter_[s] < capacity_;
    }
    // Enters a slot found by number into the position history.
    void enter_slot(uint32_t s, size_t position);
    // Copies history entry i forward as the coder does after a hit on an
    // entry other than the last written.
    void repeat_entry(size_t position, int i);
    // Stores a decoded block at pos (no hash table). Returns the slot.
    uint32_t store_decoded(const uint8_t* block, size_t position);
    // Whether a slot's content came from a lossy (DCT or H.264) unit.
    uint8_t& lossy(uint32_t s) { return lossy_[s]; }

private:
    static constexpr uint16_t kEnd = 0xFFFF;

    void link(uint16_t checksum, uint32_t s);
    bool unlink(uint16_t checksum, uint32_t s);
    void logHistory(size_t position);
    void enter(size_t position, const HistoryEntry& e);
    void advance();

    struct SlotUndo {
        uint32_t slot;
        uint32_t counter;
        uint16_t checksum;
        uint32_t epoch;
    };
    struct HashUndo {
        uint16_t checksum;
        uint16_t slot;
        uint8_t linked; // 1: link() happened, 0: unlink() removed it
    };
    struct HistoryUndo {
        size_t position;
        PositionHistory saved;
    };

    uint32_t capacity_ = 0;
    uint32_t pos_ = 0;
    uint32_t counter_ = 0;
    bool full_ = false;
    int lastIndex_ = 0;
    uint32_t epoch_ = 1; // slots stored before the last reset carry an older epoch
    std::vector<uint8_t> ring_;
    std::vector<uint32_t> slotCounter_;
    std::vector<uint16_t> slotChecksum_;
    std::vector<uint32_t> slotEpoch_;
    std::vector<uint8_t> lossy_;
    std::vector<PositionHistory> histories_;
    // Hash table: each bucket's own slot, and per slot the next slot of its chain.
    std::vector<uint16_t> bucket_;
    std::vector<uint16_t> chain_;

    bool logging_ = false;
    uint32_t savedPos_ = 0, savedCounter_ = 0;
    bool savedFull_ = false;
    int savedLastIndex_ = 0;
    std::vector<SlotUndo> slotUndo_;
    std::vector<uint8_t> slotData_;
    std::vector<HashUndo> hashUndo_;
    std::vector<HistoryUndo> historyUndo_;
};

} // namespace quillet::screen
