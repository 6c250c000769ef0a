// Converts dialog units to pixels from the window's font, so the layout scales with font and screen.
// Window thread only.
#pragma once

#include <QFont>
#include <QRect>

namespace vexla {

class DialogUnits {
  public:
    /// Base units as the classic dialog manager computes them: the average width of the Latin letters
    /// (a horizontal unit is a quarter of it) and the font height (a vertical unit is an eighth).
    explicit DialogUnits(const QFont& font);

    int x(int units) const { return (units * baseX_ + 2) / 4; }
    int y(int units) const { return (units * baseY_ + 4) / 8; }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(x(left), y(top), x(width), y(height));
    }

  private:
    int baseX_;
    int baseY_;
};

} // namespace vexla
