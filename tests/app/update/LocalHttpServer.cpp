#include "tests/app/update/LocalHttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillet::test {
namespace {

int listenLoopback(uint16_t* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

} // namespace

uint16_t unusedPort()
{
    uint16_t port = 0;
    const int fd = listenLoopback(&port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

LocalHttpServer::LocalHttpServer(Script script) : script_(std::move(script))
{
    listenFd_ = listenLoopback(&port_);
    if (listenFd_ >= 0)
        thread_ = std::thread([this] { run(); });
}

LocalHttpServer::~LocalHttpServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

std::vector<std::string> LocalHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

LocalHttpServer::Clock::time_point LocalHttpServer::firstConnection() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return first_;
}

bool LocalHttpServer::sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string LocalHttpServer::readRequest(int fd)
{
    // The client's request ends with an extra blank line; wait for it, but
    // not for ever (a client that sends less is what some tests look for).
    std::string got;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (got.find("\r\n\r\n\r\n") == std::string::npos && Clock::now() < deadline && !stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void LocalHttpServer::run()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (connections_ == 0)
                first_ = Clock::now();
        }
        ++connections_;
        const std::string request = readRequest(fd);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        script_(*this, fd, request);
        ::close(fd);
    }
}

LocalHttpServer::Script LocalHttpServer::reply(std::string bytes, bool holdOpen)
{
    return [bytes = std::move(bytes), holdOpen](LocalHttpServer& s, int fd, const std::string&) {
        // Large replies go out in pieces so that a client that gives up is seen.
        std::string_view rest(bytes);
        while (!rest.empty()) {
            const std::string_view piece = rest.substr(0, 65536);
            if (!sendAll(fd, piece)) {
                s.clientLeft = true;
                return;
            }
            s.bytesSent += static_cast<long long>(piece.size());
            rest.remove_prefix(piece.size());
        }
        if (!holdOpen)
            return;
        // Keep the connection until the client closes it (or the test ends).
        while (!s.stopping()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char c;
                if (::recv(fd, &c, 1, 0) <= 0) {
                    s.clientLeft = true;
                    return;
                }
            }
        }
    };
}

LocalHttpServer::Script LocalHttpServer::drip(std::string bytes, int intervalMs)
{
    return [bytes = std::move(bytes), intervalMs](LocalHttpServer& s, int fd, const std::string&) {
        for (size_t i = 0; !s.stopping(); i = (i + 1) % bytes.size()) {
            if (!sendAll(fd, std::string_view(bytes).substr(i, 1))) {
                s.clientLeft = true;
                return;
            }
            ++s.bytesSent;
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        }
    };
}

} // namespace quillet::test
