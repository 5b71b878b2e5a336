#include "app/update/HttpGetRequest.h"

#include <charconv>
#include <cstring>

#include "app/update/AsciiText.h"

namespace quillet {
namespace {

constexpr std::string_view kContentLength = "Content-Length:";

bool isUnsafeByte(unsigned char c)
{
    return c <= 0x20 || c == 0x7f;
}

// The end of the reply header: "\r\n\r\n", or a line feed followed by "\r\n"
// from servers that end a line with a bare line feed. headerEnd is where the
// header's text stops, bodyStart where the body begins.
bool findHeaderEnd(std::string_view data, size_t* headerEnd, size_t* bodyStart)
{
    const size_t p = data.find("\n\r\n");
    if (p == std::string_view::npos)
        return false;
    *headerEnd = (p > 0 && data[p - 1] == '\r') ? p - 1 : p;
    *bodyStart = p + 3;
    return true;
}

// The value of a "Content-Length:" header line: -1 when there is none or it is
// not a plain decimal number, else the number (saturated just above limit).
long long declaredLength(std::string_view header, size_t limit)
{
    size_t lineStart = header.find('\n');
    while (lineStart != std::string_view::npos) {
        ++lineStart;
        size_t lineEnd = header.find('\n', lineStart);
        std::string_view line = header.substr(lineStart, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                                           : lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // Header names compare without case; a name that merely ends in
        // "Content-Length" is another header.
        if (line.size() >= kContentLength.size() && equalsNoCase(line.substr(0, kContentLength.size()), kContentLength)) {
            std::string_view v = line.substr(kContentLength.size());
            while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
                v.remove_prefix(1);
            while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
                v.remove_suffix(1);
            if (v.empty())
                return -1;
            long long n = 0;
            for (char c : v) {
                if (c < '0' || c > '9')
                    return -1;
                n = n * 10 + (c - '0');
                if (n > static_cast<long long>(limit))
                    return static_cast<long long>(limit) + 1;
            }
            return n;
        }
        lineStart = lineEnd;
    }
    return -1;
}

} // namespace

HttpGetRequest::HttpGetRequest(RequestTransport* transport, std::string versionText, std::string clientId)
    : transport_(transport), versionText_(std::move(versionText)), clientId_(std::move(clientId))
{
}

int HttpGetRequest::splitUrl(std::string_view url, std::string* host, uint16_t* port, std::string* path)
{
    for (char c : url)
        if (isUnsafeByte(static_cast<unsigned char>(c)))
            return 0;
    const size_t slash = url.find('/');
    if (slash == std::string_view::npos || slash < kMinHostLength)
        return 0;
    std::string_view h = url.substr(0, slash);
    uint16_t p = kDefaultPort;
    const size_t colon = h.find(':');
    if (colon == 0)
        return 0;
    if (colon != std::string_view::npos) {
        std::string_view digits = h.substr(colon + 1);
        unsigned value = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        // A port that does not fit must not wrap round to some other port.
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value == 0 ||
            value > 65535)
            return 0;
        p = static_cast<uint16_t>(value);
        h = h.substr(0, colon);
    }
    *host = std::string(h);
    *port = p;
    *path = std::string(url.substr(slash + 1));
    return 1;
}

std::string HttpGetRequest::requestText(std::string_view path, std::string_view host, std::string_view version,
                                        std::string_view clientId)
{
    std::string r;
    r.reserve(160 + path.size() + host.size() + version.size() + clientId.size());
    r += "GET /";
    r += path;
    r += " HTTP/1.0\r\nHost:";
    r += host;
    r += "\r\nUser-Agent:Quillet/";
    r += version;
    r += "(";
    r += clientId;
    r += ")\r\nAccept: */*\r\nAccept-Language:cn\r\nConnection:close\r\nContent-Length:0\r\n\r\n\r\n";
    return r;
}

bool HttpGetRequest::statusIsOk(std::string_view header)
{
    std::string_view line = header.substr(0, header.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.substr(0, 5) != "HTTP/")
        return false;
    const size_t sp = line.find(' ');
    if (sp == std::string_view::npos)
        return false;
    std::string_view rest = line.substr(sp + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    return rest.substr(0, 3) == "200" && (rest.size() == 3 || rest[3] == ' ');
}

int HttpGetRequest::start(const std::string& url, Notify notify, const std::string& address)
{
    state_ = kConnecting;
    receiving_ = false;
    headerTaken_ = false;
    length_ = 0;
    contentLength_ = 0;
    if (buffer_)
        buffer_[0] = 0;
    url_ = url;
    notify_ = std::move(notify);

    std::string host, path;
    uint16_t port = 0;
    if (!transport_ || !splitUrl(url_, &host, &port, &path))
        return 0;
    switch (transport_->connectTo(address.empty() ? host : address, port)) {
    case RequestTransport::kConnected:
        state_ = kSent;
        connected(false);
        return 1;
    case RequestTransport::kConnectPending:
        return 1;
    case RequestTransport::kConnectFailed:
        break;
    }
    return 0;
}

void HttpGetRequest::setState(State s, bool post)
{
    state_ = s;
    if (post && notify_)
        notify_(s);
}

void HttpGetRequest::connected(bool error)
{
    if (state_ != kConnecting && state_ != kSent)
        return;
    if (error) {
        setState(kConnecting, true);
        return;
    }
    setState(kSent, true);
    std::string host, path;
    uint16_t port = 0;
    if (!splitUrl(url_, &host, &port, &path)) {
        transport_->close();
        setState(kClosed, false);
        return;
    }
    if (!transport_->send(requestText(path, host, versionText_, clientId_))) {
        transport_->close();
        setState(kClosed, true);
    }
}

void HttpGetRequest::takeHeader()
{
    size_t headerEnd = 0, bodyStart = 0;
    const std::string_view data(buffer_.get(), length_);
    if (!findHeaderEnd(data, &headerEnd, &bodyStart))
        return;
    headerTaken_ = true;
    const std::string_view header = data.substr(0, headerEnd);
    // Only the page itself counts: an error page or a redirect (whose target
    // is never fetched) is not the update page.
    if (!statusIsOk(header)) {
        transport_->close();
        setState(kClosed, true);
        return;
    }
    const long long declared = declaredLength(header, kMaxReply);
    if (declared > static_cast<long long>(kMaxReply)) {
        setState(kTooLarge, true);
        return;
    }
    if (declared <= 0)
        return; // unknown: the header stays, the page ends when the server closes
    contentLength_ = static_cast<int>(declared);
    std::memmove(buffer_.get(), buffer_.get() + bodyStart, length_ - bodyStart);
    length_ = static_cast<uint16_t>(length_ - bodyStart);
    buffer_[length_] = 0;
}

void HttpGetRequest::receiveAvailable()
{
    receiving_ = true;
    if (!buffer_) {
        buffer_ = std::make_unique<char[]>(kBufferSize);
        buffer_[0] = 0;
    }
    while (state_ == kSent) {
        const size_t room = kBufferSize - 1 - length_;
        if (room == 0)
            return;
        size_t n = transport_->receive(buffer_.get() + length_, room);
        if (n == 0)
            return;
        if (n > room)
            n = room;
        length_ = static_cast<uint16_t>(length_ + n);
        buffer_[length_] = 0;
        if (!headerTaken_) {
            takeHeader();
            if (state_ != kSent)
                return;
        }
        if (contentLength_ > 0 && length_ >= contentLength_) {
            // Bytes beyond the declared length are not part of the page.
            length_ = static_cast<uint16_t>(contentLength_);
            buffer_[length_] = 0;
            setState(kComplete, true);
            return;
        }
        if (length_ > kMaxReply) {
            setState(kTooLarge, true);
            return;
        }
    }
}

void HttpGetRequest::readable()
{
    if (state_ == kSent)
        receiveAvailable();
}

void HttpGetRequest::finishAtClose()
{
    size_t headerEnd = 0, bodyStart = 0;
    if (!headerTaken_ || contentLength_ != 0 || !buffer_)
        return;
    const std::string_view data(buffer_.get(), length_);
    if (!findHeaderEnd(data, &headerEnd, &bodyStart) || !statusIsOk(data.substr(0, headerEnd)))
        return;
    std::memmove(buffer_.get(), buffer_.get() + bodyStart, length_ - bodyStart);
    length_ = static_cast<uint16_t>(length_ - bodyStart);
    buffer_[length_] = 0;
    transport_->close();
    setState(kComplete, true);
}

void HttpGetRequest::serverClosed(bool reset)
{
    if (state_ == kConnecting) {
        // Closed before the connect completed: that is a failed connect.
        setState(kConnecting, true);
        return;
    }
    if (state_ != kSent)
        return;
    receiveAvailable();
    if (state_ != kSent)
        return;
    // Without a declared length the close is the page's end; a reset cuts it
    // short, so only an orderly close completes it.
    if (!reset)
        finishAtClose();
    setState(kClosed, true);
}

} // namespace quillet
