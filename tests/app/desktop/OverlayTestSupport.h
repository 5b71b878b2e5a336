#pragma once
#include <QImage>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/app/desktop/DesktopDriver.h"

namespace quillet::desktop::testing {

// Another X client on the test desktop (tests/tools/x11client): a window of
// one colour, or a global key held by another program. Ended with the object.
class TestClient {
public:
    TestClient(const DesktopDriver& d, const std::vector<std::string>& args);
    ~TestClient();
    bool ready() const { return ready_; }
    // What it printed so far.
    std::string output() const;
    void end();

private:
    const DesktopDriver& d_;
    std::filesystem::path log_;
    pid_t pid_ = 0;
    bool ready_ = false;
};

// Colours the overlays draw with.
constexpr unsigned kFrameGreen = 0x00FF00; // the editable area frame
constexpr unsigned kDigitGreen = 0x00C800; // the countdown's digit
// Image recordings at the best quality are PNG pictures, five a second.
constexpr const char* kPictureSettings = "[screen]\nfps=5\nSel3=5\naudio2=4\n[Quillet]\na=0\n";

void pause(int ms);
// A recorded picture read back as 0xRRGGBB pixels.
QImage picture(const std::filesystem::path& file);

// The whole screen as it is now.
QImage screenshot(const DesktopDriver& d);
// Pixels of `rgb` (0xRRGGBB) inside the rectangle [x0, x1) × [y0, y1).
int countColour(const QImage& image, unsigned rgb, int x0, int y0, int x1, int y1);
// The bounding box of the pixels of `rgb`; empty when there are none.
QRect boundsOfColour(const QImage& image, unsigned rgb);
// The numbered pictures of an image recording, in order.
std::vector<std::filesystem::path> recordedPictures(const std::filesystem::path& folder);

// A visible window whose name matches, other than `except` (a message box
// that carries the main window's caption); "" when none shows up in time.
std::string waitWindowOtherThan(const DesktopDriver& d, const std::string& nameRegex, const std::string& except,
                                int timeoutMs = 5000);

// Drags with the left button from one point to another in a few steps.
void drag(const DesktopDriver& d, int x0, int y0, int x1, int y1);
// Opens the main window's settings menu and picks the n-th entry from the top
// (`scale`: the factor the toolkit draws the window with).
void settingsMenuEntry(const DesktopDriver& d, const std::string& mainWindow, int entry, int scale = 1);

// Entries of the settings menu.
constexpr int kMenuSelectWindow = 3;
constexpr int kMenuSelectArea = 4;

} // namespace quillet::desktop::testing
