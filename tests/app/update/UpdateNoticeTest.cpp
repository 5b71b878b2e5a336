#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "app/core/Language.h"
#include "app/update/UpdateNotice.h"
#include "tests/app/update/LocalHttpServer.h"

#ifndef QUILLET_LANGUAGE_SOURCE_DIR
#error "QUILLET_LANGUAGE_SOURCE_DIR names the shipped language files"
#endif

namespace quillet {
namespace {
namespace fs = std::filesystem;
using test::LocalHttpServer;

// Runs the event loop until done() or timeoutMs; tracks the longest stretch
// in which the loop did not get round to a 10 ms timer.
struct Loop {
    qint64 longestStallMs = 0;

    bool runUntil(const std::function<bool()>& done, int timeoutMs)
    {
        QElapsedTimer total, sinceTick;
        total.start();
        sinceTick.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestStallMs = std::max(longestStallMs, sinceTick.restart());
        });
        tick.start(10);
        while (!done() && total.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        longestStallMs = std::max(longestStallMs, sinceTick.elapsed());
        return done();
    }
};

const std::string kPageBody = "<html><head><title>Quillet Max:0.2.0.0 news</title></head>"
                              "<BODY bgcolor=\"LightYellow\"><b>Faster MP4</b><img src=\"/dev/zero\"></BODY></html>";

std::string page200(const std::string& body, bool withLength = true)
{
    std::string r = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    if (withLength)
        r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

std::string expectedRequest(uint16_t port)
{
    (void)port; // the Host line names the host without its port
    return "GET /quillet/news.html HTTP/1.0\r\nHost:127.0.0.1\r\nUser-Agent:Quillet/0.1.0.0(X11; Linux)\r\n"
           "Accept: */*\r\nAccept-Language:cn\r\nConnection:close\r\nContent-Length:0\r\n\r\n\r\n";
}

class UpdateNoticeTest : public ::testing::Test {
protected:

    UpdateConfig configFor(uint16_t port, int timeoutMs = 5000, const char* host = "127.0.0.1")
    {
        UpdateConfig c;
        c.host = std::string(host) + ":" + std::to_string(port);
        c.page = "quillet/news.html";
        c.versionText = "0.1.0.0";
        c.startDelayMs = 100;
        c.checkTimeoutMs = timeoutMs;
        return c;
    }

    // A notice on a hidden main window, with the callbacks it announces.
    void makeNotice(const UpdateConfig& c)
    {
        mainWindow = std::make_unique<QWidget>();
        notice = new UpdateNotice(mainWindow.get(), c);
        QObject::connect(notice, &UpdateNotice::trayCallback,
                         [this](int first, int second) { callbacks.push_back({first, second}); });
    }
    bool runCheck(int timeoutMs)
    {
        notice->start();
        return loop.runUntil([this] { return !notice->checking(); }, timeoutMs);
    }

    std::unique_ptr<QWidget> mainWindow;
    UpdateNotice* notice = nullptr;
    std::vector<std::pair<int, int>> callbacks;
    Loop loop;
};

TEST_F(UpdateNoticeTest, GoodPageBecomesNewsAndTheAboutOffer)
{
    // The server keeps the connection open: the declared length ends the page.
    LocalHttpServer server(LocalHttpServer::reply(page200(kPageBody), true));
    UpdateConfig c = configFor(server.port());
    c.startDelayMs = UpdateConfig::kStartDelayMs;
    makeNotice(c);
    EXPECT_FALSE(notice->isVisible());
    const auto started = LocalHttpServer::Clock::now();
    ASSERT_TRUE(runCheck(10000));

    EXPECT_GE(server.firstConnection() - started, std::chrono::milliseconds(990)) << "one second after start";
    ASSERT_EQ(server.connections(), 1);
    EXPECT_EQ(server.requests().at(0), expectedRequest(server.port()));
    ASSERT_EQ(callbacks, (std::vector<std::pair<int, int>>{{4445, 1}}));
    EXPECT_EQ(notice->newestVersion(), "0.2.0.0");
    EXPECT_EQ(notice->newsText(), "<b>Faster MP4</b><img src=\"/dev/zero\">");
    EXPECT_FALSE(notice->isVisible());
    const QLabel* label = notice->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("<b>Faster MP4</b>"));
    EXPECT_EQ(label->palette().color(QPalette::Window), QColor(QStringLiteral("LightYellow")));
    // The notice closed its end although the server never did.
    EXPECT_TRUE(loop.runUntil([&] { return server.clientLeft.load(); }, 3000));

    // The About window's button, in both shipped languages.
    Language english(QUILLET_LANGUAGE_SOURCE_DIR);
    english.load();
    const UpdateOffer offer = notice->aboutOffer(english);
    EXPECT_TRUE(offer.offered);
    EXPECT_EQ(offer.buttonText, QStringLiteral("Update to version: 0.2.0.0"));
    char pattern[] = "/tmp/quillet_updlang_XXXXXX";
    const fs::path langDir = mkdtemp(pattern);
    fs::copy_file(fs::path(QUILLET_LANGUAGE_SOURCE_DIR) / "chinese.ini", langDir / "chinese.ini");
    Language chinese(langDir.string() + "/");
    chinese.switchTo("chinese.ini");
    EXPECT_EQ(notice->aboutOffer(chinese).buttonText, QString::fromUtf8("更新到版本:0.2.0.0"));
    fs::remove_all(langDir);
    // 0.2 is not above 1.02: pressing the button does nothing.
    EXPECT_EQ(notice->acceptOffer(), 0);

    // A later start shows the kept news and asks nothing again.
    notice->start();
    EXPECT_FALSE(notice->checking());
    loop.runUntil([] { return false; }, 300);
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(UpdateNoticeTest, NewerVersionOfferAndUpgradeRequests)
{
    {
        LocalHttpServer server(LocalHttpServer::reply(page200("<title>Max:5.3</title><BODY >n</BODY>", false)));
        makeNotice(configFor(server.port()));
        ASSERT_TRUE(runCheck(8000));
        ASSERT_EQ(callbacks, (std::vector<std::pair<int, int>>{{4445, 1}}));
        EXPECT_EQ(notice->newsText(), "n");
        ASSERT_EQ(notice->acceptOffer(), 1);
        EXPECT_EQ(callbacks.size(), 1u) << "announced after the About window closed, not during the press";
        loop.runUntil([&] { return callbacks.size() == 2; }, 2000);
        EXPECT_EQ(callbacks.back(), std::make_pair(4445, 102));
    }
    {
        // Our version is below the one the title requires.
        callbacks.clear();
        LocalHttpServer server(LocalHttpServer::reply(page200("<title>Max:5.3 V5.2</title><BODY >n</BODY>")));
        makeNotice(configFor(server.port()));
        ASSERT_TRUE(runCheck(8000));
        EXPECT_EQ(callbacks, (std::vector<std::pair<int, int>>{{4445, 102}}));
        EXPECT_EQ(notice->newsText(), "");
        EXPECT_EQ(notice->newestVersion(), "5.3");
    }
}

TEST_F(UpdateNoticeTest, HostileServersGiveNothingAndNeverStallTheWindow)
{
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += static_cast<char>((i * 7919) & 0xff);
    struct Case {
        const char* name;
        LocalHttpServer::Script script;
        int timeoutMs;
    };
    const Case cases[] = {
        {"10 MB body", LocalHttpServer::reply(page200(std::string(10 << 20, 'x'), false)), 5000},
        {"10 MB declared", LocalHttpServer::reply(page200(std::string(10 << 20, 'x'), true)), 5000},
        {"garbage", LocalHttpServer::reply(garbage), 5000},
        {"closed at once", [](LocalHttpServer&, int, const std::string&) {}, 5000},
        {"no reply", LocalHttpServer::reply("", true), 1500},
        {"slow drip", LocalHttpServer::drip(page200(kPageBody, false), 100), 1500},
        {"not found", LocalHttpServer::reply("HTTP/1.0 404 Not Found\r\n\r\n<title>Max:9.9</title><BODY >x</BODY>"),
         5000},
        {"header only", LocalHttpServer::reply("HTTP/1.0 200 OK\r\nServer: t\r\n"), 5000},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        callbacks.clear();
        loop.longestStallMs = 0;
        LocalHttpServer server(k.script);
        makeNotice(configFor(server.port(), k.timeoutMs));
        EXPECT_TRUE(runCheck(k.timeoutMs + 5000)) << "the check must end";
        EXPECT_TRUE(callbacks.empty());
        EXPECT_EQ(notice->newestVersion(), "");
        EXPECT_EQ(notice->newsText(), "");
        EXPECT_EQ(server.connections(), 1);
        // A blocking read of the drip or of 10 MB would hold the loop for seconds.
        EXPECT_LT(loop.longestStallMs, 1000);
        if (std::string(k.name).rfind("10 MB", 0) == 0) {
            loop.runUntil([&] { return server.clientLeft.load(); }, 5000);
            EXPECT_TRUE(server.clientLeft.load()) << "the notice gave up on the body";
            EXPECT_LT(server.bytesSent.load(), 10 << 20);
        }
    }
}

TEST_F(UpdateNoticeTest, RedirectsAreNotFollowed)
{
    LocalHttpServer elsewhere(LocalHttpServer::reply(page200(kPageBody)));
    const std::string body = "<title>Max:9.9</title><BODY >moved</BODY>";
    LocalHttpServer server(LocalHttpServer::reply("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" +
                                                  std::to_string(elsewhere.port()) +
                                                  "/quillet/news.html\r\nContent-Length: " +
                                                  std::to_string(body.size()) + "\r\n\r\n" + body));
    makeNotice(configFor(server.port()));
    ASSERT_TRUE(runCheck(8000));
    loop.runUntil([] { return false; }, 300);
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(elsewhere.connections(), 0);
    EXPECT_TRUE(callbacks.empty());
    EXPECT_EQ(notice->newestVersion(), "");
}

TEST_F(UpdateNoticeTest, PagesThatAreOddButUsable)
{
    {
        // Not UTF-8 (a legacy Chinese encoding): shown with replacement marks.
        LocalHttpServer server(
            LocalHttpServer::reply(page200("<title>Max:\xb0\xe6 Max</title><BODY >\xd0\xc2\xb0\xe6 ok</BODY>")));
        makeNotice(configFor(server.port()));
        ASSERT_TRUE(runCheck(8000));
        EXPECT_EQ(callbacks, (std::vector<std::pair<int, int>>{{4445, 1}}));
        EXPECT_EQ(notice->newestVersion(), "") << "a version must be printable ASCII";
        const QLabel* label = notice->findChild<QLabel*>();
        // D0 C2 B0 E6: C2 B0 happens to be a well-formed sequence (a degree sign).
        EXPECT_EQ(label->text(), QString::fromUtf8("\xEF\xBF\xBD\xC2\xB0\xEF\xBF\xBD ok"));
        EXPECT_FALSE(notice->aboutOffer(Language(QUILLET_LANGUAGE_SOURCE_DIR)).offered);
    }
    {
        // No title: the news without a version, so no offer.
        callbacks.clear();
        LocalHttpServer server(LocalHttpServer::reply(page200("<html><body>plain news</body></html>", false)));
        makeNotice(configFor(server.port(), 5000, "localhost")); // through the name lookup
        ASSERT_TRUE(runCheck(8000));
        EXPECT_EQ(callbacks, (std::vector<std::pair<int, int>>{{4445, 1}}));
        EXPECT_EQ(notice->newsText(), "plain news");
        EXPECT_FALSE(notice->aboutOffer(Language(QUILLET_LANGUAGE_SOURCE_DIR)).offered);
    }
}

TEST_F(UpdateNoticeTest, NoRequestWithoutAUsableHostOrAServer)
{
    UpdateConfig none;
    none.versionText = "0.1.0.0";
    makeNotice(none);
    notice->start();
    EXPECT_FALSE(notice->checking());

    UpdateConfig refused = configFor(test::unusedPort());
    refused.problem = "not usable";
    makeNotice(refused);
    notice->start();
    EXPECT_FALSE(notice->checking());

    // Nobody listening, and a name that does not resolve: quietly nothing.
    makeNotice(configFor(test::unusedPort()));
    EXPECT_TRUE(runCheck(8000));
    makeNotice(configFor(80, 5000, "no-such-host.invalid"));
    EXPECT_TRUE(runCheck(8000));
    EXPECT_TRUE(callbacks.empty());
}

TEST_F(UpdateNoticeTest, ClosingTheWindowMidCheckIsSafe)
{
    LocalHttpServer server(LocalHttpServer::drip(page200(kPageBody, false), 50));
    makeNotice(configFor(server.port()));
    notice->start();
    loop.runUntil([&] { return server.bytesSent.load() > 3; }, 5000);
    EXPECT_TRUE(notice->checking());
    mainWindow.reset(); // destroys the notice with its socket
    EXPECT_TRUE(loop.runUntil([&] { return server.clientLeft.load(); }, 3000));
    EXPECT_TRUE(callbacks.empty());
}

} // namespace
} // namespace quillet

// The notice needs widgets but no screen: the offscreen platform will do. The
// application lives on main's stack, so it is gone before the process ends.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    char runtime[] = "/tmp/quillet_updrt_XXXXXX";
    const bool ownRuntime = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && mkdtemp(runtime);
    if (ownRuntime)
        qputenv("XDG_RUNTIME_DIR", runtime);
    int rc;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        rc = RUN_ALL_TESTS();
    }
    if (ownRuntime)
        std::filesystem::remove_all(runtime);
    return rc;
}
