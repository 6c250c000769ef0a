// A row of 64 step lamps showing the page of the sequence that holds the playing step (steps 1-64,
// 65-128, …), with that step lit. Window thread only.
#pragma once

#include <QWidget>

namespace zintor {

class StepLamps : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kLampsPerPage = 64;

    explicit StepLamps(QWidget* parent = nullptr);

    /// stepCount 0..256 (0 plays step 0 only), playingStep 0..255. Repaints only on a change.
    void setSteps(int stepCount, int playingStep);

    int page() const { return page_; }   ///< 0 for steps 1-64, 1 for 65-128, …
    int count() const { return count_; } ///< lamps shown on this page, 1..64
    int lit() const { return lit_; }     ///< the lit lamp, 0..count − 1
    /// "Steps 65-128 of 200": the page's range of steps, counted from 1.
    QString pageText() const;

  signals:
    void pageChanged(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int page_ = 0;
    int count_ = 16;
    int lit_ = 0;
    int stepCount_ = 16;
};

} // namespace zintor
