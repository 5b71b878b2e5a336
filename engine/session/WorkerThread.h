#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace quillet {

// A thread whose end can be awaited with a time limit. The stop path waits a
// bounded time for each worker; a worker is never killed (that would leave the
// writer half-written and the session lock held), so after a time-out the
// caller still joins, and reports the overrun.
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
    bool running() const { return thread_.joinable(); }

private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
};

} // namespace quillet
