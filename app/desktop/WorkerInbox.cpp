#include "app/desktop/WorkerInbox.h"

#include <QSocketNotifier>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace quillet::desktop {

WorkerInbox::WorkerInbox(Handler handler, QObject* parent) : QObject(parent), handler_(std::move(handler))
{
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ >= 0) {
        notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &WorkerInbox::drain);
    }
}

WorkerInbox::~WorkerInbox()
{
    delete notifier_;
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void WorkerInbox::post(const Item& item)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        items_.push_back(item);
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void WorkerInbox::drain()
{
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    for (;;) {
        Item item;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (items_.empty())
                return;
            item = items_.front();
            items_.pop_front();
        }
        // The handler may run nested event loops (a start shows boxes), in
        // which later items are drained by the next wake-up; order holds
        // because each item leaves the queue before it is handled.
        handler_(item);
    }
}

} // namespace quillet::desktop
