// The step lamps: one page of 64 lamps, the playing one lit, every fourth one marked as a beat.
#include "zintor/ui/StepLamps.h"

#include <QPainter>

#include <algorithm>

namespace zintor {

StepLamps::StepLamps(QWidget* parent) : QWidget(parent) {
    setObjectName("stepLamps");
    setAccessibleName("Playing step");
    setAccessibleDescription(pageText());
}

void StepLamps::setSteps(int stepCount, int playingStep) {
    const int steps = std::max(1, stepCount); // no steps repeats step 0
    const int step = std::clamp(playingStep, 0, 255);
    const int page = step / kLampsPerPage;
    const int first = page * kLampsPerPage;
    // A step count lowered under the playing step: the step still shows until it ends.
    const int count = std::clamp(std::max(steps, step + 1) - first, 1, kLampsPerPage);
    const int lit = step - first;
    if (page == page_ && count == count_ && lit == lit_ && steps == stepCount_)
        return;
    const bool newPage = page != page_ || count != count_ || steps != stepCount_;
    page_ = page;
    count_ = count;
    lit_ = lit;
    stepCount_ = steps;
    setAccessibleDescription(QString("Step %1 of %2").arg(step + 1).arg(steps));
    if (newPage)
        emit pageChanged(pageText());
    update();
}

QString StepLamps::pageText() const {
    const int first = page_ * kLampsPerPage;
    return QString("Steps %1-%2 of %3").arg(first + 1).arg(first + count_).arg(stepCount_);
}

void StepLamps::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double pitch = static_cast<double>(width()) / kLampsPerPage;
    const double size = std::min(pitch - 1.0, static_cast<double>(height()) - 1.0);
    const QColor off = palette().color(QPalette::Mid);
    const QColor beat = palette().color(QPalette::Dark);
    const QColor on(255, 64, 32);
    for (int i = 0; i < count_; ++i) {
        const QRectF lamp(i * pitch + (pitch - size) / 2.0, (height() - size) / 2.0, size, size);
        painter.setPen(Qt::NoPen);
        painter.setBrush(i == lit_ ? on : (i % 4 == 0 ? beat : off));
        painter.drawEllipse(lamp);
    }
}

} // namespace zintor
