// Dialog units from a font's metrics.
#include "vexla/ui/DialogUnits.h"

#include <QFontMetrics>
#include <algorithm>

namespace vexla {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Average of the 52 letters, rounded to the nearest pixel.
    baseX_ = std::max(1, (letters / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

} // namespace vexla
