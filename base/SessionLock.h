#pragma once
#include <mutex>

namespace quillet {

// The one re-entrant lock a recording session owns. It guards every writer call
// and the shared clocks; the same thread may take it again while holding it
// (a writer call made from inside a locked section).
class SessionLock {
public:
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }
    bool try_lock() { return m_.try_lock(); }

private:
    std::recursive_mutex m_;
};

using SessionGuard = std::lock_guard<SessionLock>;

} // namespace quillet
