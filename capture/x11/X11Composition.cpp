#include "capture/x11/X11Composition.h"

#include <X11/Xlib.h>

#include <cstdio>

namespace quillet {

bool compositionEnabled(const char* displayName)
{
    Display* display = XOpenDisplay(displayName);
    if (!display)
        return false;
    char name[32];
    std::snprintf(name, sizeof name, "_NET_WM_CM_S%d", DefaultScreen(display));
    const Atom selection = XInternAtom(display, name, False);
    const bool owned = selection != None && XGetSelectionOwner(display, selection) != None;
    XCloseDisplay(display);
    return owned;
}

bool disableComposition(const char* displayName)
{
    // Composition that is off cannot be switched off; composition that is on
    // has no common switch on X11. Either way nothing changed.
    (void)compositionEnabled(displayName);
    return false;
}

void releaseCaptureAcceleration() {}

} // namespace quillet
