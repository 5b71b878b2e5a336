#pragma once

namespace quillet::desktop {

// The five-second countdown before a recording starts: a small window over
// the screen's centre showing 5, 4, 3, 2, 1, closed before the first frame is
// taken. Runs modally: returns when it has closed.
class StartCountdown {
public:
    static constexpr int kSeconds = 5;
    static constexpr int kStepMs = 1000;

    static void run();
};

} // namespace quillet::desktop
