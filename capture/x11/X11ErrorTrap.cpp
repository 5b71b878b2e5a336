#include "capture/x11/X11ErrorTrap.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace quillet {
namespace {

struct Trapped {
    const X11ErrorTrap* owner;
    Display* display;
    int firstError;
};

std::mutex g_mutex;
std::vector<Trapped> g_trapped;
XErrorHandler g_previous = nullptr;
bool g_installed = false;

int onError(Display* display, XErrorEvent* event)
{
    XErrorHandler previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (Trapped& t : g_trapped)
            if (t.display == display) {
                if (t.firstError == 0)
                    t.firstError = event->error_code;
                return 0;
            }
        previous = g_previous;
    }
    return previous ? previous(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(_XDisplay* display) : display_(display)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_trapped.push_back(Trapped{this, display, 0});
    if (!g_installed) {
        // Installed once and left in place: handlers installed after this one
        // keep calling it when they chain to their predecessor.
        g_previous = XSetErrorHandler(onError);
        g_installed = true;
    }
}

X11ErrorTrap::~X11ErrorTrap()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_trapped.erase(std::remove_if(g_trapped.begin(), g_trapped.end(),
                                   [this](const Trapped& t) { return t.owner == this; }),
                    g_trapped.end());
}

int X11ErrorTrap::sync()
{
    XSync(display_, False);
    return take();
}

int X11ErrorTrap::take()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (Trapped& t : g_trapped)
        if (t.owner == this) {
            const int code = t.firstError;
            t.firstError = 0;
            return code;
        }
    return 0;
}

} // namespace quillet
