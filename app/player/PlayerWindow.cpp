#include "app/player/PlayerWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/player/ControlChannel.h"

namespace quillet::player {

namespace {

constexpr int kControlsRefreshMs = 100;
constexpr int kPausedPollMs = 20;
constexpr int kLongestWaitMs = 40;
constexpr int64_t kSeekStepMs = 5000;

int64_t monotonicUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString timeText(int64_t ms) { return QString::fromStdString(formatMediaTime(ms)); }

} // namespace

PlayerWindow::PlayerWindow(std::unique_ptr<PlaybackEngine> engine, const PlayerTexts& texts,
                           const PlayerOptions& options, QWidget* parent)
    : QWidget(parent), engine_(std::move(engine)), texts_(texts), options_(options)
{
    const MediaInfo& info = engine_->info();
    setWindowTitle(QFileInfo(QString::fromStdString(info.path)).fileName() + QStringLiteral(" - ") +
                   texts_.text("Title"));

    view_ = new PictureView;
    scroll_ = new QScrollArea;
    scroll_->setWidget(view_);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    QPalette dark = scroll_->palette();
    dark.setColor(QPalette::Window, Qt::black);
    scroll_->setPalette(dark);
    scroll_->setBackgroundRole(QPalette::Window);

    playButton_ = new QPushButton(texts_.text("Play"));
    backButton_ = new QPushButton(QStringLiteral("|◀"));
    forwardButton_ = new QPushButton(QStringLiteral("▶|"));
    backButton_->setToolTip(texts_.text("StepBack"));
    forwardButton_->setToolTip(texts_.text("StepForward"));
    fitButton_ = new QPushButton(texts_.text("Fit"));
    fitButton_->setCheckable(true);
    slider_ = new SeekSlider;
    slider_->setRange(0, int(std::min<int64_t>(info.durationMs, INT32_MAX)));
    slider_->setSingleStep(1000);
    slider_->setPageStep(int(kSeekStepMs));
    timeLabel_ = new QLabel;
    timeLabel_->setTextFormat(Qt::PlainText);
    statusLabel_ = new QLabel;
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setWordWrap(true);
    statusLabel_->hide();
    for (QWidget* w : {static_cast<QWidget*>(playButton_), static_cast<QWidget*>(backButton_),
                       static_cast<QWidget*>(forwardButton_), static_cast<QWidget*>(fitButton_)})
        w->setFocusPolicy(Qt::NoFocus);

    auto* bar = new QHBoxLayout;
    bar->addWidget(playButton_);
    bar->addWidget(backButton_);
    bar->addWidget(forwardButton_);
    bar->addWidget(slider_, 1);
    bar->addWidget(timeLabel_);
    bar->addWidget(fitButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(4);
    layout->addWidget(scroll_, 1);
    auto* lower = new QVBoxLayout;
    lower->setContentsMargins(6, 0, 6, 0);
    lower->addLayout(bar);
    lower->addWidget(statusLabel_);
    layout->addLayout(lower);

    connect(playButton_, &QPushButton::clicked, this, &PlayerWindow::togglePlay);
    connect(backButton_, &QPushButton::clicked, this, [this] { engine_->step(-1); });
    connect(forwardButton_, &QPushButton::clicked, this, [this] { engine_->step(1); });
    connect(fitButton_, &QPushButton::toggled, this, &PlayerWindow::setFitted);
    connect(slider_, &QSlider::sliderPressed, this, [this] {
        dragging_ = true;
        playingBeforeDrag_ = engine_->playing();
        engine_->pause();
    });
    connect(slider_, &QSlider::sliderMoved, this, [this](int value) { engine_->seek(value); });
    connect(slider_, &QSlider::sliderReleased, this, [this] {
        dragging_ = false;
        engine_->seek(slider_->value());
        if (playingBeforeDrag_)
            engine_->play();
    });

    presentTimer_.setSingleShot(true);
    presentTimer_.setTimerType(Qt::PreciseTimer);
    connect(&presentTimer_, &QTimer::timeout, this, &PlayerWindow::present);
    controlsTimer_.setInterval(kControlsRefreshMs);
    connect(&controlsTimer_, &QTimer::timeout, this, &PlayerWindow::refreshControls);

    if (options_.control) {
        control_ = new ControlChannel(this);
        connect(control_, &ControlChannel::command, this, &PlayerWindow::onCommand);
    }
    if (options_.fitted) {
        fitButton_->setChecked(true);
        setFitted(true);
    }
    resize(initialSize());
}

PlayerWindow::~PlayerWindow() = default;

QSize PlayerWindow::initialSize() const
{
    const MediaInfo& info = engine_->info();
    QSize want(std::max(info.width, 480), std::max(info.height, 120));
    want.rheight() += 80; // the controls
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QSize room = s->availableGeometry().size();
        want = want.boundedTo(room);
    }
    return want;
}

void PlayerWindow::start()
{
    const MediaInfo& info = engine_->info();
    if (control_)
        ControlChannel::emitEvent(QStringLiteral("opened %1 %2x%3 duration=%4 sound=%5/%6")
                                      .arg(QString::fromStdString(info.format))
                                      .arg(info.width)
                                      .arg(info.height)
                                      .arg(info.durationMs)
                                      .arg(info.sound.sampleRate)
                                      .arg(info.sound.channels));
    engine_->start(!options_.startPaused);
    presentTimer_.start(0);
    controlsTimer_.start();
    refreshControls();
}

void PlayerWindow::present()
{
    ShownPicture shown;
    int64_t nextDue = INT64_MAX;
    if (engine_->pictureDue(shown, nextDue)) {
        view_->setPicture(shown.picture);
        view_->repaint();
        if (control_)
            ControlChannel::emitEvent(QStringLiteral("shown %1 %2 %3 %4%5")
                                          .arg(shown.timing.startMs)
                                          .arg(shown.timing.endMs)
                                          .arg(shown.timing.index)
                                          .arg(monotonicUs())
                                          .arg(shown.seekResult ? QStringLiteral(" seek") : QString()));
    }
    int wait = kPausedPollMs;
    if (engine_->playing()) {
        wait = kLongestWaitMs;
        if (nextDue != INT64_MAX)
            wait = int(std::clamp<int64_t>(nextDue - engine_->clockMs(), 1, kLongestWaitMs));
    }
    presentTimer_.start(wait);
}

void PlayerWindow::refreshControls()
{
    const MediaInfo& info = engine_->info();
    const bool playing = engine_->playing();
    view_->setSmooth(!playing);
    playButton_->setText(playing ? texts_.text("Pause") : texts_.text("Play"));
    int64_t now = engine_->clockMs();
    if (info.durationMs > 0)
        now = std::min(now, info.durationMs);
    timeLabel_->setText(timeText(now) + QStringLiteral(" / ") + timeText(info.durationMs));
    if (!dragging_) {
        const QSignalBlocker block(slider_);
        slider_->setValue(int(std::min<int64_t>(now, INT32_MAX)));
    }
    for (const std::string& m : engine_->takeMessages())
        showMessage(m);
    int64_t stopMs = 0;
    std::string reason;
    if (!stopShown_ && engine_->stoppedEarly(stopMs, reason)) {
        stopShown_ = true;
        statusLabel_->setText(texts_.text("StoppedAt").arg(timeText(stopMs)) + QLatin1Char(' ') +
                              QString::fromStdString(reason));
        statusLabel_->show();
    }
    const bool ended = engine_->atEnd();
    if (ended && !endReported_ && control_)
        ControlChannel::emitEvent(QStringLiteral("ended %1").arg(engine_->clockMs()));
    endReported_ = ended;
}

void PlayerWindow::showMessage(const std::string& text)
{
    std::fprintf(stderr, "quillet-player: %s\n", text.c_str());
    if (control_)
        ControlChannel::emitEvent(QStringLiteral("message ") + QString::fromStdString(text));
    // The place where a damaged file stopped stays on the line once shown.
    if (!stopShown_) {
        statusLabel_->setText(QString::fromStdString(text));
        statusLabel_->show();
    }
}

void PlayerWindow::togglePlay()
{
    if (engine_->playing())
        engine_->pause();
    else
        engine_->play();
    refreshControls();
}

void PlayerWindow::seekBy(int64_t ms)
{
    // A seek keeps playing or standing as it was.
    engine_->seek(engine_->shownMs() + ms);
}

void PlayerWindow::setFitted(bool fitted)
{
    scroll_->setWidgetResizable(fitted);
    view_->setFitted(fitted);
    if (fitButton_->isChecked() != fitted)
        fitButton_->setChecked(fitted);
}

void PlayerWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space: togglePlay(); break;
    case Qt::Key_Left: seekBy(-kSeekStepMs); break;
    case Qt::Key_Right: seekBy(kSeekStepMs); break;
    case Qt::Key_Comma: engine_->step(-1); break;
    case Qt::Key_Period: engine_->step(1); break;
    case Qt::Key_F: setFitted(!view_->fitted()); break;
    case Qt::Key_Home: engine_->seek(0); break;
    case Qt::Key_End: engine_->seek(engine_->info().durationMs); break;
    case Qt::Key_Escape:
    case Qt::Key_Q: close(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    refreshControls();
}

int PlayerWindow::dumpPicture(const QString& path)
{
    const std::shared_ptr<const MediaPicture>& p = view_->picture();
    if (!p)
        return 0;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return 0;
    f.write(QStringLiteral("P6\n%1 %2\n255\n").arg(p->width).arg(p->height).toLatin1());
    QByteArray row(qsizetype(p->width) * 3, 0);
    for (int32_t y = 0; y < p->height; ++y) {
        const uint8_t* src = p->row(y);
        for (int32_t x = 0; x < p->width; ++x) {
            row[3 * x] = char(src[4 * x + 2]);
            row[3 * x + 1] = char(src[4 * x + 1]);
            row[3 * x + 2] = char(src[4 * x]);
        }
        f.write(row);
    }
    return f.error() == QFile::NoError ? 1 : 0;
}

int PlayerWindow::grabPicture(const QString& path)
{
    // What the display shows where the picture is painted, read back from
    // the screen rather than rendered again.
    QScreen* screen = view_->screen();
    if (!screen)
        return 0;
    const QRect r = view_->pictureRect().intersected(view_->rect());
    const QPoint at = view_->mapToGlobal(r.topLeft());
    const QPixmap shot = screen->grabWindow(0, at.x(), at.y(), r.width(), r.height());
    return !shot.isNull() && shot.save(path, "PNG") ? 1 : 0;
}

void PlayerWindow::onCommand(const QString& verb, const QString& argument)
{
    if (verb == QLatin1String("play")) {
        engine_->play();
    } else if (verb == QLatin1String("pause")) {
        engine_->pause();
    } else if (verb == QLatin1String("seek")) {
        engine_->seek(argument.toLongLong());
    } else if (verb == QLatin1String("step")) {
        engine_->step(argument.toInt() < 0 ? -1 : 1);
    } else if (verb == QLatin1String("fit")) {
        setFitted(argument == QLatin1String("on"));
    } else if (verb == QLatin1String("dump")) {
        ControlChannel::emitEvent((dumpPicture(argument) ? QStringLiteral("dumped ") : QStringLiteral("error dump ")) +
                                  argument);
        return;
    } else if (verb == QLatin1String("grab")) {
        ControlChannel::emitEvent((grabPicture(argument) ? QStringLiteral("grabbed ") : QStringLiteral("error grab ")) +
                                  argument);
        return;
    } else if (verb == QLatin1String("status")) {
        ControlChannel::emitEvent(QStringLiteral("status clock=%1 shown=%2 playing=%3 ended=%4")
                                      .arg(engine_->clockMs())
                                      .arg(engine_->shownMs())
                                      .arg(engine_->playing() ? 1 : 0)
                                      .arg(engine_->atEnd() ? 1 : 0));
        return;
    } else if (verb == QLatin1String("quit")) {
        close();
        return;
    } else {
        ControlChannel::emitEvent(QStringLiteral("error unknown command ") + verb);
        return;
    }
    refreshControls();
}

} // namespace quillet::player
