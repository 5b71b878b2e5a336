#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillet {

// A thread whose end can be awaited with a time limit. The stop path waits a
// bounded time for each worker; a worker is never killed (that would leave the
// writer half-written and the session lock held). After a time-out the caller
// either still joins, or abandons the thread when it is stuck for good (inside
// a call to a frozen server) and the process is about to end.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body on a new thread. Returns 0 when a thread is already running or
    // none could be created.
    int start(std::function<void()> body);
    // Waits up to timeoutMs for the body to return. Returns 1 when it has
    // (the thread is then joined), 0 on time-out (the thread keeps running).
    int waitFor(uint32_t timeoutMs);
    // Waits without limit; harmless when nothing runs.
    void join();
    // Lets a stuck thread go: it is no longer waited for, not even by the
    // destructor. Whatever the body still touches when it wakes must outlive
    // it; this object need not.
    void abandon();
    bool running() const { return thread_.joinable(); }

private:
    struct Ending {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    std::thread thread_;
    std::shared_ptr<Ending> ending_;
};

} // namespace quillet
