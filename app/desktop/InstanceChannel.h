#pragma once
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace quillet::desktop {

// The running instance's marker and the way a second start talks to it: a
// local socket in a per-user folder that only its owner can enter (0700,
// checked before use), so no other user can reach it. A second start sends
// one short line naming a command number; anything else is dropped, as is a
// connection from another user or one that keeps sending.
//
// A socket file that nobody answers (left by a killed instance) counts as no
// instance and is replaced.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // Request numbers: the command numbers a second start may post, and the
    // tray double-click that shows the window.
    static constexpr int kShowRequest = 515;
    // Longest line accepted, and how long a connection may take to send it.
    static constexpr int kMaxLineBytes = 32;
    static constexpr int kReadTimeoutMs = 2000;

    // folder: where the socket lives; empty chooses defaultFolder().
    explicit InstanceChannel(QString folder = QString(), QObject* parent = nullptr);
    ~InstanceChannel() override;

    // $XDG_RUNTIME_DIR/quillet, or /tmp/quillet-UID when no runtime folder is
    // set; created with mode 0700.
    static QString defaultFolder();
    // The folder exists (or was created), is a directory owned by this user
    // and open to nobody else. Only then is the socket used.
    static bool folderIsPrivate(const QString& folder);

    QString socketPath() const;

    // Serialises the check-and-claim of two programs starting at once: held
    // from before findRunning() until after listen(). Returns 1 when held.
    int lock();
    void unlock();

    // 1 when another instance answers on the socket.
    int findRunning() const;
    // Sends one request to the running instance; 1 when it was delivered.
    int send(int request) const;
    // Becomes the instance marker: listens for requests. Returns 1 on success.
    int listen();
    bool listening() const;

    // Wire form of a request, and its reading: a valid line gives its request
    // number, anything else 0.
    static QByteArray encode(int request);
    static int decode(const QByteArray& line);

signals:
    void requestReceived(int request);

private:
    void onNewConnection();
    void readFrom(QLocalSocket* socket);

    QString folder_;
    QLocalServer* server_ = nullptr;
    int lockFd_ = -1;
};

} // namespace quillet::desktop
