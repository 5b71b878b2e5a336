#include <gtest/gtest.h>

#include "app/update/HttpGetRequest.h"
#include "tests/app/update/ScriptedTransport.h"

namespace quillet {
namespace {

using test::CodeLog;
using test::ScriptedTransport;
using R = HttpGetRequest;

constexpr const char* kUrl = "updates.example.org:8080/news/page.html";

struct Fixture {
    ScriptedTransport t;
    CodeLog log;
    HttpGetRequest r{&t, "0.1.0.0", "X11; Linux"};

    void open(const char* url = kUrl)
    {
        ASSERT_EQ(r.start(url, log.notify(), "192.0.2.7"), 1);
        r.connected(false);
    }
    void deliver(const std::string& bytes)
    {
        t.queue(bytes);
        r.readable();
    }
    void deliverBytewise(const std::string& bytes)
    {
        for (char c : bytes)
            deliver(std::string(1, c));
    }
};

TEST(HttpGetRequest, SplitsUrlsAndRefusesUnsafeOnes)
{
    struct Case {
        const char* url;
        int ok;
        const char* host;
        uint16_t port;
        const char* path;
    };
    const Case cases[] = {
        {"example.org/a/b.html", 1, "example.org", 80, "a/b.html"},
        {"example.org:8080/", 1, "example.org", 8080, ""},
        {"1.2.3.4/x", 1, "1.2.3.4", 80, "x"},
        {"a.io:80/x", 1, "a.io", 80, "x"},
        {"a.io/x", 0, "", 0, ""},                 // first '/' before position 7
        {"http://example.org/x", 0, "", 0, ""},   // a scheme puts it at 5
        {"example.org", 0, "", 0, ""},            // no '/'
        {"example.org:65616/x", 0, "", 0, ""},    // must not wrap round to port 80
        {"example.org:0/x", 0, "", 0, ""},
        {"example.org:8o/x", 0, "", 0, ""},
        {"example.org:/x", 0, "", 0, ""},
        {":8080abcd/x", 0, "", 0, ""},
        {"example.org/a b", 0, "", 0, ""},        // a blank would end the request line
        {"example.org/a\r\nX-Evil: 1", 0, "", 0, ""},
    };
    for (const Case& c : cases) {
        std::string host = "unset", path = "unset";
        uint16_t port = 1;
        EXPECT_EQ(R::splitUrl(c.url, &host, &port, &path), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.url;
            EXPECT_EQ(port, c.port) << c.url;
            EXPECT_EQ(path, c.path) << c.url;
        }
    }
}

TEST(HttpGetRequest, SendsOneRequestToTheGivenAddressOnceConnected)
{
    Fixture f;
    ASSERT_EQ(f.r.start(kUrl, f.log.notify(), "192.0.2.7"), 1);
    EXPECT_EQ(f.t.address, "192.0.2.7");
    EXPECT_EQ(f.t.port, 8080);
    EXPECT_EQ(f.r.state(), R::kConnecting);
    EXPECT_TRUE(f.t.sent.empty());
    f.r.connected(false);
    EXPECT_EQ(f.t.sent, "GET /news/page.html HTTP/1.0\r\nHost:updates.example.org\r\n"
                        "User-Agent:Quillet/0.1.0.0(X11; Linux)\r\nAccept: */*\r\nAccept-Language:cn\r\n"
                        "Connection:close\r\nContent-Length:0\r\n\r\n\r\n");
    EXPECT_EQ(f.log.codes, std::vector<int>{R::kSent});

    // Without an address the URL's host is connected to; an immediate connect
    // sends at once.
    Fixture g;
    g.t.connectResult = RequestTransport::kConnected;
    ASSERT_EQ(g.r.start("example.org/x", g.log.notify(), ""), 1);
    EXPECT_EQ(g.t.address, "example.org");
    EXPECT_EQ(g.t.port, 80);
    EXPECT_EQ(g.t.sent.rfind("GET /x HTTP/1.0\r\nHost:example.org\r\n", 0), 0u);
}

TEST(HttpGetRequest, ConnectAndSendFailuresAreReported)
{
    Fixture f;
    f.t.connectResult = RequestTransport::kConnectFailed;
    EXPECT_EQ(f.r.start(kUrl, f.log.notify(), "192.0.2.7"), 0);
    EXPECT_EQ(f.r.start("a.io/x", f.log.notify(), ""), 0);

    Fixture g;
    ASSERT_EQ(g.r.start(kUrl, g.log.notify(), "192.0.2.7"), 1);
    g.r.connected(true);
    EXPECT_EQ(g.log.codes, std::vector<int>{R::kConnecting});
    EXPECT_TRUE(g.t.sent.empty());

    Fixture h;
    h.t.sendFails = true;
    h.open();
    EXPECT_EQ(h.log.codes, (std::vector<int>{R::kSent, R::kClosed}));
    EXPECT_GE(h.t.closes, 1);
}

TEST(HttpGetRequest, DeclaredLengthCompletesBeforeTheServerCloses)
{
    const std::string body = "<html><title>Quillet Max:0.2.0.0</title><BODY >hi</BODY></html>";
    const std::string reply = "HTTP/1.1 200 OK\r\nServer: t\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\n\r\n" + body + "TRAILING JUNK";
    for (int bytewise = 0; bytewise < 2; ++bytewise) {
        Fixture f;
        f.open();
        bytewise ? f.deliverBytewise(reply) : f.deliver(reply);
        EXPECT_EQ(f.r.state(), R::kComplete);
        EXPECT_EQ(f.r.contentLength(), static_cast<int>(body.size()));
        EXPECT_EQ(f.r.body(), body); // the junk beyond the declared length is cut
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kComplete}));
        // Later events change nothing.
        f.deliver("more");
        f.r.serverClosed(false);
        EXPECT_EQ(f.r.body(), body);
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kComplete}));
    }
}

