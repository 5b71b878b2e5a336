#include "app/desktop/HotkeyWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/Controls.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/Translator.h"
#include "engine/SettingsKeys.h"

namespace quillet::desktop {
namespace {

// Controls of the four rows (start, pause, stop, screen pen).
constexpr int kListIds[kHotkeyCount] = {1013, 1031, 1020, 1016};
constexpr int kBoxIds[kHotkeyCount] = {1011, 1005, 1014, 1015};
constexpr int kLabelIds[kHotkeyCount] = {1050, 1051, 1052, 1053};
constexpr const char* kKeys[kHotkeyCount] = {keys::kHotKeyStart, keys::kHotKeyPause, keys::kHotKeyStop,
                                            keys::kHotKeyPen};
constexpr int kUseId = 1012, kDefaultsId = 1009;

template <class W>
W* control(W* w, int id)
{
    setControlId(w, id);
    if (const char* text = resourceText(kHotkeyCaption, id)) {
        if constexpr (std::is_base_of_v<QAbstractButton, W> || std::is_same_v<W, QLabel>)
            w->setText(QString::fromUtf8(text));
    }
    return w;
}

} // namespace

int hotkeyCodeOfKey(int qtKey, bool keypad)
{
    if (keypad)
        return 0;
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    return 0;
}

HotkeyWindow::HotkeyWindow(const Language& language, SettingsFile& settings, QWidget* parent)
    : QDialog(parent), language_(language), settings_(settings)
{
    setWindowTitle(QString::fromLatin1(kHotkeyCaption));
    build();
    initialise();
}

void HotkeyWindow::build()
{
    use_ = control(new QCheckBox(this), kUseId);
    auto* grid = new QGridLayout;
    for (int i = 0; i < kHotkeyCount; ++i) {
        lists_[i] = control(new QComboBox(this), kListIds[i]);
        for (int e = 0; e < kModifierEntryCount; ++e)
            lists_[i]->addItem(QString::fromLatin1(modifierEntryText(e)));
        boxes_[i] = control(new QLineEdit(this), kBoxIds[i]);
        boxes_[i]->setReadOnly(true); // it shows the key pressed in it, nothing typed
        boxes_[i]->installEventFilter(this);
        grid->addWidget(control(new QLabel(this), kLabelIds[i]), i, 0);
        grid->addWidget(lists_[i], i, 1);
        grid->addWidget(boxes_[i], i, 2);
    }
    auto* defaults = control(new QPushButton(this), kDefaultsId);
    auto* ok = control(new QPushButton(this), 1);
    auto* cancel = control(new QPushButton(this), 2);
    ok->setDefault(true);
    ok->setAutoDefault(false);
    cancel->setAutoDefault(false);
    defaults->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addWidget(use_);
    top->addLayout(grid);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(use_, &QCheckBox::toggled, this, &HotkeyWindow::enableRows);
    connect(defaults, &QPushButton::clicked, this, &HotkeyWindow::restoreDefaults);
    connect(ok, &QPushButton::clicked, this, &HotkeyWindow::accept);
    connect(cancel, &QPushButton::clicked, this, &HotkeyWindow::reject);
}

void HotkeyWindow::initialise()
{
    Translator(language_).translateWindow(this);
    enableRows(false);
    if (settings_.hotKeysOn()) {
        use_->setChecked(true);
        enableRows(true);
    }
    for (int i = 0; i < kHotkeyCount; ++i)
        showRow(i, splitHotkeyText(settings_.hotKey(i)));
}

void HotkeyWindow::enableRows(bool on)
{
    for (int i = 0; i < kHotkeyCount; ++i) {
        lists_[i]->setEnabled(on);
        boxes_[i]->setEnabled(on);
    }
}

void HotkeyWindow::showRow(int i, const HotkeyRow& row)
{
    lists_[i]->setCurrentIndex(row.entry);
    boxes_[i]->setText(QString::fromStdString(row.key));
}

HotkeyRow HotkeyWindow::row(int i) const
{
    return HotkeyRow{lists_[i]->currentIndex(), boxes_[i]->text().toStdString()};
}

void HotkeyWindow::restoreDefaults()
{
    for (int i = 0; i < kHotkeyCount; ++i)
        showRow(i, HotkeyRow{0, defaultHotkeyText(i)});
}

bool HotkeyWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    for (int i = 0; i < kHotkeyCount; ++i) {
        if (watched != boxes_[i])
            continue;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            return false; // moving on to the next control stays possible
        HotkeyRow r = row(i);
        if (keyIntoRow(hotkeyCodeOfKey(key->key(), key->modifiers() & Qt::KeypadModifier), &r))
            showRow(i, r);
        return true; // no key reaches the box itself
    }
    return QDialog::eventFilter(watched, event);
}

void HotkeyWindow::accept()
{
    // "use" is stored even when the texts are refused below.
    settings_.store().writeInt(keys::kHotKey, keys::kHotKeysOn, use_->isChecked() ? 1 : 0);
    HotkeyRow rows[kHotkeyCount];
    for (int i = 0; i < kHotkeyCount; ++i)
        rows[i] = row(i);
    std::string texts[kHotkeyCount];
    const int distinct = composeHotkeyTexts(rows, texts);
    for (int i = 0; i < kHotkeyCount; ++i)
        lists_[i]->setCurrentIndex(rows[i].entry);
    if (!distinct) {
        showStandardMessage(this, language_, displayText(language_.lookupMessage("hotkey1")));
        return;
    }
    for (int i = 0; i < kHotkeyCount; ++i)
        settings_.store().writeString(keys::kHotKey, kKeys[i], texts[i]);
    showStandardMessage(this, language_, displayText(language_.lookupMessage("hotkey2")));
    QDialog::accept();
}

} // namespace quillet::desktop
