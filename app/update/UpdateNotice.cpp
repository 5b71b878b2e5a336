#include "app/update/UpdateNotice.h"

#include <QColor>
#include <QHostAddress>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "app/core/Language.h"
#include "app/update/HostResolver.h"
#include "app/update/HttpGetRequest.h"
#include "app/update/NewsMarkup.h"
#include "app/update/UpdatePage.h"

namespace quillet {
namespace {

constexpr const char* kInitialBackground = "SteelBlue";

// The request's connection: a socket on the UI thread, never blocking.
class SocketTransport final : public RequestTransport {
public:
    explicit SocketTransport(QTcpSocket* socket) : socket_(socket) {}

    ConnectResult connectTo(const std::string& address, uint16_t port) override
    {
        // Only numeric addresses: the name was resolved (once) by the notice.
        const QHostAddress a(QString::fromStdString(address));
        if (a.isNull())
            return kConnectFailed;
        socket_->connectToHost(a, port);
        return kConnectPending;
    }
    int send(std::string_view bytes) override
    {
        const auto n = static_cast<qint64>(bytes.size());
        return socket_->write(bytes.data(), n) == n ? 1 : 0;
    }
    size_t receive(char* into, size_t capacity) override
    {
        const qint64 n = socket_->read(into, static_cast<qint64>(capacity));
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    void close() override
    {
        socket_->disconnect();
        socket_->abort();
    }

private:
    QTcpSocket* socket_;
};

} // namespace

// The state of one check. Ended with finish() and deleted later, because it
// may end from inside one of its own objects' signals.
class UpdateNotice::Check : public QObject {
public:
    explicit Check(QObject* parent) : QObject(parent), startTimer(this), deadline(this) {}
    ~Check() override { finish(); }

    void finish()
    {
        startTimer.stop();
        deadline.stop();
        resolver.cancel();
        if (socket) {
            socket->disconnect();
            socket->abort();
        }
    }

