#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillet {

// The connection an HttpGetRequest drives. The Qt side implements it with a
// socket on the UI thread, tests with a script. Every call returns at once.
class RequestTransport {
public:
    enum ConnectResult { kConnectFailed = 0, kConnected = 1, kConnectPending = 2 };

    virtual ~RequestTransport() = default;
    // Starts connecting to a numeric address on port. With kConnectPending the
    // owner later calls HttpGetRequest::connected().
    virtual ConnectResult connectTo(const std::string& address, uint16_t port) = 0;
    // Queues all bytes for sending; 1 on success.
    virtual int send(std::string_view bytes) = 0;
    // Copies up to capacity received bytes; returns their count, 0 when
    // nothing is waiting.
    virtual size_t receive(char* into, size_t capacity) = 0;
    virtual void close() = 0;
};

// One asynchronous HTTP/1.0 GET of a small page. The owner feeds it the
// transport's events (connected, readable, closed by the server); progress is
// reported through the notify callback with the new state as the code.
class HttpGetRequest {
public:
    enum State : uint8_t {
        kConnecting = 0, // or the connect failed
        kSent = 1,       // connected and the request sent
        kClosed = 2,     // closed, or failed
        kComplete = 3,   // the page is in body()
        kTooLarge = 4,   // abandoned: the reply is above kMaxReply
    };
    static constexpr size_t kBufferSize = 65536;
    static constexpr size_t kMaxReply = 64000;
    static constexpr uint16_t kDefaultPort = 80;
    // The first '/' of a URL must be at this position or later.
    static constexpr size_t kMinHostLength = 7;

    using Notify = std::function<void(int code)>;

    HttpGetRequest(RequestTransport* transport, std::string versionText, std::string clientId);

    // Starts the GET of url ("host[:port]/path", no scheme), connecting to
    // address (numeric; empty: the URL's host). Returns 1 when the connect is
    // under way or done, 0 when the URL is refused or the connect failed.
    int start(const std::string& url, Notify notify, const std::string& address);

    // Transport events.
    void connected(bool error);
    void readable();
    // The server closed the connection (pending bytes are read first).
    // reset: it ended with an error rather than an orderly close.
    void serverClosed(bool reset);

    State state() const { return state_; }
    bool receiving() const { return receiving_; }
    // The page body once state() is kComplete (else what has been received).
    std::string_view body() const { return {buffer_.get() ? buffer_.get() : "", length_}; }
    int contentLength() const { return contentLength_; }

    // host[:port]/path into its parts. Returns 0 for a URL whose first '/' is
    // before kMinHostLength, a port that is not a number in 1..65535, or any
    // blank or control character (they would change the request's meaning).
    static int splitUrl(std::string_view url, std::string* host, uint16_t* port, std::string* path);
    // The request text sent as one write.
    static std::string requestText(std::string_view path, std::string_view host, std::string_view version,
                                   std::string_view clientId);
    // Whether a reply header's status line reports "200 OK".
    static bool statusIsOk(std::string_view header);

private:
    void setState(State s, bool post);
    void receiveAvailable();
    void takeHeader();
    void finishAtClose();

    RequestTransport* transport_;
    std::string versionText_;
    std::string clientId_;
    std::string url_;
    Notify notify_;
    State state_ = kConnecting;
    bool receiving_ = false;
    bool headerTaken_ = false;
    std::unique_ptr<char[]> buffer_;
    uint16_t length_ = 0;
    int contentLength_ = 0;
};

} // namespace quillet
