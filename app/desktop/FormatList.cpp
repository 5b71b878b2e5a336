#include "app/desktop/FormatList.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace quillet::desktop {
namespace {

void drawItemText(QPainter* p, const QRect& rect, const QString& text, int value)
{
    p->save();
    p->setPen(FormatList::valueColour(value));
    p->setBackgroundMode(Qt::TransparentMode);
    const QRect r = rect.adjusted(FormatList::kTextIndent, 0, 0, 0);
    p->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    p->restore();
}

} // namespace

FormatList::FormatList(QWidget* parent) : QComboBox(parent)
{
    setItemDelegate(new FormatItemDelegate(this));
}

void FormatList::setItemValue(int index, int value)
{
    setItemData(index, value, kValueRole);
}

int FormatList::itemValue(int index) const
{
    return itemData(index, kValueRole).toInt();
}

QColor FormatList::valueColour(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

void FormatList::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    const QString text = opt.currentText;
    opt.currentText.clear();
    p.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    if (currentIndex() >= 0)
        drawItemText(&p, field, text, itemValue(currentIndex()));
}

void FormatItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    painter->fillRect(option.rect, option.palette.color(selected ? QPalette::Highlight : QPalette::Base));
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.rect = option.rect;
        focus.state = option.state;
        focus.backgroundColor = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
        option.widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
    }
    if (index.isValid())
        drawItemText(painter, option.rect, index.data(Qt::DisplayRole).toString(),
                     index.data(FormatList::kValueRole).toInt());
}

} // namespace quillet::desktop
