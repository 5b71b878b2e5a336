#include "app/desktop/DesktopHost.h"

#include <QMetaObject>

#include "app/core/Language.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/StartCountdown.h"
#include "base/BuiltinTexts.h"

namespace quillet::desktop {

DesktopHost::DesktopHost(HostWindow& window, const Language& language, QObject* parent)
    : QObject(parent), window_(window), language_(language)
{
}

void DesktopHost::postCommand(int commandId)
{
    QMetaObject::invokeMethod(this, [this, commandId] { window_.dispatchCommand(commandId); }, Qt::QueuedConnection);
}

void DesktopHost::postNotice(int wparam, int lparam)
{
    QMetaObject::invokeMethod(this, [this, wparam, lparam] { window_.trayCallback(wparam, lparam); },
                              Qt::QueuedConnection);
}

void DesktopHost::audioBufferDone(AudioInput& input, AudioBuffer* buffer)
{
    // Queued events to one object keep their order, so buffers reach the
    // session in recording order.
    AudioInput* in = &input;
    QMetaObject::invokeMethod(this, [this, in, buffer] { window_.soundBufferDone(in, buffer); },
                              Qt::QueuedConnection);
}

void DesktopHost::audioInputFailed(AudioInput& input)
{
    AudioInput* in = &input;
    QMetaObject::invokeMethod(this, [this, in] { window_.soundFailed(in); }, Qt::QueuedConnection);
}

std::string DesktopHost::messageText(const char* key, const char* builtin)
{
    return language_.lookupMessage(key, builtin ? builtin : builtinMessage(key));
}

void DesktopHost::showMessage(const char*, const std::string& text)
{
    showStandardMessage(window_.messageOwner(), language_, displayText(text));
}

ConfirmAnswer DesktopHost::confirm(const std::string& text, const std::string& caption, ConfirmKind kind)
{
    const QString t = displayText(text);
    const QString c = displayText(caption);
    QWidget* owner = window_.messageOwner();
    switch (kind) {
    case ConfirmKind::OkCancel:
        return askUser(owner, QMessageBox::Information, c, t, QMessageBox::Ok | QMessageBox::Cancel,
                       QMessageBox::Ok) == QMessageBox::Ok
                   ? ConfirmAnswer::Yes
                   : ConfirmAnswer::Cancel;
    case ConfirmKind::YesNoCancel: {
        const auto b = askUser(owner, QMessageBox::Information, c, t,
                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
        return b == QMessageBox::Yes ? ConfirmAnswer::Yes : b == QMessageBox::No ? ConfirmAnswer::No
                                                                                 : ConfirmAnswer::Cancel;
    }
    case ConfirmKind::YesNo:
        break;
    }
    return askUser(owner, QMessageBox::Question, c, t, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
                   QMessageBox::Yes
               ? ConfirmAnswer::Yes
               : ConfirmAnswer::No;
}

void DesktopHost::showCountdown()
{
    StartCountdown::run();
}

void DesktopHost::showStatus(const std::string& elapsed, int trayIcon, int soundLevel)
{
    window_.showRecordingStatus(elapsed, trayIcon, soundLevel);
}

void DesktopHost::stateChanged(int state)
{
    window_.recordingStateChanged(state);
}

void DesktopHost::playRecording(const std::string& fileName, bool imageFolder)
{
    window_.playFinishedRecording(fileName, imageFolder);
}

} // namespace quillet::desktop