    QTimer startTimer;
    QTimer deadline;
    HostResolver resolver;
    QTcpSocket* socket = nullptr; // child of this
    std::unique_ptr<SocketTransport> transport;
    std::unique_ptr<HttpGetRequest> request;
};

UpdateNotice::UpdateNotice(QWidget* parent, UpdateConfig config) : QDialog(parent), config_(std::move(config))
{
    newsLabel_ = new QLabel(this);
    newsLabel_->setTextFormat(Qt::RichText);
    newsLabel_->setWordWrap(true);
    newsLabel_->setOpenExternalLinks(false);
    newsLabel_->setAutoFillBackground(true);
    QPalette pal = newsLabel_->palette();
    pal.setColor(QPalette::Window, QColor::fromString(QString::fromLatin1(kInitialBackground)));
    newsLabel_->setPalette(pal);

    auto* close = new QPushButton(QStringLiteral("x"), this);
    close->setObjectName(QStringLiteral("close1009"));
    connect(close, &QPushButton::clicked, this, &QWidget::hide);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(close, 0, Qt::AlignRight);
    layout->addWidget(newsLabel_, 1);
    setVisible(false);

    if (!config_.host.empty() && !config_.problem.empty())
        std::fprintf(stderr, "quillet: update check off: %s (settings section \"%s\")\n", config_.problem.c_str(),
                     UpdateConfig::kSection);
}

UpdateNotice::~UpdateNotice()
{
    delete check_;
    check_ = nullptr;
}

bool UpdateNotice::checking() const
{
    return check_ != nullptr;
}

void UpdateNotice::start()
{
    if (!newsText_.empty()) {
        showNews();
        return;
    }
    if (check_ || attempted_ || !config_.configured())
        return;
    attempted_ = true;
    check_ = new Check(this);
    check_->startTimer.setSingleShot(true);
    // A coarse timer may fire 5 % early; the check waits the whole second.
    check_->startTimer.setTimerType(Qt::PreciseTimer);
    connect(&check_->startTimer, &QTimer::timeout, this, &UpdateNotice::beginLookup);
    check_->startTimer.start(config_.startDelayMs);
}

void UpdateNotice::beginLookup()
{
    if (!check_ || check_->resolver.running() || check_->request)
        return;
    check_->deadline.setSingleShot(true);
    connect(&check_->deadline, &QTimer::timeout, this, &UpdateNotice::endCheck);
    check_->deadline.start(config_.checkTimeoutMs);

    std::string host, path;
    uint16_t port = 0;
    if (!HttpGetRequest::splitUrl(config_.url(), &host, &port, &path)) {
        endCheck();
        return;
    }
    const QString name = QString::fromStdString(host);
    const QHostAddress numeric(name);
    if (!numeric.isNull()) {
        addressResolved(numeric.toString().toStdString());
        return;
    }
    const int started = check_->resolver.resolve(host, [this](const std::string& address) {
        if (address.empty())
            endCheck(); // nothing shown, nothing retried
        else
            addressResolved(address);
    });
    if (!started)
        endCheck();
}

void UpdateNotice::addressResolved(const std::string& address)
{
    if (!check_)
        return;
    Check* c = check_;
    c->socket = new QTcpSocket(c);
    c->transport = std::make_unique<SocketTransport>(c->socket);
    c->request = std::make_unique<HttpGetRequest>(c->transport.get(), config_.versionText, config_.clientId);
    HttpGetRequest* r = c->request.get();
    connect(c->socket, &QTcpSocket::connected, c, [r] { r->connected(false); });
    connect(c->socket, &QTcpSocket::readyRead, c, [r] { r->readable(); });
    connect(c->socket, &QTcpSocket::disconnected, c, [r] { r->serverClosed(false); });
    connect(c->socket, &QTcpSocket::errorOccurred, c, [r](QAbstractSocket::SocketError e) {
        if (r->state() == HttpGetRequest::kConnecting)
            r->connected(true);
        else if (e != QAbstractSocket::RemoteHostClosedError)
            r->serverClosed(true);
    });
    // Progress is handled from the event loop, never inside the socket's own
    // signals, as a posted message would be.
    auto notify = [this](int code) {
        QMetaObject::invokeMethod(this, [this, code] { requestProgress(code); }, Qt::QueuedConnection);
    };
    if (!r->start(config_.url(), notify, address))
        endCheck();
}

void UpdateNotice::requestProgress(int code)
{
    if (!check_ || !check_->request)
        return;
    if (code == HttpGetRequest::kComplete)
        pageArrived();
    else if (code != HttpGetRequest::kSent)
        endCheck(); // failed, closed or too large
}

void UpdateNotice::pageArrived()
{
    const UpdatePage page = UpdatePage::parse(check_->request->body(), config_.versionText);
    endCheck();
    newestVersion_ = page.newestVersion;
    if (page.upgradeRequested) {
        emit trayCallback(kTrayCallbackFirst, kUpgradeRequested);
        return;
    }
    if (!page.hasNews)
        return;
    if (!page.background.empty() && isNewsColour(page.background)) {
        const QColor colour = QColor::fromString(QString::fromStdString(page.background));
        if (colour.isValid()) {
            QPalette pal = newsLabel_->palette();
            pal.setColor(QPalette::Window, colour);
            newsLabel_->setPalette(pal);
        }
    }
    newsText_ = page.newsText;
    showNews();
    emit trayCallback(kTrayCallbackFirst, kNewsArrived);
}

void UpdateNotice::endCheck()
{
    if (!check_)
        return;
    check_->finish();
    check_->deleteLater();
    check_ = nullptr;
}

void UpdateNotice::showNews()
{
    newsLabel_->setText(QString::fromStdString(newsRichText(newsText_)));
}

UpdateOffer UpdateNotice::aboutOffer(const Language& language) const
{
    UpdateOffer offer;
    if (newestVersion_.empty() || !versionSortsBelow(config_.versionText, newestVersion_))
        return offer;
    offer.offered = true;
    offer.buttonText = QString::fromStdString(language.lookupMessage("update2") + newestVersion_);
    return offer;
}

int UpdateNotice::acceptOffer()
{
    if (newestVersion_.empty() || !versionSortsBelow(config_.versionText, newestVersion_) ||
        !versionNumberAbove102(newestVersion_))
        return 0;
    // Announced after the About window has closed, as a posted message would be.
    QMetaObject::invokeMethod(
        this, [this] { emit trayCallback(kTrayCallbackFirst, kUpgradeRequested); }, Qt::QueuedConnection);
    return 1;
}

} // namespace quillet
