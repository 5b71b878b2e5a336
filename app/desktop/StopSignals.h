#pragma once
#include <QObject>

class QSocketNotifier;

namespace quillet::desktop {

// Turns the signals that ask a program to end (SIGTERM, SIGINT, SIGHUP at
// log-off) into a request on the window's thread, so a running recording is
// finalised by the normal exit instead of being cut off.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace quillet::desktop
