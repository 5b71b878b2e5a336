#include "capture/x11/X11Composition.h"

#include "capture/x11/X11CompositorQuery.h"

namespace quillet {

bool compositionEnabled(const char* displayName)
{
    Display* display = XOpenDisplay(displayName);
    if (!display)
        return false;
    const bool owned = compositorOwnsScreen(display, DefaultScreen(display));
    XCloseDisplay(display);
    return owned;
}

bool disableComposition(const char*)
{
    // Composition that is off cannot be switched off; composition that is on
    // has no common switch on X11. Either way nothing changes, so there is
    // nothing to ask the server.
    return false;
}

void releaseCaptureAcceleration() {}

} // namespace quillet
