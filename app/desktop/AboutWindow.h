#pragma once
#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

namespace quillet {
class Language;
}

namespace quillet::desktop {

// The About window: the program's version and the update button, whose text
// names a newer version when the update check found one.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    AboutWindow(const Language& language, const std::string& version, QWidget* parent = nullptr);

    // Shows an offer of a newer version on the update button (and enables
    // it); an empty text keeps the button as it is.
    void setUpdateText(const QString& text);

signals:
    void updateButtonPressed();

private:
    QLabel* version_ = nullptr;
    QPushButton* update_ = nullptr;
};

} // namespace quillet::desktop
