#include "app/update/HostResolver.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quillet {

struct HostResolver::Shared {
    std::mutex mutex;
    std::string address;
    int pipe[2] = {-1, -1};

    ~Shared()
    {
        for (int fd : pipe)
            if (fd >= 0)
                ::close(fd);
    }
};

HostResolver::HostResolver() = default;

HostResolver::~HostResolver() = default;

std::string HostResolver::lookup(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return {};
    const addrinfo* chosen = list;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    }
    char text[INET6_ADDRSTRLEN] = {};
    const void* where = nullptr;
    if (chosen->ai_family == AF_INET)
        where = &reinterpret_cast<const sockaddr_in*>(chosen->ai_addr)->sin_addr;
    else if (chosen->ai_family == AF_INET6)
        where = &reinterpret_cast<const sockaddr_in6*>(chosen->ai_addr)->sin6_addr;
    std::string address;
    if (where && ::inet_ntop(chosen->ai_family, where, text, sizeof text))
        address = text;
    ::freeaddrinfo(list);
    return address;
}

int HostResolver::resolve(const std::string& host, Done done)
{
    if (notifier_)
        return 0;
    auto shared = std::make_shared<Shared>();
    if (::pipe2(shared->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 0;
    try {
        std::thread([shared, host] {
            std::string address = lookup(host);
            {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->address = std::move(address);
            }
            const char wake = 1;
            while (::write(shared->pipe[1], &wake, 1) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        return 0; // no thread to be had: no lookup
    }
    shared_ = std::move(shared);
    done_ = std::move(done);
    notifier_ = std::make_unique<QSocketNotifier>(shared_->pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { answered(); });
    return 1;
}

void HostResolver::cancel()
{
    notifier_.reset();
    done_ = nullptr;
}

void HostResolver::answered()
{
    char wake;
    while (::read(shared_->pipe[0], &wake, 1) < 0 && errno == EINTR) {
    }
    std::string address;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        address = std::move(shared_->address);
    }
    // The notifier may not be deleted inside its own signal.
    notifier_->setEnabled(false);
    notifier_.release()->deleteLater();
    Done done = std::move(done_);
    if (done)
        done(address);
}

} // namespace quillet
