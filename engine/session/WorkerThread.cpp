#include "engine/session/WorkerThread.h"

#include <chrono>
#include <system_error>

namespace quillet {

int WorkerThread::start(std::function<void()> body)
{
    if (thread_.joinable())
        return 0;
    {
        std::lock_guard<std::mutex> g(mutex_);
        done_ = false;
    }
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> g(mutex_);
            done_ = true;
            ended_.notify_all();
        });
    } catch (const std::system_error&) {
        // The library reports a failed thread creation only this way.
        return 0;
    }
    return 1;
}

int WorkerThread::waitFor(uint32_t timeoutMs)
{
    if (!thread_.joinable())
        return 1;
    std::unique_lock<std::mutex> lk(mutex_);
    if (!ended_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return done_; }))
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

} // namespace quillet
