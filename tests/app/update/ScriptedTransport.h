#pragma once
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "app/update/HttpGetRequest.h"

namespace quillet::test {

// A transport whose incoming bytes are queued by the test, in pieces.
class ScriptedTransport final : public RequestTransport {
public:
    ConnectResult connectResult = kConnectPending;
    std::string address;
    uint16_t port = 0;
    std::string sent;
    int closes = 0;
    bool sendFails = false;

    ConnectResult connectTo(const std::string& a, uint16_t p) override
    {
        address = a;
        port = p;
        return connectResult;
    }
    int send(std::string_view bytes) override
    {
        if (sendFails)
            return 0;
        sent.append(bytes);
        return 1;
    }
    size_t receive(char* into, size_t capacity) override
    {
        if (incoming.empty())
            return 0;
        std::string& front = incoming.front();
        const size_t n = std::min(capacity, front.size());
        std::memcpy(into, front.data(), n);
        front.erase(0, n);
        if (front.empty())
            incoming.pop_front();
        return n;
    }
    void close() override { ++closes; }

    void queue(std::string bytes) { incoming.push_back(std::move(bytes)); }
    std::deque<std::string> incoming;
};

// Records the progress codes a request reports.
struct CodeLog {
    std::vector<int> codes;
    HttpGetRequest::Notify notify()
    {
        return [this](int c) { codes.push_back(c); };
    }
};

} // namespace quillet::test