TEST(HttpGetRequest, WithoutLengthThePageEndsAtAnOrderlyCloseOf200Replies)
{
    const std::string body = "<title>Max:1.0</title>\r\n\r\nsecond paragraph";
    {
        Fixture f;
        f.open();
        f.deliverBytewise("HTTP/1.0 200 OK\r\nServer: t\r\n\r\n" + body);
        EXPECT_EQ(f.r.state(), R::kSent);
        f.r.serverClosed(false);
        EXPECT_EQ(f.r.body(), body);
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kComplete, R::kClosed}));
    }
    {
        // A reply cut short by a reset is not the whole page.
        Fixture f;
        f.open();
        f.deliver("HTTP/1.0 200 OK\r\n\r\n" + body);
        f.r.serverClosed(true);
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kClosed}));
    }
    {
        // Bytes still waiting when the close is seen are read first; a bare
        // line feed before the blank line also ends the header.
        Fixture f;
        f.open();
        f.t.queue("HTTP/1.0 200 OK\nServer: t\n\r\n" + body);
        f.r.serverClosed(false);
        EXPECT_EQ(f.r.body(), body);
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kComplete, R::kClosed}));
    }
    {
        // "200 OK" in the body of an error page does not make it the page, and
        // a header that never ended is no page either.
        for (const std::string& reply :
             {std::string("HTTP/1.0 404 Not Found\r\n\r\nHTTP/1.0 200 OK\r\n\r\n<title>Max:9</title>"),
              std::string("HTTP/1.0 200 OK\r\nServer: t\r\n")}) {
            Fixture f;
            f.open();
            f.deliver(reply);
            f.r.serverClosed(false);
            EXPECT_EQ(f.log.codes.back(), R::kClosed);
            EXPECT_EQ(std::count(f.log.codes.begin(), f.log.codes.end(), R::kComplete), 0) << reply;
        }
    }
}

TEST(HttpGetRequest, RepliesOtherThan200AreNotThePageEvenWithALength)
{
    // A redirect is not followed and its body is not read as the page.
    const std::string body = "<title>Max:9.9 V9.9</title><BODY >moved</BODY>";
    for (const char* status : {"HTTP/1.1 302 Found", "HTTP/1.0 404 Not Found", "HTTP/1.0 2000 OK", "garbage 200 OK"}) {
        Fixture f;
        f.open();
        f.deliver(std::string(status) + "\r\nLocation: http://elsewhere.example/\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kClosed})) << status;
        EXPECT_GE(f.t.closes, 1);
    }
    EXPECT_TRUE(R::statusIsOk("HTTP/1.0 200 OK"));
    EXPECT_TRUE(R::statusIsOk("HTTP/1.1 200 Fine\r\nX: y"));
    EXPECT_FALSE(R::statusIsOk("HTTP/1.0 201 Created"));
    EXPECT_FALSE(R::statusIsOk("X-Status: HTTP/1.0 200 OK"));
}

TEST(HttpGetRequest, OversizedRepliesAreAbandoned)
{
    {
        // A declared length above the limit is refused at the header.
        Fixture f;
        f.open();
        f.deliver("HTTP/1.0 200 OK\r\nContent-Length: 10485760\r\n\r\nabc");
        EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kTooLarge}));
    }
    {
        // Without a length the body is counted as it arrives; a header that
        // never ends is bounded the same way.
        for (const std::string& head : {std::string("HTTP/1.0 200 OK\r\n\r\n"), std::string("HTTP/1.0 200 OK\r\nX: ")}) {
            Fixture f;
            f.open();
            for (int i = 0; i < 100 && f.r.state() == R::kSent; ++i)
                f.deliver(i == 0 ? head : std::string(1000, 'x'));
            EXPECT_EQ(f.log.codes, (std::vector<int>{R::kSent, R::kTooLarge}));
            EXPECT_GT(f.r.body().size(), R::kMaxReply);
            EXPECT_LT(f.r.body().size(), R::kBufferSize);
        }
    }
    {
        // One large delivery never overruns the buffer, which stays terminated.
        Fixture f;
        f.open();
        f.deliver("HTTP/1.0 200 OK\r\n\r\n" + std::string(200000, 'y'));
        EXPECT_EQ(f.r.state(), R::kTooLarge);
        EXPECT_LE(f.r.body().size(), R::kBufferSize - 1);
        EXPECT_EQ(f.r.body().data()[f.r.body().size()], '\0');
    }
    {
        // Exactly at the limit is still a page.
        Fixture f;
        f.open();
        f.deliver("HTTP/1.0 200 OK\r\nContent-Length: 64000\r\n\r\n" + std::string(64000, 'z'));
        EXPECT_EQ(f.r.state(), R::kComplete);
        EXPECT_EQ(f.r.body().size(), 64000u);
    }
}

TEST(HttpGetRequest, ContentLengthHeaderIsReadFromItsOwnLineOnly)
{
    const std::string body = "0123456789";
    struct Case {
        const char* header;
        int expectedLength; // 0: unknown, the page ends at the close
    };
    const Case cases[] = {
        {"Content-Length: 10", 10},
        {"content-length:10  ", 10},
        {"X-Original-Content-Length: 3", 0},
        {"Content-Length: ten", 0},
        {"Content-Length: -5", 0},
        {"Content-Length: 0", 0},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.open();
        f.deliver(std::string("HTTP/1.0 200 OK\r\n") + c.header + "\r\n\r\n" + body);
        EXPECT_EQ(f.r.contentLength(), c.expectedLength) << c.header;
        f.r.serverClosed(false);
        EXPECT_EQ(f.r.body(), body) << c.header;
    }
}

} // namespace
} // namespace quillet
