// Draws the program icon: an acid-green saw wave with a filter's resonant ripple on a dark panel.
#include "zintor/ui/SynthIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zintor {

QPixmap synthIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paintSynthIcon(painter, size);
    return pixmap;
}

void paintSynthIcon(QPainter& painter, double size) {
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size;

    QLinearGradient panel(0, 0, 0, s);
    panel.setColorAt(0.0, QColor(52, 40, 74));
    panel.setColorAt(1.0, QColor(18, 14, 28));
    painter.setPen(QPen(QColor(120, 100, 160), std::max(1.0, s / 32)));
    painter.setBrush(panel);
    painter.drawRoundedRect(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94), s * 0.18, s * 0.18);

    // Two saw periods whose falling edges ring like a resonant low-pass.
    QPainterPath wave;
    const double left = s * 0.14, right = s * 0.86, top = s * 0.26, bottom = s * 0.72;
    const double period = (right - left) / 2.0;
    wave.moveTo(left, bottom);
    const int points = 96;
    for (int i = 1; i <= points; ++i) {
        const double x = left + (right - left) * i / points;
        const double t = std::fmod(x - left, period) / period; // 0..1 within one period
        // A rising saw whose reset undershoots and rings out.
        const double level = t - 0.25 * std::exp(-7.0 * t) * std::cos(t * 6.2831853 * 2.5);
        wave.lineTo(x, bottom - (bottom - top) * level);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(
        QPen(QColor(170, 255, 60), std::max(1.5, s / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(wave);

    // Two level bars below, like the window's meters.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 120, 40));
    painter.drawRoundedRect(QRectF(s * 0.22, s * 0.80, s * 0.26, s * 0.07), s * 0.03, s * 0.03);
    painter.setBrush(QColor(255, 200, 60));
    painter.drawRoundedRect(QRectF(s * 0.52, s * 0.80, s * 0.18, s * 0.07), s * 0.03, s * 0.03);
}

QIcon synthIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(synthIconPixmap(size));
    return icon;
}

} // namespace zintor
