#include "app/desktop/Translator.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include "app/core/Language.h"
#include "app/desktop/Controls.h"

namespace quillet::desktop {
namespace {

// Window captions are read up to this many characters.
constexpr int kMaxCaptionChars = 200;

bool keepsItsText(const QWidget* w)
{
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
           qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QComboBox*>(w);
}

void setControlText(QWidget* w, const QString& text)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(text);
}

} // namespace

void Translator::translateWindow(QWidget* window) const
{
    const QString caption = window->windowTitle().left(kMaxCaptionChars);
    if (caption.isEmpty())
        return;
    const std::string section = caption.toStdString();
    const std::string title = language_.lookupText(section, "Title", nullptr);
    if (!title.empty())
        window->setWindowTitle(fromUtf8(title));
    for (QWidget* child : window->findChildren<QWidget*>()) {
        const int id = controlIdOf(child);
        if (id == 0 || keepsItsText(child) || child->isWindow())
            continue;
        const std::string text = language_.lookupText(section, "T" + std::to_string(id), nullptr);
        if (!text.empty())
            setControlText(child, fromUtf8(text));
    }
}

void Translator::translateMenu(QMenu* menu, const std::string& prefix) const
{
    const QList<QAction*> items = menu->actions();
    for (int p = 0; p < items.size(); ++p) {
        QAction* item = items[p];
        if (QMenu* nested = item->menu()) {
            translateMenu(nested, prefix + "_" + std::to_string(p));
            const std::string text = language_.lookupText(prefix, "M" + std::to_string(p), nullptr);
            if (!text.empty())
                item->setText(fromUtf8(text));
            continue;
        }
        if (item->isSeparator())
            continue; // an "M0" key would otherwise turn separators into items
        const std::string text = language_.lookupText("COMMAND", "M" + std::to_string(commandIdOf(item)), nullptr);
        if (!text.empty())
            item->setText(fromUtf8(text));
    }
}

} // namespace quillet::desktop
