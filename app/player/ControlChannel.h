#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <QString>

namespace quillet::player {

// Drives the player from another program (tests, scripts): one command a
// line on standard input, one event a line on standard output.
//
//   play | pause | seek MS | step 1|-1 | fit on|off | dump FILE.ppm | grab FILE.png | status | quit
//
// Events: "opened ...", "shown START_MS END_MS INDEX MONOTONIC_US [seek]" for
// every picture put on the screen, "dumped FILE", "grabbed FILE",
// "status ...", "message TEXT", "ended CLOCK_MS", "error TEXT".
class ControlChannel : public QObject {
    Q_OBJECT
public:
    explicit ControlChannel(QObject* parent = nullptr);
    static void emitEvent(const QString& line);

signals:
    void command(const QString& verb, const QString& argument);

private:
    void readLine();

    QSocketNotifier notifier_;
    QByteArray buffer_;
};

} // namespace quillet::player
