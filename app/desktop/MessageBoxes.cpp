#include "app/desktop/MessageBoxes.h"

#include "app/core/Language.h"
#include "app/desktop/Controls.h"

namespace quillet::desktop {

QString displayText(const std::string& text)
{
    QString s = fromUtf8(text);
    s.remove(QChar('\r'));
    return s;
}

void showStandardMessage(QWidget* owner, const Language& language, const QString& text)
{
    askUser(owner, QMessageBox::Information, displayText(language.messageCaption()), text, QMessageBox::Ok,
            QMessageBox::Ok);
}

QMessageBox::StandardButton askUser(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setDefaultButton(defaultButton);
    // Shown while the main window is hidden (recording) it must still come up
    // over everything, as the box of a tray program does.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    const int result = box.exec();
    return static_cast<QMessageBox::StandardButton>(result);
}

} // namespace quillet::desktop
