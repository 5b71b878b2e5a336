#include "app/desktop/SettingsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/Controls.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/Translator.h"
#include "base/BuiltinTexts.h"
#include "engine/RecordSettings.h"

namespace quillet::desktop {
namespace {

// Item values of the quality list entries (kept as the list's item data).
constexpr int kQualityValues[5] = {50, 100, 150, 200, 255};
// The largest recording size named in the screen text.
constexpr int kLargeWidth = 1920, kLargeHeight = 1080;
constexpr int kSmallWidth = 1600, kSmallHeight = 1024;
// The program that shows the sound system's settings, when installed.
constexpr const char* kSoundSettingsProgram = "pavucontrol";
// The message boxes of the rectangle checks carry this caption as it stands.
constexpr const char* kCheckCaption = "Quillet";

const QColor kRedText(255, 0, 0);
const QColor kScreenTextColour(50, 100, 50);

template <class W>
W* control(W* w, int id)
{
    setControlId(w, id);
    if (const char* text = resourceText(kSetupCaption, id)) {
        if constexpr (std::is_base_of_v<QAbstractButton, W> || std::is_same_v<W, QLabel>)
            w->setText(QString::fromUtf8(text));
        else if constexpr (std::is_same_v<W, QGroupBox>)
            w->setTitle(QString::fromUtf8(text));
    }
    return w;
}

void paintText(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::ButtonText, colour);
    w->setPalette(p);
}

} // namespace

SettingsWindow::SettingsWindow(const Language& language, SettingsFile& settings, SettingsValues& values,
                               const SettingsContext& context, const Rect& captureRect, QWidget* parent)
    : QDialog(parent), language_(language), settings_(settings), values_(values), context_(context),
      rect_(captureRect)
{
    setWindowTitle(QString::fromLatin1(kSetupCaption));
    build();
    initialise();
}

