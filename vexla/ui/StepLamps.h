// A row of up to 64 step lamps, the playing step lit. Window thread only.
#pragma once

#include <QWidget>

namespace vexla {

class StepLamps : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxLamps = 64;

    explicit StepLamps(QWidget* parent = nullptr);

    /// Shows `count` lamps (1..64) with lamp `lit` (0..count − 1) on; repaints only on a change.
    void setSteps(int count, int lit);
    int count() const { return count_; }
    int lit() const { return lit_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int count_ = 16;
    int lit_ = 0;
};

} // namespace vexla
