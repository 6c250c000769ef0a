// Drawing of the lamps, the icon and the start picture.
#include "vexla/ui/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

namespace vexla {

namespace {

QPixmap blankPixmap(int width, int height, qreal ratio) {
    QPixmap pixmap(qRound(width * ratio), qRound(height * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A looping arrow: most of a circle with an arrow head at its end.
void drawLoopArrow(QPainter& painter, QPointF centre, qreal radius, qreal width, const QColor& colour) {
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    painter.drawArc(box, 60 * 16, 300 * 16);
    const qreal end = 60.0 * std::numbers::pi / 180.0;
    const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    QPainterPath head;
    head.moveTo(tip + QPointF(-width * 1.9, -width * 1.2));
    head.lineTo(tip + QPointF(width * 1.4, width * 0.4));
    head.lineTo(tip + QPointF(-width * 1.2, width * 1.9));
    head.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(head);
}

// Sixteen step pads on a circle; the lit ones form a four-on-the-floor pattern with an off-beat.
void drawStepRing(QPainter& painter, QPointF centre, qreal radius, qreal pad) {
    for (int step = 0; step < 16; ++step) {
        const qreal angle = (step / 16.0) * 2 * std::numbers::pi - std::numbers::pi / 2;
        const QPointF at(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        const bool lit = step % 4 == 0 || step == 6 || step == 11 || step == 14;
        const QColor colour =
            lit ? (step % 4 == 0 ? QColor(255, 176, 40) : QColor(80, 230, 200)) : QColor(60, 56, 96);
        if (lit) {
            QRadialGradient glow(at, pad * 1.6);
            glow.setColorAt(0, QColor(colour.red(), colour.green(), colour.blue(), 150));
            glow.setColorAt(1, Qt::transparent);
            painter.setPen(Qt::NoPen);
            painter.setBrush(glow);
            painter.drawEllipse(at, pad * 1.6, pad * 1.6);
        }
        painter.setPen(QPen(colour.darker(170), pad * 0.18));
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(at.x() - pad / 2, at.y() - pad / 2, pad, pad), pad * 0.25, pad * 0.25);
    }
}

} // namespace

QPixmap clipLamp(bool lit, qreal ratio) {
    QPixmap pixmap = blankPixmap(kLampWidth, kLampHeight, ratio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor body = lit ? QColor(235, 30, 30) : QColor(30, 200, 50);
    const QColor rim = lit ? QColor(110, 0, 0) : QColor(0, 90, 10);
    const QRectF lamp(0.75, 0.75, kLampWidth - 1.5, kLampHeight - 1.5);
    QRadialGradient fill(lamp.center() - QPointF(3, 2), kLampWidth * 0.7);
    fill.setColorAt(0, body.lighter(130));
    fill.setColorAt(1, body.darker(130));
    painter.setPen(QPen(rim, 1.5));
    painter.setBrush(fill);
    painter.drawRoundedRect(lamp, 4, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawEllipse(QRectF(3, 2.2, 5, 2.6));
    return pixmap;
}

void paintProgramIcon(QPainter& painter, qreal size) {
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 0, size);
    back.setColorAt(0, QColor(58, 40, 120));
    back.setColorAt(1, QColor(18, 14, 40));
    painter.setPen(Qt::NoPen);
    painter.setBrush(back);
    painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
    const QPointF centre(size / 2, size / 2);
    // Below 32 pixels the ring of pads would be a blur: the arrow alone, larger.
    const bool detailed = size >= 32;
    if (detailed)
        drawStepRing(painter, centre, size * 0.36, size * 0.1);
    drawLoopArrow(painter, centre, size * (detailed ? 0.18 : 0.28), size * (detailed ? 0.06 : 0.1),
                  QColor(255, 176, 40));
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = blankPixmap(size, size, 1.0);
        QPainter painter(&pixmap);
        paintProgramIcon(painter, size);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap startPicture(qreal ratio) {
    const qreal w = kStartPictureWidth;
    const qreal h = kStartPictureHeight;
    QPixmap pixmap = blankPixmap(kStartPictureWidth, kStartPictureHeight, ratio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient back(0, 0, 0, h);
    back.setColorAt(0, QColor(40, 26, 86));
    back.setColorAt(0.65, QColor(16, 12, 36));
    back.setColorAt(1, QColor(8, 6, 18));
    painter.fillRect(QRectF(0, 0, w, h), back);

    // A faint waveform running through the picture: the loop being played.
    QPainterPath wave;
    for (int x = 0; x <= kStartPictureWidth; ++x) {
        const qreal t = x / w;
        const qreal y =
            86 + 22 * std::sin(t * 2 * std::numbers::pi * 3) * std::exp(-std::fmod(t * 4, 1.0) * 2.2);
        if (x == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    painter.setPen(QPen(QColor(120, 90, 230, 90), 2));
    painter.drawPath(wave);

    const QPointF centre(w / 2, 86);
    painter.setPen(QPen(QColor(90, 80, 150), 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 66, 66);
    drawStepRing(painter, centre, 66, 13);
    drawLoopArrow(painter, centre, 30, 7, QColor(255, 176, 40));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 5);
    painter.setFont(title);
    painter.setPen(QColor(255, 214, 120));
    painter.drawText(QRectF(0, 160, w, 40), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("VEXLA"));

    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(11);
    subtitle.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    painter.setFont(subtitle);
    painter.setPen(QColor(160, 200, 230));
    painter.drawText(QRectF(0, 196, w, 18), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("LOOP MACHINE"));
    return pixmap;
}

} // namespace vexla
