#pragma once
#include <QMessageBox>
#include <QString>
#include <string>

class QWidget;

namespace quillet {
class Language;
}

namespace quillet::desktop {

// Language texts carry Windows line ends ("\r\n"); Qt wants plain ones.
QString displayText(const std::string& text);

// The program's standard message box: the text with an OK button, captioned
// "Title" of section "Quillet", owned by owner (may be null).
void showStandardMessage(QWidget* owner, const Language& language, const QString& text);

// A message box with the given buttons; returns the button pressed (the
// escape button when the box is closed otherwise).
QMessageBox::StandardButton askUser(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton);

} // namespace quillet::desktop
