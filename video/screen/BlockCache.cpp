#include "video/screen/BlockCache.h"

#include <cstring>
#include <new>

namespace quillet::screen {

int BlockCache::allocate(uint32_t capacity, size_t positions, bool withHash)
{
    capacity_ = 0;
    if (capacity == 0 || capacity > ScreenCodec::kMaxCapacity || positions == 0)
        return 0;
    try {
        ring_.assign(size_t(capacity) * kBlockBytes, 0);
        slotCounter_.assign(capacity, 0);
        slotChecksum_.assign(capacity, 0);
        slotEpoch_.assign(capacity, 0);
        lossy_.assign(capacity, 0);
        histories_.resize(positions);
        if (withHash) {
            bucket_.assign(65536, kEnd);
            chain_.assign(capacity, kEnd);
        } else {
            bucket_.clear();
            chain_.clear();
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    capacity_ = capacity;
    pos_ = 0;
    counter_ = 0;
    full_ = false;
    epoch_ = 1;
    reset();
    return 1;
}

void BlockCache::reset()
{
    if (!bucket_.empty())
        std::fill(bucket_.begin(), bucket_.end(), kEnd);
    PositionHistory empty{};
    for (HistoryEntry& e : empty.entry)
        e = HistoryEntry{uint16_t(capacity_), 0, 0};
    empty.next = 0;
    std::fill(histories_.begin(), histories_.end(), empty);
    lastIndex_ = 0;
    ++epoch_;
    logging_ = false;
}

void BlockCache::link(uint16_t checksum, uint32_t s)
{
    // The bucket's own entry first; further slots go right behind it.
    uint16_t& head = bucket_[checksum];
    if (head == kEnd) {
        head = uint16_t(s);
        chain_[s] = kEnd;
    } else {
        chain_[s] = chain_[head];
        chain_[head] = uint16_t(s);
    }
    if (logging_)
        hashUndo_.push_back(HashUndo{checksum, uint16_t(s), 1});
}

bool BlockCache::unlink(uint16_t checksum, uint32_t s)
{
    uint16_t& head = bucket_[checksum];
    bool found = false;
    if (head == s) {
        head = chain_[s];
        found = true;
    } else {
        for (uint16_t at = head; at != kEnd; at = chain_[at]) {
            if (chain_[at] == s) {
                chain_[at] = chain_[s];
                found = true;
                break;
            }
        }
    }
    if (found && logging_)
        hashUndo_.push_back(HashUndo{checksum, uint16_t(s), 0});
    return found;
}

void BlockCache::logHistory(size_t position)
{
    if (logging_)
        historyUndo_.push_back(HistoryUndo{position, histories_[position]});
}

void BlockCache::enter(size_t position, const HistoryEntry& e)
{
    PositionHistory& h = histories_[position];
    h.entry[h.next] = e;
    h.next = uint8_t((h.next + 1) % kHistoryEntries);
}

void BlockCache::advance()
{
    ++pos_;
    if (pos_ >= capacity_) {
        pos_ = 0;
        full_ = true;
    }
    ++counter_;
}

bool BlockCache::is_last_seen(const uint8_t* block, size_t position)
{
    const PositionHistory& h = histories_[position];
    const int k = h.last();
    if (live(h.entry[k]) && std::memcmp(slot(h.entry[k].slot), block, kBlockBytes) == 0) {
        lastIndex_ = k;
        return true;
    }
    return false;
}

LookupResult BlockCache::lookup(const uint8_t* block, uint16_t checksum, size_t position)
{
    PositionHistory& h = histories_[position];
    auto matches = [&](const HistoryEntry& e) {
        return e.checksum == checksum && live(e) && std::memcmp(slot(e.slot), block, kBlockBytes) == 0;
    };
    const int k = h.last();
    if (matches(h.entry[k])) {
        lastIndex_ = k;
        return {BlockCode::History, uint16_t(k)};
    }
    auto hit = [&](int i) {
        logHistory(position);
        const HistoryEntry e = h.entry[i];
        enter(position, e);
        lastIndex_ = i;
        return LookupResult{BlockCode::History, uint16_t(i)};
    };
    if (lastIndex_ != k && matches(h.entry[lastIndex_]))
        return hit(lastIndex_);
    for (int i = 0; i < kHistoryEntries; ++i)
        if (i != k && i != lastIndex_ && matches(h.entry[i]))
            return hit(i);

    if (!bucket_.empty()) {
        for (uint16_t s = bucket_[checksum]; s != kEnd; s = chain_[s]) {
            if (std::memcmp(slot(s), block, kBlockBytes) == 0) {
                logHistory(position);
                enter(position, HistoryEntry{s, checksum, slotCounter_[s]});
                return {BlockCode::Slot, s};
            }
        }
    }
    return {BlockCode::Raw, 0};
}

uint32_t BlockCache::store(const uint8_t* block, uint16_t checksum, size_t position)
{
    const uint32_t s = pos_;
    if (logging_) {
        slotUndo_.push_back(SlotUndo{s, slotCounter_[s], slotChecksum_[s], slotEpoch_[s]});
        slotData_.insert(slotData_.end(), slot(s), slot(s) + kBlockBytes);
    }
    std::memcpy(slot(s), block, kBlockBytes);
    slotCounter_[s] = counter_;
    slotChecksum_[s] = checksum;
    slotEpoch_[s] = epoch_;
    if (!bucket_.empty())
        link(checksum, s);
    logHistory(position);
    enter(position, HistoryEntry{uint16_t(s), checksum, counter_});
    advance();
    // From now on the slot at pos is the next to go: it leaves the hash table
    // so that nothing finds it once it is overwritten.
    if (full_ && !bucket_.empty())
        unlink(slotChecksum_[pos_], pos_);
    return s;
}

void BlockCache::begin()
{
    logging_ = true;
    savedPos_ = pos_;
    savedCounter_ = counter_;
    savedFull_ = full_;
    savedLastIndex_ = lastIndex_;
    slotUndo_.clear();
    slotData_.clear();
    hashUndo_.clear();
    historyUndo_.clear();
}

void BlockCache::commit()
{
    logging_ = false;
    slotUndo_.clear();
    slotData_.clear();
    hashUndo_.clear();
    historyUndo_.clear();
}

void BlockCache::rollback()
{
    if (!logging_)
        return;
    logging_ = false;
    for (size_t i = hashUndo_.size(); i-- > 0;) {
        const HashUndo& u = hashUndo_[i];
        if (u.linked)
            unlink(u.checksum, u.slot);
        else
            link(u.checksum, u.slot);
    }
    for (size_t i = slotUndo_.size(); i-- > 0;) {
        const SlotUndo& u = slotUndo_[i];
        std::memcpy(slot(u.slot), slotData_.data() + i * kBlockBytes, kBlockBytes);
        slotCounter_[u.slot] = u.counter;
        slotChecksum_[u.slot] = u.checksum;
        slotEpoch_[u.slot] = u.epoch;
    }
    for (size_t i = historyUndo_.size(); i-- > 0;)
        histories_[historyUndo_[i].position] = historyUndo_[i].saved;
    pos_ = savedPos_;
    counter_ = savedCounter_;
    full_ = savedFull_;
    lastIndex_ = savedLastIndex_;
    commit();
}

// ---- decoder

void BlockCache::enter_slot(uint32_t s, size_t position)
{
    enter(position, HistoryEntry{uint16_t(s), slotChecksum_[s], slotCounter_[s]});
}

void BlockCache::repeat_entry(size_t position, int i)
{
    const HistoryEntry e = histories_[position].entry[i];
    enter(position, e);
}

uint32_t BlockCache::store_decoded(const uint8_t* block, size_t position)
{
    const uint32_t s = pos_;
    std::memcpy(slot(s), block, kBlockBytes);
    slotCounter_[s] = counter_;
    slotChecksum_[s] = 0;
    slotEpoch_[s] = epoch_;
    enter(position, HistoryEntry{uint16_t(s), 0, counter_});
    advance();
    return s;
}

} // namespace quillet::screen
