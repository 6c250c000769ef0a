// The synthesiser's main window: every control, its timers, the start-up, scenes, undo of re-rolls,
// recording and the step lamps. Window thread only.
#pragma once

#include "audio/EngineSource.h"
#include "audio/PlaySync.h"
#include "common/ClockSource.h"
#include "common/Random.h"

#include <QDialog>

#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QSettings;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;

namespace common {
class WavRecorder;
}

namespace zintor {

class MessageBoxes;
class ReRollHistory;
class StepLamps;
struct SynthState;
class SynthEngine;
class DialogUnits;
struct Control;
enum class ControlGroup;

class SynthWindow : public QDialog {
    Q_OBJECT
  public:
    /// Builds the controls and starts the synth: positions, start-up phrases, then the stream.
    /// The window neither owns nor outlives engine, audio and boxes; the audio must stop before the window
    /// goes, since it plays the window's source, whose render may hand frames to the window's recorder.
    /// The stream plays on output device `deviceIndex` (an index into the output's device list).
    SynthWindow(SynthEngine& engine, audio::Output& audio, MessageBoxes& boxes, int deviceIndex = 0,
                QWidget* parent = nullptr);
    ~SynthWindow() override;

    /// The window thread's random numbers, seeded from the clock, drawn by the phrase generators.
    common::Random& windowRandom() { return windowRandom_; }

    /// The clock the steps follow ("Clock" in the window, or the program's --sync); kept in the store
    /// when one is set.
    void setClockSource(common::ClockSource source);
    common::ClockSource clockSource() const { return clockSource_; }
    /// Where the clock choice is kept for the user's next start. Null: nothing is kept.
    void setSettingsStore(QSettings* store) { store_ = store; }
    /// While a master's clock leads: BPM shows the master's tempo and cannot be set; Play shows whether
    /// the master plays. Called by the load timer.
    void refreshFollowing();

  public slots:
    /// "Steps" changed: stores stepCount 0..256, refusing more with the "Too many steps" box.
    void applyStepsText();
    /// "Set": stores samplesPerStep = 661500 / BPM for 32..1023 BPM and shows the tempo in force.
    void applyTempoText();
    /// "Play" toggled, however (click, Space, setChecked, a screen reader's Toggle): playing follows the
    /// button, the status label says which.
    void togglePlay();
    /// Every 500 ms: "cpu: %.1f%%".
    void refreshCpuLabel();
    /// Every 50 ms: the meters show the engine's peak levels.
    void refreshMeters();
    /// Opens the About dialog modally.
    void showAbout();
    /// "Save scene..." (Ctrl+S): the whole sound state, as the render will play it, to a JSON file.
    void saveScene();
    /// "Open scene..." (Ctrl+O): a refused file changes nothing and says why; an accepted one is handed
    /// to the render, which takes it whole at the next step boundary, and the controls show it.
    void openScene();
    /// Ctrl+Z and Ctrl+Shift+Z: one generator re-roll back or forward.
    void undoReRoll();
    void redoReRoll();
    /// "Record to wav" ticked or unticked, however (click, Space, setChecked, a screen reader's Toggle):
    /// asks for a file and starts, or finishes the recording.
    void recordToggled(bool ticked);
    /// Ends the dialog; a running recording is finished first, so that the file is complete.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct SliderBinding {
        QSlider* slider;
        const Control* control;
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
    void buildDrumGroups(const DialogUnits& units);
    QSlider* buildMasterGroup(const DialogUnits& units);
    QSlider* buildControlGroup(const DialogUnits& units);
    QSlider* buildTransposeGroup(const DialogUnits& units);
    void buildBottomRow(const DialogUnits& units);
    /// Every slider of one group of the control table, each under its label.
    void addControlRows(const DialogUnits& units, QGroupBox* group, ControlGroup which);
    /// Range and start position from the table; moves apply the control's mapping.
    void bindSlider(QSlider* slider, const Control& control);
    void applySlider(QSlider* slider);
    void startSynth();
    void finishRecording(bool tellFailure);
    /// Unticks "Record to wav" without acting on it.
    void untickRecordBox();
    void refreshRecording();
    /// Puts the sliders and fields at the positions of a state's values, without applying them.
    void showControls(const SynthState& state);

    SynthEngine& engine_;
    audio::Output& audio_;
    audio::EngineSource sound_; ///< what the audio output plays: the engine
    MessageBoxes& boxes_;
    common::Random windowRandom_;
    std::unique_ptr<ReRollHistory> history_;
    std::unique_ptr<common::WavRecorder> recorder_;
    bool recording_ = false;
    audio::StreamSettings stream_;

    std::vector<SliderBinding> sliders_;
    QLineEdit* stepsEdit_ = nullptr;
    QLineEdit* bpmEdit_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QCheckBox* dcFilterBox_ = nullptr;
    QLabel* cpuLabel_ = nullptr;
    QProgressBar* leftMeter_ = nullptr;
    QProgressBar* rightMeter_ = nullptr;
    QCheckBox* recordBox_ = nullptr;
    QLabel* recordSize_ = nullptr;
    StepLamps* stepLamps_ = nullptr;
    QLabel* pageLabel_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QTimer* cpuTimer_ = nullptr;
    QTimer* meterTimer_ = nullptr;
    bool shownOnce_ = false;
    QComboBox* clockList_ = nullptr;
    QPushButton* setButton_ = nullptr;

    audio::PlaySync sync_; ///< the engine's MIDI, JACK transport and the masters it can follow
    common::ClockSource clockSource_ = common::ClockSource::Internal;
    QSettings* store_ = nullptr;
};

} // namespace zintor
