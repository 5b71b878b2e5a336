#include "app/desktop/InstanceChannel.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::desktop {
namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kWriteTimeoutMs = 1000;
// Two programs starting together wait this long for each other's check.
constexpr int kLockWaitMs = 3000;
constexpr int kLockPollMs = 20;

struct WireEntry {
    int request;
    const char* line;
};
// The only lines a second start may send.
constexpr WireEntry kWire[] = {
    {1000, "cmd 1000\n"},
    {1002, "cmd 1002\n"},
    {32771, "cmd 32771\n"},
    {InstanceChannel::kShowRequest, "show\n"},
};

bool peerIsThisUser(QLocalSocket* socket)
{
    struct ucred cred {};
    socklen_t len = sizeof cred;
    const int fd = static_cast<int>(socket->socketDescriptor());
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    return cred.uid == getuid();
}

} // namespace

InstanceChannel::InstanceChannel(QString folder, QObject* parent)
    : QObject(parent), folder_(folder.isEmpty() ? defaultFolder() : std::move(folder))
{
}

InstanceChannel::~InstanceChannel()
{
    if (server_) {
        server_->close(); // removes the socket file
    }
    unlock();
}

QString InstanceChannel::defaultFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/'))
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/quillet");
    return QStringLiteral("/tmp/quillet-%1").arg(getuid());
}

bool InstanceChannel::folderIsPrivate(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st {};
    if (lstat(path.constData(), &st) != 0) {
        if (mkdir(path.constData(), 0700) != 0 || lstat(path.constData(), &st) != 0)
            return false;
    }
    // A symbolic link or a folder of someone else could hand our socket to
    // another user; refuse rather than repair.
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

QString InstanceChannel::socketPath() const
{
    return folder_ + QStringLiteral("/instance");
}

int InstanceChannel::lock()
{
    if (lockFd_ >= 0)
        return 1;
    if (!folderIsPrivate(folder_))
        return 0;
    const QByteArray path = QFile::encodeName(folder_ + QStringLiteral("/instance.lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return 0;
    for (int waited = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; waited += kLockPollMs) {
        if (waited >= kLockWaitMs) {
            ::close(fd);
            return 0;
        }
        usleep(kLockPollMs * 1000);
    }
    lockFd_ = fd;
    return 1;
}

void InstanceChannel::unlock()
{
    if (lockFd_ >= 0) {
        flock(lockFd_, LOCK_UN);
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

int InstanceChannel::findRunning() const
{
    if (!folderIsPrivate(folder_))
        return 0;
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return 0;
    socket.disconnectFromServer();
    return 1;
}

int InstanceChannel::send(int request) const
{
    const QByteArray line = encode(request);
    if (line.isEmpty() || !folderIsPrivate(folder_))
        return 0;
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return 0; // gone: the command is lost, as a post to a vanished window is
    socket.write(line);
    const bool written = socket.waitForBytesWritten(kWriteTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kWriteTimeoutMs);
    return written ? 1 : 0;
}

int InstanceChannel::listen()
{
    if (server_)
        return 1;
    if (!folderIsPrivate(folder_))
        return 0;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        // A socket file nobody answers is a stale marker: replace it. (A live
        // instance was ruled out by findRunning under the same lock.)
        QLocalServer::removeServer(socketPath());
        if (!server->listen(socketPath())) {
            delete server;
            return 0;
        }
    }
    server_ = server;
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::onNewConnection);
    return 1;
}

bool InstanceChannel::listening() const
{
    return server_ && server_->isListening();
}

QByteArray InstanceChannel::encode(int request)
{
    for (const WireEntry& e : kWire)
        if (e.request == request)
            return QByteArray(e.line);
    return {};
}

int InstanceChannel::decode(const QByteArray& line)
{
    for (const WireEntry& e : kWire)
        if (line == e.line)
            return e.request;
    return 0;
}

void InstanceChannel::onNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (!peerIsThisUser(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A client that never finishes its line is cut off.
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
        readFrom(socket);
    }
}

void InstanceChannel::readFrom(QLocalSocket* socket)
{
    // Bytes of an unfinished line wait on the socket itself.
    QByteArray line = socket->property("pendingLine").toByteArray();
    line += socket->read(kMaxLineBytes + 1 - line.size());
    if (line.size() > kMaxLineBytes) {
        socket->abort();
        return;
    }
    const int end = line.indexOf('\n');
    if (end < 0) {
        socket->setProperty("pendingLine", line);
        return;
    }
    // Exactly one line and nothing after it.
    const bool single = end + 1 == line.size() && socket->bytesAvailable() == 0;
    const int request = single ? decode(line) : 0;
    socket->setProperty("pendingLine", QVariant());
    socket->disconnectFromServer();
    if (request != 0)
        emit requestReceived(request);
}

} // namespace quillet::desktop
