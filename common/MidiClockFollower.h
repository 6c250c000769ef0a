// Following a MIDI clock master: the tempo from its 24 pulses a quarter note, and its Start, Continue,
// Stop and song position as transport changes on the frames where they take effect. Audio thread only.
#pragma once

#include "common/MidiBus.h"
#include "common/NoCopy.h"
#include "common/StepMaster.h"

#include <array>
#include <cstdint>

namespace common {

class MidiClockFollower final : public StepMaster, NoCopy {
  public:
    static constexpr int kPulsesPerSixteenth = 6;
    /// Pulses the tempo is measured over: two beats.
    static constexpr int kFitPulses = 48;
    /// Pulses remembered with their frames, so that a sixteenth heard lately is given exactly.
    static constexpr int kHistory = 64;

    /// `sampleRate` in frames a second, as the stream's frames count.
    explicit MidiClockFollower(double sampleRate = 44100.0);

    void update(MidiBus& bus, int frames) override;
    bool nextEvent(std::int64_t before, TransportEvent& event) override;
    std::int64_t frameOfSixteenth(std::int64_t sixteenth) const override;
    double bpm() const override;

    /// Forgets everything heard (the clock source chosen again): no tempo, stopped at the song's start.
    void reset();

  private:
    enum class State { Stopped, Armed, Playing };
    struct Pulse {
        std::int64_t frame = 0;
        std::int64_t songPulse = -1; // pulses since the song's start; −1 while stopped
    };

    void arm(std::int64_t songPulse);
    void onPulse(std::int64_t frame);
    void measureTempo();
    const Pulse& back(int age) const { return history_[(newest_ + kHistory - age) % kHistory]; }

    double sampleRate_;
    State state_ = State::Stopped;
    bool sounding_ = false;          // a Play went out and no Stop since
    std::int64_t nextSongPulse_ = 0; // song pulse the next pulse is, when armed or playing
    std::int64_t songPosition_ = 0;  // sixteenth a Continue resumes from

    std::array<Pulse, kHistory> history_{};
    int newest_ = 0;           // slot of the newest pulse
    int heard_ = 0;            // pulses in the history, up to kHistory
    int run_ = 0;              // newest pulses that belong to one unbroken clock, up to kFitPulses
    int surprises_ = 0;        // pulses in a row that came far from where the tempo put them, all on one side
    double interval_ = 0.0;    // frames a pulse; 0 until measured
    double fittedFrame_ = 0.0; // where the measured clock puts the newest pulse

    // The newest pulse of the song heard: predictions count on from it.
    std::int64_t anchorFrame_ = 0;
    std::int64_t anchorSongPulse_ = 0;

    TransportEvents events_;
};

} // namespace common
