#include "app/desktop/Icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

#include "app/desktop/CommandIds.h"

namespace quillet::desktop {
namespace {

// Icons are drawn on a 32-unit grid and rendered at these sizes.
constexpr int kSizes[] = {16, 22, 32, 48};
constexpr qreal kGrid = 32.0;

const QColor kRed(214, 40, 40);
const QColor kDark(45, 52, 64);
const QColor kBlue(51, 133, 200);
const QColor kGreen(40, 150, 70);
const QColor kGold(232, 176, 40);

void drawRecorder(QPainter& p, bool lit)
{
    // A camera body with a lens; the lens glows red, or grey in the blink phase.
    p.setPen(Qt::NoPen);
    p.setBrush(kDark);
    p.drawRoundedRect(QRectF(2, 8, 22, 16), 3, 3);
    QPolygonF horn;
    horn << QPointF(24, 13) << QPointF(30, 9) << QPointF(30, 23) << QPointF(24, 19);
    p.drawPolygon(horn);
    p.setBrush(lit ? kRed : QColor(150, 150, 150));
    p.drawEllipse(QPointF(13, 16), 5.5, 5.5);
}

// A language's badge: its short name in white on a coloured card.
void drawBadge(QPainter& p, const QColor& card, const QString& text)
{
    p.setBrush(card);
    p.drawRoundedRect(QRectF(2, 6, 28, 20), 4, 4);
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(14);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 6, 28, 20), Qt::AlignCenter, text);
    p.setPen(Qt::NoPen);
}

void drawIcon(QPainter& p, int id)
{
    p.setPen(Qt::NoPen);
    switch (id) {
    case kIconApp: drawRecorder(p, true); break;
    case kIconAppBlink: drawRecorder(p, false); break;
    case kIconStart:
        p.setBrush(kRed);
        p.drawEllipse(QPointF(16, 16), 11, 11);
        break;
    case kIconPause:
        p.setBrush(kDark);
        p.drawRoundedRect(QRectF(8, 6, 6, 20), 1.5, 1.5);
        p.drawRoundedRect(QRectF(18, 6, 6, 20), 1.5, 1.5);
        break;
    case kIconStop:
        p.setBrush(kDark);
        p.drawRoundedRect(QRectF(7, 7, 18, 18), 2, 2);
        break;
    case kIconPlay: {
        p.setBrush(kGreen);
        QPolygonF tri;
        tri << QPointF(9, 6) << QPointF(26, 16) << QPointF(9, 26);
        p.drawPolygon(tri);
        break;
    }
    case kIconFolder: {
        p.setBrush(kGold.darker(115));
        p.drawRoundedRect(QRectF(3, 7, 11, 6), 1.5, 1.5);
        p.setBrush(kGold);
        p.drawRoundedRect(QRectF(3, 10, 26, 16), 2, 2);
        break;
    }
    case kIconAbout:
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(16, 16), 12, 12);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(16, 10), 2, 2);
        p.drawRoundedRect(QRectF(14.2, 14, 3.6, 10), 1, 1);
        break;
    case kIconSettings: {
        // A gear: a ring of teeth around a hub with a hole.
        p.setBrush(kDark);
        p.translate(16, 16);
        for (int i = 0; i < 8; ++i) {
            p.drawRoundedRect(QRectF(-2.5, -13, 5, 7), 1, 1);
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), 9, 9);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(0, 0), 3.5, 3.5);
        break;
    }
    case kIconPen: {
        p.translate(16, 16);
        p.rotate(45);
        p.setBrush(kRed);
        p.drawRoundedRect(QRectF(-3.5, -14, 7, 20), 1, 1);
        p.setBrush(QColor(240, 210, 160));
        QPolygonF tip;
        tip << QPointF(-3.5, 6) << QPointF(3.5, 6) << QPointF(0, 13);
        p.drawPolygon(tip);
        break;
    }
    case kIconEnglish:
        drawBadge(p, QColor(30, 60, 140), QStringLiteral("EN"));
        break;
    case kIconChinese:
        drawBadge(p, QColor(200, 30, 30), QString::fromUtf8("\xe4\xb8\xad")); // the character for "middle"
        break;
    default: break;
    }
}

} // namespace

QIcon programIcon(int iconId)
{
    QIcon icon;
    for (int size : kSizes) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / kGrid, size / kGrid);
        drawIcon(p, iconId);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace quillet::desktop
