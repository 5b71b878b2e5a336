#include "engine/session/WorkerThread.h"

#include <chrono>
#include <system_error>

namespace quillet {

int WorkerThread::start(std::function<void()> body)
{
    if (thread_.joinable())
        return 0;
    // Shared with the thread, so that an abandoned thread that wakes up
    // after this object is gone still has somewhere to report its end.
    ending_ = std::make_shared<Ending>();
    try {
        thread_ = std::thread([ending = ending_, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> g(ending->mutex);
            ending->done = true;
            ending->ended.notify_all();
        });
    } catch (const std::system_error&) {
        // The library reports a failed thread creation only this way.
        ending_.reset();
        return 0;
    }
    return 1;
}

int WorkerThread::waitFor(uint32_t timeoutMs)
{
    if (!thread_.joinable())
        return 1;
    std::unique_lock<std::mutex> lk(ending_->mutex);
    if (!ending_->ended.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return ending_->done; }))
        return 0;
    lk.unlock();
    thread_.join();
    return 1;
}

void WorkerThread::join()
{
    if (thread_.joinable())
        thread_.join();
}

void WorkerThread::abandon()
{
    if (thread_.joinable())
        thread_.detach();
    ending_.reset();
}

} // namespace quillet
