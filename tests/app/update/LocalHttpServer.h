#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillet::test {

// A small HTTP server on 127.0.0.1 (a free port) for tests: every connection
// is accepted, its request read, and a script answers it, one connection at a
// time on the server's own thread.
class LocalHttpServer {
public:
    using Clock = std::chrono::steady_clock;
    // fd: the connection (closed by the server afterwards); request: what the
    // client sent before the script runs.
    using Script = std::function<void(LocalHttpServer& server, int fd, const std::string& request)>;

    explicit LocalHttpServer(Script script);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    uint16_t port() const { return port_; }
    int connections() const { return connections_.load(); }
    std::vector<std::string> requests() const;
    Clock::time_point firstConnection() const;
    bool stopping() const { return stop_.load(); }

    // Sends all bytes; false once the client has gone (never raises SIGPIPE).
    static bool sendAll(int fd, std::string_view bytes);
    // Bytes a script managed to send, for checking that a client gave up.
    std::atomic<long long> bytesSent{0};
    // Set by a script that saw the client close its end.
    std::atomic<bool> clientLeft{false};

    // Scripts.
    static Script reply(std::string bytes, bool holdOpen = false);
    static Script drip(std::string bytes, int intervalMs);

private:
    void run();
    std::string readRequest(int fd);

    Script script_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    Clock::time_point first_{};
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
uint16_t unusedPort();

} // namespace quillet::test
