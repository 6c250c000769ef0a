// The synthesiser's main window: every control, its timers and the start-up. Window thread only.
#pragma once

#include "common/Random.h"

#include <QDialog>

#include <functional>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;

namespace zintor {

class MessageBoxes;
class SynthAudio;
class SynthEngine;
class DialogUnits;

class SynthWindow : public QDialog {
    Q_OBJECT
  public:
    /// Builds the controls and starts the synth: positions, start-up phrases, then the stream.
    /// The window neither owns nor outlives engine, audio and boxes.
    SynthWindow(SynthEngine& engine, SynthAudio& audio, MessageBoxes& boxes, QWidget* parent = nullptr);
    ~SynthWindow() override;

    /// The window thread's random numbers, seeded from the clock, drawn by the phrase generators.
    common::Random& windowRandom() { return windowRandom_; }

  public slots:
    /// "Steps" changed: stores stepCount 0..256, refusing more with the "Too many steps" box.
    void applyStepsText();
    /// "Set": stores samplesPerStep = 661500 / BPM for 32..1023 BPM and shows the tempo in force.
    void applyTempoText();
    /// "Play" pressed: playing follows the button, the status label says which.
    void togglePlay();
    /// Every 500 ms: "cpu: %.1f%%".
    void refreshCpuLabel();
    /// Every 50 ms: the meters show the engine's peak levels.
    void refreshMeters();
    /// Opens the About dialog modally.
    void showAbout();

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct SliderBinding {
        QSlider* slider;
        std::function<void(int)> apply;
    };

    void buildControls(const DialogUnits& units);
    QGroupBox* addGroup(const DialogUnits& units, const QString& caption, const char* name, double x,
                        double y, double w, double h);
    void place(const DialogUnits& units, QWidget* widget, double x, double y, double w, double h);
    QSlider* addSliderRow(const DialogUnits& units, QGroupBox* group, const char* name,
                          const QString& caption, const QString& accessibleName, double x, double y,
                          double w);
    QPushButton* addButton(const DialogUnits& units, QWidget* parent, const char* name,
                           const QString& caption, double x, double y, double w, double h);
    void buildSynthLineGroup(const DialogUnits& units, int line, double top);
    void bindSlider(QSlider* slider, int minimum, int maximum, int initial, std::function<void(int)> apply);
    void applySlider(QSlider* slider);
    void startSynth();

    SynthEngine& engine_;
    SynthAudio& audio_;
    MessageBoxes& boxes_;
    common::Random windowRandom_;

    std::vector<SliderBinding> sliders_;
    QLineEdit* stepsEdit_ = nullptr;
    QLineEdit* bpmEdit_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* cpuLabel_ = nullptr;
    QProgressBar* leftMeter_ = nullptr;
    QProgressBar* rightMeter_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QTimer* cpuTimer_ = nullptr;
    QTimer* meterTimer_ = nullptr;
    bool shownOnce_ = false;
};

} // namespace zintor
