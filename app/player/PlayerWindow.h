#pragma once
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/player/PictureView.h"
#include "app/player/PlayerTexts.h"
#include "app/player/SeekSlider.h"
#include "app/player/media/PlaybackEngine.h"

namespace quillet::player {

class ControlChannel;

struct PlayerOptions {
    bool fitted = false;
    bool startPaused = false;
    bool control = false; // commands on standard input, events on standard output
};

// The player's window: the picture (at its size, or fitted), play/pause, the
// seek bar, stepping by picture, the time, and a line that tells what went
// wrong with a damaged file. Keys: Space play/pause, Left/Right 5 s back or
// on, ',' and '.' one picture back or on, F fit, Home/End.
class PlayerWindow : public QWidget {
    Q_OBJECT
public:
    PlayerWindow(std::unique_ptr<PlaybackEngine> engine, const PlayerTexts& texts, const PlayerOptions& options,
                 QWidget* parent = nullptr);
    ~PlayerWindow() override;

    void start();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void present();
    void refreshControls();
    void togglePlay();
    void seekBy(int64_t ms);
    void setFitted(bool fitted);
    void onCommand(const QString& verb, const QString& argument);
    void showMessage(const std::string& text);
    int dumpPicture(const QString& path);
    int grabPicture(const QString& path);
    QSize initialSize() const;

    std::unique_ptr<PlaybackEngine> engine_;
    const PlayerTexts& texts_;
    PlayerOptions options_;
    PictureView* view_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QPushButton* backButton_ = nullptr;
    QPushButton* forwardButton_ = nullptr;
    QPushButton* fitButton_ = nullptr;
    SeekSlider* slider_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QTimer presentTimer_;
    QTimer controlsTimer_;
    ControlChannel* control_ = nullptr;
    bool dragging_ = false;
    bool playingBeforeDrag_ = false;
    bool endReported_ = false;
    bool stopShown_ = false;
};

} // namespace quillet::player
