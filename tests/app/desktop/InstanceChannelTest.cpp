#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "app/desktop/InstanceChannel.h"

namespace quillet::desktop {
namespace fs = std::filesystem;

class InstanceChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base_ = fs::temp_directory_path() / ("quillet_inst_" + std::to_string(::getpid()));
        fs::remove_all(base_);
        fs::create_directories(base_);
        folder_ = QString::fromStdString((base_ / "channel").string());
    }
    void TearDown() override { fs::remove_all(base_); }

    // Runs the event loop until n requests arrived or the time is up.
    static void spin(const std::vector<int>& got, size_t n, int ms = 1500)
    {
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // A client that is not the program: writes raw bytes.
    void sendRaw(const QByteArray& bytes, bool finish = true)
    {
        QLocalSocket s;
        s.connectToServer(folder_ + "/instance");
        ASSERT_TRUE(s.waitForConnected(1000));
        s.write(bytes);
        s.waitForBytesWritten(1000);
        if (finish)
            s.disconnectFromServer();
        else
            s.abort();
    }

    fs::path base_;
    QString folder_;
};

TEST_F(InstanceChannelTest, SecondStartReachesTheFirstWithItsCommand)
{
    InstanceChannel first(folder_);
    std::vector<int> got;
    QObject::connect(&first, &InstanceChannel::requestReceived, [&](int r) { got.push_back(r); });
    ASSERT_EQ(first.lock(), 1);
    EXPECT_EQ(first.findRunning(), 0);
    ASSERT_EQ(first.listen(), 1);
    first.unlock();
    struct stat st {};
    ASSERT_EQ(::stat(folder_.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "only the user may enter the channel's folder";

    InstanceChannel second(folder_);
    EXPECT_EQ(second.findRunning(), 1);
    EXPECT_EQ(second.send(1000), 1);
    EXPECT_EQ(second.send(InstanceChannel::kShowRequest), 1);
    EXPECT_EQ(second.send(32771), 1);
    EXPECT_EQ(second.send(1010), 0) << "not a command a second start may send";
    spin(got, 3);
    EXPECT_EQ(got, (std::vector<int>{1000, InstanceChannel::kShowRequest, 32771}));
}

TEST_F(InstanceChannelTest, ForeignMessagesAreIgnored)
{
    InstanceChannel first(folder_);
    std::vector<int> got;
    QObject::connect(&first, &InstanceChannel::requestReceived, [&](int r) { got.push_back(r); });
    ASSERT_EQ(first.listen(), 1);

    sendRaw("cmd 9999\n");
    sendRaw("cmd 1000");              // no line end
    sendRaw("CMD 1000\n");
    sendRaw("cmd 1000\ncmd 1002\n");  // two lines at once
    sendRaw(" cmd 1000\n");
    sendRaw(QByteArray(100, 'x') + "\n");
    sendRaw(QByteArray("cmd 1000\0\n", 10));
    sendRaw("cmd 10", false);          // half a line, then gone
    spin(got, 1, 800);
    EXPECT_TRUE(got.empty()) << got.front();

    // A client that keeps the connection open without finishing is cut off,
    // and the channel still serves the next start.
    QLocalSocket idle;
    idle.connectToServer(folder_ + "/instance");
    ASSERT_TRUE(idle.waitForConnected(1000));
    idle.write("cmd");
    idle.waitForBytesWritten(500);
    QElapsedTimer t;
    t.start();
    while (idle.state() == QLocalSocket::ConnectedState && t.elapsed() < InstanceChannel::kReadTimeoutMs + 1500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (idle.state() == QLocalSocket::ConnectedState)
            idle.waitForDisconnected(20);
    }
    EXPECT_NE(idle.state(), QLocalSocket::ConnectedState);

    EXPECT_EQ(InstanceChannel(folder_).send(1002), 1);
    spin(got, 1);
    EXPECT_EQ(got, (std::vector<int>{1002}));
}

TEST_F(InstanceChannelTest, StaleMarkerCountsAsNoInstance)
{
    fs::create_directories(folder_.toStdString());
    fs::permissions(folder_.toStdString(), fs::perms::owner_all);
    // A socket file left behind by a killed instance: bound, nobody listening.
    const std::string path = folder_.toStdString() + "/instance";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(fs::exists(path));

    InstanceChannel channel(folder_);
    EXPECT_EQ(channel.findRunning(), 0);
    EXPECT_EQ(channel.send(1000), 0) << "nobody to receive it";
    ASSERT_EQ(channel.listen(), 1) << "the stale marker is replaced";
    EXPECT_EQ(InstanceChannel(folder_).findRunning(), 1);
}

TEST_F(InstanceChannelTest, FolderOpenToOthersIsNotUsed)
{
    fs::create_directories(folder_.toStdString());
    ::chmod(folder_.toLocal8Bit().constData(), 0755);
    InstanceChannel channel(folder_);
    EXPECT_FALSE(InstanceChannel::folderIsPrivate(folder_));
    EXPECT_EQ(channel.listen(), 0);
    EXPECT_EQ(channel.findRunning(), 0);

    const QString link = QString::fromStdString((base_ / "link").string());
    fs::create_directories((base_ / "real").string());
    fs::permissions((base_ / "real").string(), fs::perms::owner_all);
    fs::create_directory_symlink(base_ / "real", link.toStdString());
    EXPECT_FALSE(InstanceChannel::folderIsPrivate(link)) << "a link could lead anywhere";
}

TEST(InstanceWire, OnlyTheListedLinesDecode)
{
    for (int r : {1000, 1002, 32771, InstanceChannel::kShowRequest})
        EXPECT_EQ(InstanceChannel::decode(InstanceChannel::encode(r)), r);
    EXPECT_TRUE(InstanceChannel::encode(1001).isEmpty());
    EXPECT_EQ(InstanceChannel::decode(""), 0);
    EXPECT_EQ(InstanceChannel::decode("show"), 0);
    EXPECT_EQ(InstanceChannel::decode("show\n\n"), 0);
}

} // namespace quillet::desktop
