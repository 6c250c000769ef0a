// Converts dialog-layout units to pixels from a font, as dialog templates do. Window thread only.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QRect>

#include <cmath>

namespace zintor {

class DialogUnits {
  public:
    /// One horizontal unit is a quarter of the font's average character width, one vertical unit
    /// an eighth of its line height.
    explicit DialogUnits(const QFont& font) {
        const QFontMetricsF metrics(font);
        const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        averageCharWidth_ = metrics.horizontalAdvance(alphabet) / alphabet.size();
        lineHeight_ = metrics.height();
    }

    int x(double units) const { return static_cast<int>(std::lround(units * averageCharWidth_ / 4.0)); }
    int y(double units) const { return static_cast<int>(std::lround(units * lineHeight_ / 8.0)); }

    /// Rounds both corners so that neighbouring rectangles share their edges exactly.
    QRect rect(double left, double top, double width, double height) const {
        const int l = x(left), t = y(top);
        return QRect(l, t, x(left + width) - l, y(top + height) - t);
    }

  private:
    double averageCharWidth_ = 6.0;
    double lineHeight_ = 13.0;
};

} // namespace zintor
