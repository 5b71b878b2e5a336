#include "app/player/ControlChannel.h"

#include <unistd.h>

#include <cstdio>

namespace quillet::player {

ControlChannel::ControlChannel(QObject* parent) : QObject(parent), notifier_(STDIN_FILENO, QSocketNotifier::Read)
{
    connect(&notifier_, &QSocketNotifier::activated, this, &ControlChannel::readLine);
}

void ControlChannel::emitEvent(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ControlChannel::readLine()
{
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        // The driving program went away: nothing more will come.
        notifier_.setEnabled(false);
        if (n == 0)
            emit command(QStringLiteral("quit"), QString());
        return;
    }
    buffer_.append(chunk, qsizetype(n));
    for (qsizetype end; (end = buffer_.indexOf('\n')) >= 0;) {
        const QString line = QString::fromUtf8(buffer_.left(end)).trimmed();
        buffer_.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        emit command(space < 0 ? line : line.left(space), space < 0 ? QString() : line.mid(space + 1).trimmed());
    }
}

} // namespace quillet::player