void SettingsWindow::build()
{
    auto* grid = new QGridLayout;
    quality_ = control(new QComboBox(this), 1013);
    frameRate_ = control(new QComboBox(this), 1031);
    recordSound_ = control(new QCheckBox(this), 1016);
    soundSettings_ = control(new QPushButton(this), 1032);
    source_ = control(new QComboBox(this), 1020);
    hideWhileRecording_ = control(new QCheckBox(this), 1039);
    grid->addWidget(control(new QLabel(this), 1040), 0, 0);
    grid->addWidget(quality_, 0, 1, 1, 2);
    grid->addWidget(control(new QLabel(this), 1041), 1, 0);
    grid->addWidget(frameRate_, 1, 1, 1, 2);
    grid->addWidget(recordSound_, 2, 0, 1, 2);
    grid->addWidget(soundSettings_, 2, 2);
    grid->addWidget(control(new QLabel(this), 1042), 3, 0);
    grid->addWidget(source_, 3, 1, 1, 2);
    grid->addWidget(hideWhileRecording_, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    auto* area = control(new QGroupBox(this), 1043);
    auto* areaGrid = new QGridLayout(area);
    wholeScreen_ = control(new QRadioButton(area), 1027);
    wholeScreen_->setAutoExclusive(false);
    selectWindow_ = control(new QPushButton(area), 1009);
    selectArea_ = control(new QPushButton(area), 1010);
    auto* selectRow = new QHBoxLayout;
    selectRow->addWidget(wholeScreen_);
    selectRow->addStretch(1);
    selectRow->addWidget(selectWindow_);
    selectRow->addWidget(selectArea_);
    areaGrid->addLayout(selectRow, 0, 0, 1, 8);
    const int editIds[4] = {1011, 1012, 1014, 1015};
    const int labelIds[4] = {1044, 1045, 1046, 1047};
    for (int i = 0; i < 4; ++i) {
        edits_[i] = control(new QLineEdit(area), editIds[i]);
        edits_[i]->setMaxLength(5);
        edits_[i]->setFixedWidth(edits_[i]->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
        areaGrid->addWidget(control(new QLabel(area), labelIds[i]), 1, i * 2, Qt::AlignRight);
        areaGrid->addWidget(edits_[i], 1, i * 2 + 1);
        connect(edits_[i], &QLineEdit::textEdited, this, &SettingsWindow::editsChanged);
    }
    screenText_ = control(new QLabel(area), 1007);
    paintText(screenText_, kScreenTextColour);
    areaGrid->addWidget(screenText_, 2, 0, 1, 8);

    tip_ = control(new QCheckBox(this), 1029);
    noTrayIcon_ = control(new QCheckBox(this), 1030);
    autostart_ = control(new QCheckBox(this), 1037);
    hotkeys_ = control(new QPushButton(this), 1033);
    paintText(noTrayIcon_, kRedText);
    paintText(autostart_, kRedText);
    // Only a reflection of the desktop's autostart entry: nothing here makes one.
    autostart_->setEnabled(false);
    auto* checks = new QGridLayout;
    checks->addWidget(tip_, 0, 0);
    checks->addWidget(noTrayIcon_, 0, 1);
    checks->addWidget(autostart_, 1, 0);
    checks->addWidget(hotkeys_, 1, 1, Qt::AlignLeft);

    auto* ok = control(new QPushButton(this), 1);
    auto* cancel = control(new QPushButton(this), 2);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(area);
    top->addLayout(checks);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // Area selection and the hotkey window are not part of this program yet.
    const QString later = displayText(language_.lookupMessage("later1"));
    for (QPushButton* b : {selectWindow_, selectArea_, hotkeys_}) {
        b->setEnabled(false);
        b->setToolTip(later);
    }
    const QString soundProgram = QStandardPaths::findExecutable(QString::fromLatin1(kSoundSettingsProgram));
    soundSettings_->setEnabled(!soundProgram.isEmpty());
    connect(soundSettings_, &QPushButton::clicked, this,
            [soundProgram] { QProcess::startDetached(soundProgram, {}); });
    connect(wholeScreen_, &QRadioButton::clicked, this, [this] { setRectangle(Rect{}); });
    connect(ok, &QPushButton::clicked, this, &SettingsWindow::accept);
    connect(cancel, &QPushButton::clicked, this, &SettingsWindow::reject);
}

void SettingsWindow::initialise()
{
    Translator(language_).translateWindow(this);
    adjustSize();
    const int dropWidth = sizeHint().width() * 3 / 4;
    quality_->view()->setMinimumWidth(dropWidth);
    source_->view()->setMinimumWidth(dropWidth);

    for (int i = 0; i < 5; ++i) {
        const std::string key = "Code" + std::to_string(i);
        quality_->addItem(displayText(language_.lookupMessage(key, nullptr)), kQualityValues[i]);
    }
    quality_->setCurrentIndex(values_.qualityLevel);
    for (int i = 1; i <= 4; ++i) {
        const std::string key = "FPS_" + std::to_string(i);
        frameRate_->addItem(displayText(language_.lookupMessage(key)));
    }
    frameRate_->setCurrentIndex(listIndexForFramesPerSecond(values_.framesPerSecond));

    recordSound_->setChecked(values_.recordSound);
    hideWhileRecording_->setChecked(values_.hideWhileRecording);
    noTrayIcon_->setChecked(values_.noTrayIcon);
    tip_->setChecked(settings_.tip() != 0);
    autostart_->setChecked(!context_.autostartFile.empty() && QFileInfo::exists(fromUtf8(context_.autostartFile)));

    setRectangle(rect_);
    screenText_->setText(screenText());
    fillSourceList();
}

void SettingsWindow::fillSourceList()
{
    source_->clear();
    source_->addItem(fromUtf8(language_.lookupMessage("DEFAULTA")));
    for (const std::string& name : context_.deviceNames)
        source_->addItem(fromUtf8(name));
    if (context_.computerSound)
        source_->addItem(fromUtf8(language_.lookupMessage("WAVEOUT")));
    values_.setSourceCount(source_->count() - 1);
    source_->setCurrentIndex(values_.audioSourceIndex);
}

QString SettingsWindow::screenText() const
{
    std::string text = language_.lookupMessage("FULLSIZE");
    text += std::to_string(context_.screenWidth) + "x" + std::to_string(context_.screenHeight) + "x" +
            std::to_string(context_.bitsPerPixel) + "\r\n";
    text += language_.lookupMessage("MAXSIZE");
    text += context_.largeSize ? std::to_string(kLargeWidth) + "*" + std::to_string(kLargeHeight)
                               : std::to_string(kSmallWidth) + "*" + std::to_string(kSmallHeight);
    return displayText(text);
}

void SettingsWindow::setRectangle(const Rect& rect)
{
    rect_ = rect;
    edits_[0]->setText(QString::number(rect.left));
    edits_[1]->setText(QString::number(rect.top));
    edits_[2]->setText(QString::number(rect.right - rect.left));
    edits_[3]->setText(QString::number(rect.bottom - rect.top));
    wholeScreen_->setChecked(rect.right == rect.left);
}

void SettingsWindow::editsChanged()
{
    // A typed width of 0 is the whole screen; anything else is an area.
    int width = 0;
    wholeScreen_->setChecked(parseAreaEdit(edits_[2]->text().toStdString(), &width) && width == 0);
}

int SettingsWindow::warn(const char* key, const char* caption)
{
    askUser(this, QMessageBox::Warning, QString::fromUtf8(caption), displayText(language_.lookupMessage(key)),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    return 0;
}

void SettingsWindow::accept()
{
    std::string texts[4];
    for (int i = 0; i < 4; ++i)
        texts[i] = edits_[i]->text().toStdString();
    Rect area;
    int bad = 0;
    switch (checkAreaEdits(texts, context_.screenWidth, context_.screenHeight, &area, &bad)) {
    case AreaCheck::OutOfRange:
        showStandardMessage(this, language_, displayText(language_.lookupMessage("range1")));
        edits_[bad]->setFocus();
        edits_[bad]->selectAll();
        return;
    case AreaCheck::LargerThanScreen:
        warn("Width1", kCheckCaption);
        return;
    case AreaCheck::TooSmall:
        warn("Width2", kCheckCaption);
        return;
    case AreaCheck::Accepted: break;
    }
    rect_ = area;
    SettingsChoice choice;
    choice.qualityIndex = quality_->currentIndex();
    choice.frameRateIndex = frameRate_->currentIndex();
    choice.sourceIndex = source_->currentIndex();
    choice.recordSound = recordSound_->isChecked();
    choice.hideWhileRecording = hideWhileRecording_->isChecked();
    choice.tip = tip_->isChecked();
    storeSettingsChoice(choice, &values_, settings_.store());
    QDialog::accept();
}

} // namespace quillet::desktop
