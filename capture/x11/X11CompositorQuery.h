#pragma once
// Whether a compositing manager runs on a screen: it owns the screen's
// _NET_WM_CM_S<n> selection. For X11 code that already holds a connection.
#include <X11/Xlib.h>

#include <cstdio>

namespace quillet {

inline bool compositorOwnsScreen(Display* display, int screen)
{
    char name[32];
    std::snprintf(name, sizeof name, "_NET_WM_CM_S%d", screen);
    const Atom selection = XInternAtom(display, name, False);
    return selection != None && XGetSelectionOwner(display, selection) != None;
}

} // namespace quillet
