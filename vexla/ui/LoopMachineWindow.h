// The loop machine's main window: every control of the machine, its timers, sample loading, recording,
// settings and the quit path. Window thread only; it reaches the audio thread only through the
// engine's atomic parameters and its lock.
#pragma once

#include "audio/EngineSource.h"
#include "audio/PlaySync.h"
#include "common/Random.h"
#include "vexla/engine/ReRollHistory.h"
#include "vexla/engine/SceneState.h"
#include "vexla/ui/AudioSettings.h"

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSettings;
class QPushButton;
class QSlider;
class QTimer;

namespace common {
class WavRecorder;
}

namespace vexla {

class DialogProvider;
class LoopEngine;
struct SampleSlot;
class StepLamps;
class DialogUnits;
struct Control;

class LoopMachineWindow : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kLampTimerMs = 50;
    static constexpr int kStatusTimerMs = 500;
    /// 44100 × 60 as the tempo display has always had it: at 2000 frames per step it reads 330.7.
    static constexpr double kTempoConstant = 2645999.9084472656;

    /// Builds the controls and runs the engine's start-up with the window generator seeded by `seed`
    /// (the time in seconds in the program). No audio yet: see start().
    LoopMachineWindow(LoopEngine& engine, common::WavRecorder& recorder, audio::Output& audio,
                      DialogProvider& dialogs, std::uint32_t seed, QWidget* parent = nullptr);
    ~LoopMachineWindow() override;

    /// The rest of the start-up: the start dialog, the audio stream, the timers.
    void start();

    const AudioSettings& audioSettings() const { return settings_; }
    /// The output device the stream starts on (the program's --device), before start(); the Settings
    /// dialog then shows it chosen.
    void setDeviceIndex(int index) { settings_.deviceIndex = index; }
    /// The clock the steps follow (the program's --sync, or the Settings dialog's choice).
    void setClockSource(common::ClockSource source);
    /// Where the sound settings are kept for the user's next start: read now (a stored device found by
    /// its name among the audio output's devices), written on each OK of the Settings dialog. Null:
    /// nothing is kept.
    void setSettingsStore(QSettings* store);
    /// While a master's clock leads: the tempo shows the master's and its slider does not move. Run
    /// stays the user's: the machine plays while the master plays and Run is on. Called by the status
    /// timer.
    void refreshFollowing();

    /// Asks whether to quit; on Yes stops the audio, finishes a recording and closes the window.
    void requestQuit();

    /// "Dump output to wav" ticked or unticked, however (click, Space, setChecked, a screen reader's
    /// Toggle): asks for a file and starts a recording, or finishes it.
    void recordToggled(bool ticked);

    /// Timer work, public so that tests can drive the displays without waiting.
    void refreshLamp();
    void refreshStatus();
    /// The step lamps and the level meters, from the values the render publishes (every 50 ms).
    void refreshPlaying();

    /// "Save scene..." (Ctrl+S) and "Open scene..." (Ctrl+O): a refused file changes nothing and says why.
    void saveScene();
    void openScene();
    /// Ctrl+Z and Ctrl+Shift+Z: one re-roll back or forward.
    void undoReRoll();
    void redoReRoll();

    /// The tempo a step length plays, in beats a minute (four steps a beat).
    static double bpmOf(int samplesPerStep);
    /// The tempo display's text for a step length in frames.
    static QString tempoText(int samplesPerStep);

  public slots:
    void reject() override; // the close box and the window manager's close come here

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    struct LoaderRow {
        QPushButton* button = nullptr;
        QLabel* name = nullptr;
        SampleSlot* slot = nullptr;
    };

    void storeSettings(const std::vector<std::string>& devices);
    void startStream();
    QSlider* sliderOf(std::string_view name) const;
    void buildControls();
    void buildSliders(const DialogUnits& du);
    void buildPatternRows(const DialogUnits& du);
    void buildSamplePlayers(const DialogUnits& du);
    void buildOutputColumn(const DialogUnits& du);
    void buildBottomRow(const DialogUnits& du);
    void buildMenu();
    void orderTabsByPlace();
    QSlider* addSlider(const DialogUnits& du, const Control& control);
    QPushButton* addButton(const char* objectName, const QString& caption, QRect rect);
    QLabel* addLabel(const QString& text, QRect rect);
    void addLoader(int row, const char* objectName, const char* accessibleName, SampleSlot& slot, int x,
                   int y);
    void positionSliders();
    void applyAllSliders();
    /// Slider `index` (of the control table) moved: its value, and those of the controls that read it.
    void applyControl(std::size_t index);
    /// The value of the control a mapping also reads, from its slider; 0 without one.
    float partnerValue(const Control& control) const;

    void pressReRoll(const char* caption);
    void showControls(const ControlValues& controls);
    void tempoChanged(int samplesPerStep);
    void setStep();
    void sequence();
    void loadSample(int row);
    void openSettings();
    void showAbout();
    void finishRecording(bool tellFailure);
    /// Unticks "Dump output to wav" without acting on it.
    void untickRecordBox();

    LoopEngine& engine_;
    common::WavRecorder& recorder_;
    audio::Output& audio_;
    audio::EngineSource sound_; ///< what the audio output plays: the engine
    DialogProvider& dialogs_;
    common::Random windowRandom_;
    ReRollHistory history_;
    QString samplePaths_[5]; ///< the file each slot holds, "" for none; what a saved scene names
    AudioSettings settings_;
    QPixmap clipOnLamp_;
    QPixmap clipOffLamp_;
    bool firstShowDone_ = false;
    bool quitting_ = false;

    std::vector<QSlider*> sliders_; ///< per control of the table; nullptr for the Steps box
    QLineEdit* stepsEdit_ = nullptr;
    QLabel* tempoDisplay_ = nullptr;
    QLabel* clipLamp_ = nullptr;
    QPushButton* runButton_ = nullptr;
    QCheckBox* recordBox_ = nullptr;
    QLabel* sizeDisplay_ = nullptr;
    QLabel* cpuDisplay_ = nullptr;
    StepLamps* stepLamps_ = nullptr;
    QProgressBar* leftMeter_ = nullptr;
    QProgressBar* rightMeter_ = nullptr;
    LoaderRow loaders_[5];
    QTimer* lampTimer_ = nullptr;
    QTimer* statusTimer_ = nullptr;

    audio::PlaySync sync_; ///< the engine's MIDI, JACK transport and the masters it can follow
    QSettings* store_ = nullptr;
};

} // namespace vexla
