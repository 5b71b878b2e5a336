#pragma once
#include <QDialog>
#include <string>
#include <vector>

#include "app/desktop/SettingsValues.h"
#include "engine/ScreenFrame.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quillet {
class Language;
class SettingsFile;
}

namespace quillet::desktop {

class Translator;

// What the settings window needs to know about the machine when it opens.
struct SettingsContext {
    int screenWidth = 0;
    int screenHeight = 0;
    int bitsPerPixel = 32;
    bool largeSize = true; // selects the larger "largest supported" size text
    std::vector<std::string> deviceNames; // recording devices in list order
    bool computerSound = false;           // the list ends with the computer's sound
    std::string autostartFile;            // its existence ticks "start with the system"
};

// The settings window ("Setup"): quality level, frame rate, sound on/off and
// source, hide while recording, and the capture rectangle with its checks. OK
// validates and stores; Cancel stores nothing.
class SettingsWindow : public QDialog {
    Q_OBJECT
public:
    SettingsWindow(const Language& language, SettingsFile& settings, SettingsValues& values,
                   const SettingsContext& context, const Rect& captureRect, QWidget* parent = nullptr);

    // The rectangle as shown (and, after OK, as accepted).
    const Rect& rectangle() const { return rect_; }
    // Shows a rectangle in the four edits; ticks "whole screen" when it is empty.
    void setRectangle(const Rect& rect);

    void accept() override;

private:
    void build();
    void initialise();
    void fillSourceList();
    QString screenText() const;
    void editsChanged();
    int warn(const char* key, const char* caption);

    const Language& language_;
    SettingsFile& settings_;
    SettingsValues& values_;
    SettingsContext context_;
    Rect rect_;

    QComboBox* quality_ = nullptr;
    QComboBox* frameRate_ = nullptr;
    QCheckBox* recordSound_ = nullptr;
    QPushButton* soundSettings_ = nullptr;
    QComboBox* source_ = nullptr;
    QCheckBox* hideWhileRecording_ = nullptr;
    QRadioButton* wholeScreen_ = nullptr;
    QPushButton* selectWindow_ = nullptr;
    QPushButton* selectArea_ = nullptr;
    QLineEdit* edits_[4] = {};
    QLabel* screenText_ = nullptr;
    QCheckBox* tip_ = nullptr;
    QCheckBox* noTrayIcon_ = nullptr;
    QCheckBox* autostart_ = nullptr;
    QPushButton* hotkeys_ = nullptr;
};

} // namespace quillet::desktop
