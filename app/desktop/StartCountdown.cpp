#include "app/desktop/StartCountdown.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace quillet::desktop {
namespace {
constexpr int kSide = 160;
constexpr int kPointSize = 72;
}

void StartCountdown::run()
{
    QLabel window;
    window.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setAlignment(Qt::AlignCenter);
    window.setStyleSheet(QStringLiteral("QLabel { background: rgb(51, 133, 200); color: white; }"));
    QFont font = window.font();
    font.setPointSize(kPointSize);
    font.setBold(true);
    window.setFont(font);
    window.resize(kSide, kSide);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->geometry().center() - QPoint(kSide / 2, kSide / 2));

    int left = kSeconds;
    window.setText(QString::number(left));
    window.show();
    QEventLoop loop;
    QTimer step;
    step.setInterval(kStepMs);
    QObject::connect(&step, &QTimer::timeout, &loop, [&] {
        if (--left <= 0) {
            loop.quit();
            return;
        }
        window.setText(QString::number(left));
    });
    step.start();
    loop.exec();
    window.hide();
    // The countdown must be off the screen before the first frame is taken.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace quillet::desktop
