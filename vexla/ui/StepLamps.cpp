// Step lamps: one small rounded lamp per step, in groups of four, the playing one bright.
#include "vexla/ui/StepLamps.h"

#include <QPainter>
#include <algorithm>

namespace vexla {

StepLamps::StepLamps(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("stepLamps"));
    setAccessibleName(QStringLiteral("Playing step"));
    setAccessibleDescription(QStringLiteral("Step 1 of 16"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void StepLamps::setSteps(int count, int lit) {
    count = std::clamp(count, 1, kMaxLamps);
    lit = std::clamp(lit, 0, count - 1);
    if (count == count_ && lit == lit_)
        return;
    count_ = count;
    lit_ = lit;
    setAccessibleDescription(QStringLiteral("Step %1 of %2").arg(lit_ + 1).arg(count_));
    update();
}

void StepLamps::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Always room for 64 lamps, so that the lamps do not jump when the step count changes.
    const double slot = double(width()) / kMaxLamps;
    const double size = std::min(slot * 0.8, double(height()) - 2.0);
    const double top = (height() - size) / 2.0;
    const QColor off = palette().color(QPalette::Mid);
    const QColor beat = palette().color(QPalette::Dark);
    for (int i = 0; i < count_; ++i) {
        const QRectF lamp(i * slot + (slot - size) / 2.0, top, size, size);
        if (i == lit_) {
            painter.setPen(QColor(120, 20, 0));
            painter.setBrush(QColor(255, 96, 32));
        } else {
            painter.setPen(Qt::NoPen);
            painter.setBrush(i % 4 == 0 ? beat : off); // the beat's first step stands out
        }
        painter.drawRoundedRect(lamp, size * 0.25, size * 0.25);
    }
}

} // namespace vexla
