#include "app/desktop/DesktopHost.h"

#include "app/core/Language.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/StartCountdown.h"
#include "base/BuiltinTexts.h"

namespace quillet::desktop {

DesktopHost::DesktopHost(HostWindow& window, const Language& language, QObject* parent)
    : QObject(parent), window_(window), language_(language),
      inbox_(new WorkerInbox([this](const WorkerInbox::Item& item) { handle(item); }, this))
{
}

void DesktopHost::handle(const WorkerInbox::Item& item)
{
    switch (item.kind) {
    case WorkerInbox::Item::Command: window_.dispatchCommand(item.first); break;
    case WorkerInbox::Item::Notice: window_.trayCallback(item.first, item.second); break;
    case WorkerInbox::Item::SoundBuffer: window_.soundBufferDone(item.input, item.buffer); break;
    case WorkerInbox::Item::SoundFailed: window_.soundFailed(item.input); break;
    }
}

void DesktopHost::postCommand(int commandId)
{
    inbox_->post({WorkerInbox::Item::Command, commandId, 0, nullptr, nullptr});
}

void DesktopHost::postNotice(int wparam, int lparam)
{
    inbox_->post({WorkerInbox::Item::Notice, wparam, lparam, nullptr, nullptr});
}

void DesktopHost::audioBufferDone(AudioInput& input, AudioBuffer* buffer)
{
    inbox_->post({WorkerInbox::Item::SoundBuffer, 0, 0, &input, buffer});
}

void DesktopHost::audioInputFailed(AudioInput& input)
{
    inbox_->post({WorkerInbox::Item::SoundFailed, 0, 0, &input, nullptr});
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
