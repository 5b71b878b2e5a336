#pragma once
#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

class QSocketNotifier;

namespace quillet {
class AudioInput;
struct AudioBuffer;
}

namespace quillet::desktop {

// What the engine's worker threads (the video thread, the sound server's
// thread) hand to the window's thread: posted commands, notices and filled
// sound buffers. Items wait in a locked queue and a wake-up file descriptor
// tells the window's event loop; they come out in the order they went in.
class WorkerInbox : public QObject {
    Q_OBJECT
public:
    struct Item {
        enum Kind { Command, Notice, SoundBuffer, SoundFailed } kind = Command;
        int first = 0;  // command number, or the notice's first parameter
        int second = 0; // the notice's second parameter
        AudioInput* input = nullptr;
        AudioBuffer* buffer = nullptr;
    };
    using Handler = std::function<void(const Item&)>;

    // handler runs on the thread that owns the inbox.
    WorkerInbox(Handler handler, QObject* parent = nullptr);
    ~WorkerInbox() override;

    // Any thread; never blocks on the window's thread.
    void post(const Item& item);

private:
    void drain();

    Handler handler_;
    std::mutex mutex_;
    std::deque<Item> items_;
    int wakeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace quillet::desktop
