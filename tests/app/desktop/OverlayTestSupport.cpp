#include "tests/app/desktop/OverlayTestSupport.h"

#include <QColor>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

#include "app/desktop/MainWindowLayout.h"

namespace quillet::desktop::testing {
namespace fs = std::filesystem;

TestClient::TestClient(const DesktopDriver& d, const std::vector<std::string>& args) : d_(d)
{
    static int serial = 0;
    log_ = d.root / ("client" + std::to_string(++serial) + ".log");
    std::string command = std::string(QUILLET_BUILD_BIN) + "/x11_test_client";
    for (const std::string& a : args)
        command += " '" + a + "'";
    const std::string pid = d.shell(command + " > '" + log_.string() + "' 2>&1 & echo $!");
    pid_ = static_cast<pid_t>(std::atoi(pid.c_str()));
    ready_ = pid_ > 0 && waitUntil([&] { return output().find("ready") != std::string::npos; }, 5000);
}

TestClient::~TestClient() { end(); }

void TestClient::end()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        pid_ = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the server unmaps its windows
    }
}

std::string TestClient::output() const
{
    std::ifstream in(log_);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

QImage picture(const fs::path& file)
{
    return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
}

QImage screenshot(const DesktopDriver& d)
{
    static int serial = 0;
    const fs::path file = d.root / ("shot" + std::to_string(++serial) + ".png");
    d.shell("import -window root '" + file.string() + "'");
    return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
}

int countColour(const QImage& image, unsigned rgb, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, image.height()); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, image.width()); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == rgb ? 1 : 0;
    return n;
}

QRect boundsOfColour(const QImage& image, unsigned rgb)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == rgb)
                r = r.united(QRect(x, y, 1, 1));
    return r;
}

std::vector<fs::path> recordedPictures(const fs::path& folder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().extension() == ".png" || e.path().extension() == ".jpg")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string waitWindowOtherThan(const DesktopDriver& d, const std::string& nameRegex, const std::string& except,
                                int timeoutMs)
{
    std::string found;
    waitUntil(
        [&] {
            std::istringstream ids(d.shell("xdotool search --onlyvisible --name '" + nameRegex + "'"));
            std::string id;
            while (std::getline(ids, id))
                if (id != except)
                    found = id;
            return !found.empty();
        },
        timeoutMs);
    return found;
}

void drag(const DesktopDriver& d, int x0, int y0, int x1, int y1)
{
    std::ostringstream cmd;
    cmd << "xdotool mousemove " << x0 << " " << y0 << " sleep 0.1 mousedown 1";
    for (int step = 1; step <= 4; ++step)
        cmd << " sleep 0.05 mousemove " << x0 + (x1 - x0) * step / 4 << " " << y0 + (y1 - y0) * step / 4;
    cmd << " sleep 0.1 mouseup 1";
    d.shell(cmd.str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

void settingsMenuEntry(const DesktopDriver& d, const std::string& mainWindow, int entry, int scale)
{
    d.click(mainWindow, layout::kSettings.centreX() * scale, layout::kSettings.centreY() * scale);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    std::string keys;
    for (int i = 0; i < entry; ++i)
        keys += " Down";
    d.keys(keys + " Return");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
}

} // namespace quillet::desktop::testing
