// The settings dialog: sound device, latency, the clock the steps follow and JACK's auto-connect,
// edited on working copies until OK. Window thread only.
#pragma once

#include "vexla/ui/AudioSettings.h"

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace vexla {

class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kMinLatencyFrames = 1024;
    static constexpr int kMaxLatencyFrames = 8192;

    /// `current` seeds the working copies; `devices` are the device names in index order.
    SettingsDialog(const AudioSettings& current, const std::vector<std::string>& devices,
                   QWidget* parent = nullptr);

    /// The working copies: what OK hands back.
    AudioSettings settings() const { return working_; }

    /// The "DC filter" box: set before the dialog runs, read after OK.
    void setDcFilter(bool on);
    bool dcFilter() const;

    /// Latency in whole milliseconds as shown: the block plus the output's 40 ms mixing buffer.
    static int latencyMilliseconds(int latencyFrames);

  private:
    void latencyMoved(int position);
    void refreshLatencyDisplay();

    AudioSettings working_;
    bool ready_ = false; // keeps the slider's provisional position from overwriting the latency
    QComboBox* deviceList_;
    QSlider* latencySlider_;
    QLabel* latencyDisplay_;
    QCheckBox* dcFilterBox_;
    QComboBox* clockList_;
    QCheckBox* autoConnectBox_;
};

} // namespace vexla
