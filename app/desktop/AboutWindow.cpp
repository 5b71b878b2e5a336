#include "app/desktop/AboutWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/Language.h"
#include "app/desktop/CommandIds.h"
#include "app/desktop/Controls.h"
#include "app/desktop/Icons.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/Translator.h"

namespace quillet::desktop {
namespace {

// The part of the version label that the version text replaces.
constexpr const char* kVersionPlaceholder = "5.--";
constexpr int kIconSize = 48;

template <class W>
W* aboutControl(W* w, int id)
{
    setControlId(w, id);
    if (const char* text = resourceText(kAboutCaption, id))
        w->setText(QString::fromUtf8(text));
    return w;
}

} // namespace

AboutWindow::AboutWindow(const Language& language, const std::string& version, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromLatin1(kAboutCaption));
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon(kIconApp).pixmap(kIconSize, kIconSize));
    version_ = aboutControl(new QLabel(this), 1050);
    auto* description = aboutControl(new QLabel(this), 1051);
    update_ = aboutControl(new QPushButton(this), 1052);
    auto* ok = aboutControl(new QPushButton(this), 1);
    ok->setDefault(true);

    auto* text = new QVBoxLayout;
    text->addWidget(version_);
    text->addWidget(description);
    auto* head = new QHBoxLayout;
    head->addWidget(icon, 0, Qt::AlignTop);
    head->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(update_);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* top = new QVBoxLayout(this);
    top->addLayout(head);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    Translator(language).translateWindow(this);
    QString label = version_->text();
    label.replace(QString::fromLatin1(kVersionPlaceholder), fromUtf8(version));
    version_->setText(label);

    // Only an offer of a newer version gives the button something to do.
    update_->setEnabled(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(update_, &QPushButton::clicked, this, &AboutWindow::updateButtonPressed);
}

void AboutWindow::setUpdateText(const QString& text)
{
    if (text.isEmpty())
        return;
    update_->setText(text);
    update_->setEnabled(true);
}

} // namespace quillet::desktop
