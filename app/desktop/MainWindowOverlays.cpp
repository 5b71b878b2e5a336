// The main window's overlays and hotkeys: area selection with its frame, the
// countdown, the screen pen, the global hotkeys and the hotkey window.
#include <QTimer>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/CommandIds.h"
#include "app/desktop/Controls.h"
#include "app/desktop/DesktopHotkeys.h"
#include "app/desktop/HotkeyWindow.h"
#include "app/desktop/MainWindow.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/SettingsWindow.h"
#include "engine/session/RecordingSession.h"
#include "overlay/AreaSelection.h"
#include "overlay/CountdownWindow.h"
#include "overlay/OverlayWindow.h"
#include "overlay/ScreenPen.h"
#include "overlay/x11/X11DesktopBackend.h"

namespace quillet::desktop {
namespace {

// A control's text of the given window section, with the program's own text.
QString windowText(const Language& language, const char* section, int id)
{
    return displayText(language.lookupText(section, "T" + std::to_string(id), resourceText(section, id)));
}

} // namespace

void MainWindow::createOverlays()
{
    desktop_ = std::make_unique<X11DesktopBackend>();
    desktop_->open();
    // Shapes exact to the physical pixel also where the toolkit scales.
    overlay::OverlayWindow::setNativeShaper([this](unsigned long id, const std::vector<Rect>& parts) {
        desktop_->shapeWindow(id, parts);
    });

    hotkeys_ = new DesktopHotkeys([this](int command) { dispatchCommand(command); }, this);
    hotkeys_->registerStored(settings_);
    for (int i = 0; i < 4; ++i)
        hotkeyTexts_[i] = hotkeys_->text(i);

    areas_ = std::make_unique<overlay::AreaSelection>(*desktop_, selectorTexts());
    connect(areas_.get(), &overlay::AreaSelection::areaChanged, this, [this](const Rect& area) {
        captureRect_ = area;
        host_.postNotice(kNoticeAreaChanged, kNoticeAreaChangedCode);
    });
    connect(areas_.get(), &overlay::AreaSelection::pickTooSmall, this,
            [this] { showStandardMessage(this, language_, displayText(language_.lookupMessage("area1"))); });
    connect(areas_.get(), &overlay::AreaSelection::recordingAreaMoved, this, [this](const Rect& area) {
        if (session_)
            session_->moveCaptureArea(area.left, area.top);
    });

    // Created hidden; the pen, tray and hotkey requests open it.
    pen_ = std::make_unique<overlay::ScreenPen>(*desktop_, penTexts());
    pen_->winId();
    areas_->addOwnWindow(pen_->nativeId());
}

overlay::RectangleSelector::Texts MainWindow::selectorTexts() const
{
    return {windowText(language_, kSelectorCaption, 1), windowText(language_, kSelectorCaption, 2),
            displayText(language_.lookupMessage("area1"))};
}

overlay::ScreenPen::Texts MainWindow::penTexts() const
{
    QString pen = windowText(language_, kPenCaption, kCmdPenToggle);
    if (!hotkeyTexts_[3].empty())
        pen += QStringLiteral("(") + fromUtf8(hotkeyTexts_[3]) + QStringLiteral(")");
    return {pen, windowText(language_, kPenCaption, kCmdPenClose)};
}

void MainWindow::translateOverlays()
{
    areas_->setTexts(selectorTexts());
    pen_->setTexts(penTexts());
}

void MainWindow::selectArea(int command)
{
    if (recordingState() != RecordingSession::Stopped)
        return;
    switch (command) {
    case kCmdWholeScreen: areas_->selectWholeScreen(); break;
    case kCmdSelectWindow: areas_->pickWindow(); break;
    case kCmdSelectArea: areas_->dragRectangle(); break;
    default: break;
    }
}

int MainWindow::areaMenuEntry()
{
    if (!areas_->frameShown())
        return kCmdWholeScreen;
    // A window is recorded when the window just inside the area's corner has
    // the area's rectangle.
    DesktopBackend::Window w;
    const Rect a = areas_->area();
    if (desktop_->windowAt(a.left + 2, a.top + 2, areas_->ownWindows(), &w) && w.rect == a)
        return kCmdSelectWindow;
    return kCmdSelectArea;
}

void MainWindow::typedAreaAccepted()
{
    if (!(captureRect_ == areas_->area()))
        areas_->showArea(captureRect_);
}

void MainWindow::connectSettingsWindow(SettingsWindow& window)
{
    connect(&window, &SettingsWindow::selectWindowRequested, this, [this] { areas_->pickWindow(); });
    connect(&window, &SettingsWindow::selectAreaRequested, this, [this] { areas_->dragRectangle(); });
}

void MainWindow::openHotkeyWindow()
{
    HotkeyWindow window(language_, settings_, this);
    window.exec();
}

void MainWindow::runCountdown()
{
    overlay::CountdownWindow countdown(desktop_->monitors().front());
    countdown.run();
}

void MainWindow::recordingAreaChosen(const Rect& area)
{
    areas_->recordingStarts(area);
}

void MainWindow::overlaysForState(int state)
{
    if (state == RecordingSession::Stopped)
        areas_->recordingEnds();
}

} // namespace quillet::desktop
