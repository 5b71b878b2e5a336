#include "app/desktop/Controls.h"

#include <QAction>
#include <QMenu>
#include <QVariant>
#include <QWidget>

#include "app/desktop/ResourceTexts.h"

namespace quillet::desktop {
namespace {
constexpr const char* kIdProperty = "controlId";
}

void setControlId(QWidget* control, int id)
{
    control->setProperty(kIdProperty, id);
}

int controlIdOf(const QWidget* control)
{
    const QVariant v = control->property(kIdProperty);
    return v.isValid() ? v.toInt() : 0;
}

QWidget* findControl(const QWidget* window, int id)
{
    for (QWidget* w : window->findChildren<QWidget*>())
        if (controlIdOf(w) == id)
            return w;
    return nullptr;
}

QAction* addCommandItem(QMenu* menu, int commandId)
{
    const char* text = resourceMenuText(commandId);
    QAction* a = menu->addAction(QString::fromUtf8(text ? text : ""));
    a->setData(commandId);
    return a;
}

int commandIdOf(const QAction* action)
{
    return action->isSeparator() ? 0 : action->data().toInt();
}

QAction* findCommandItem(const QMenu* menu, int commandId)
{
    for (QAction* a : menu->actions())
        if (!a->menu() && commandIdOf(a) == commandId)
            return a;
    return nullptr;
}

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace quillet::desktop
