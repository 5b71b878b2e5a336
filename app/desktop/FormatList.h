#pragma once
#include <QColor>
#include <QComboBox>
#include <QStyledItemDelegate>

namespace quillet::desktop {

// The output format list. It draws its own items: the selected one on the
// highlight colour, the others on the window colour, a focus frame on the
// focused one, and each text in the item's own colour (its value, 0xBBGGRR),
// 4 pixels in from the left on one line centred vertically.
class FormatList : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kValueRole = Qt::UserRole + 1;
    static constexpr int kTextIndent = 4;

    explicit FormatList(QWidget* parent = nullptr);

    void setItemValue(int index, int value);
    int itemValue(int index) const;
    // The colour an item's value stands for.
    static QColor valueColour(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class FormatItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace quillet::desktop
