#pragma once

namespace quillet {

// True when a compositing manager runs on the display (it owns the selection
// _NET_WM_CM_S<screen>). `displayName` nullptr means $DISPLAY; an unreachable
// display gives false.
bool compositionEnabled(const char* displayName = nullptr);

// Asks the desktop to stop compositing. X11 desktops offer no common request
// for that (each compositing manager has its own switch, if any), so this
// reports false: composition stays as it is.
bool disableComposition(const char* displayName = nullptr);

// The clean-up step at program exit. Nothing is attached to the X11 desktop
// by the capture code, so there is nothing to detach; kept so that the exit
// path is the same on every platform.
void releaseCaptureAcceleration();

} // namespace quillet
