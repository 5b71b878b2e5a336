#pragma once
#include <QObject>
#include <memory>
#include <vector>

#include "overlay/DesktopBackend.h"

namespace quillet::overlay {

class OverlayWindow;

// Picking a window with the mouse: the pointer and the keyboard are taken,
// the window under the pointer is outlined in cyan as the pointer moves, and
// a left click picks it. Escape, the right button, or a click where there is
// no window (the bare desktop) cancels.
class WindowPicker : public QObject {
    Q_OBJECT
public:
    explicit WindowPicker(DesktopBackend& desktop, QObject* parent = nullptr);
    ~WindowPicker() override;

    // Starts picking, leaving `skip` (the program's own overlays) out.
    // Returns 1, or 0 when another program holds the pointer.
    int start(const std::vector<DesktopBackend::WindowId>& skip);
    bool active() const { return active_; }
    // The outline's native window, also to be left out of picks.
    DesktopBackend::WindowId outlineId() const;

    // Fed by the owner from the backend's pointer and Escape callbacks.
    void pointer(DesktopBackend::PointerEvent event, int button, int32_t x, int32_t y);
    void escape();

signals:
    void picked(const DesktopBackend::Window& window);
    void cancelled();

private:
    void hover(int32_t x, int32_t y);
    void finish(bool pick);

    DesktopBackend& desktop_;
    std::unique_ptr<OverlayWindow> outline_;
    std::vector<DesktopBackend::WindowId> skip_;
    DesktopBackend::Window current_{};
    bool active_ = false;
};

} // namespace quillet::overlay
