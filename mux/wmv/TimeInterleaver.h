#pragma once
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

namespace quillet {

// Puts the packets of several streams into one order by time, for a
// container whose packets must never go back in time across streams. Each
// stream hands its packets in with growing times. A packet leaves once no
// stream can still bring an earlier one; a stream that falls more than maxLag
// behind the newest packet no longer holds the others back, and what it
// brings later than the packets already out is refused (the caller drops it).
template <typename Payload>
class TimeInterleaver {
public:
    struct Item {
        int stream = 0;
        int64_t ts = 0;
        Payload payload{};
    };

    TimeInterleaver(int streams, int64_t maxLag)
        : queues_(static_cast<size_t>(streams)), latest_(static_cast<size_t>(streams), kNone), maxLag_(maxLag)
    {
    }

    // Queues a packet. Returns false, taking nothing, when its time is
    // earlier than a packet already out.
    bool push(int stream, int64_t ts, Payload payload)
    {
        if (ts < released_)
            return false;
        queues_[static_cast<size_t>(stream)].push_back(Item{stream, ts, payload});
        latest_[static_cast<size_t>(stream)] = ts;
        newest_ = newest_ > ts ? newest_ : ts;
        return true;
    }

    // The next packet that may go into the file now (every queued one with
    // `all`, at the end). Returns false when none may.
    bool pop(Item* out, bool all = false)
    {
        int pick = -1;
        for (size_t s = 0; s < queues_.size(); ++s)
            if (!queues_[s].empty() && (pick < 0 || queues_[s].front().ts < queues_[size_t(pick)].front().ts))
                pick = static_cast<int>(s);
        if (pick < 0)
            return false;
        const int64_t ts = queues_[size_t(pick)].front().ts;
        if (!all && newest_ - ts <= maxLag_) {
            // A stream with nothing queued may still bring something earlier,
            // unless it has already passed this time.
            for (size_t s = 0; s < queues_.size(); ++s)
                if (queues_[s].empty() && latest_[s] < ts)
                    return false;
        }
        *out = queues_[size_t(pick)].front();
        queues_[size_t(pick)].pop_front();
        released_ = ts;
        return true;
    }

    bool empty() const
    {
        for (const auto& q : queues_)
            if (!q.empty())
                return false;
        return true;
    }

private:
    static constexpr int64_t kNone = std::numeric_limits<int64_t>::min();

    std::vector<std::deque<Item>> queues_;
    std::vector<int64_t> latest_; // time of each stream's last packet
    int64_t newest_ = kNone;
    int64_t released_ = kNone;    // time of the last packet out
    int64_t maxLag_;
};

} // namespace quillet
