// MIDI clock out from a render's own step clock: 24 pulses a quarter note, six to each sixteenth step,
// each on its frame, with Start, Continue, Stop and the song position. Audio thread.
#pragma once

#include "common/MidiBus.h"

#include <cstdint>

namespace common {

class MidiClockOut {
  public:
    static constexpr int kPulsesPerStep = 6;

    /// `steps` sixteenths, `frames` frames long in all, begin on frame `frameInBlock` of the bus's block.
    /// Their pulses are spread as evenly as whole frames allow (pulse k on frame k × frames / pulses,
    /// rounded down), so that they never drift from the steps. Pulses a shortened stretch still owed
    /// are sent first, on its first frame: a follower counting pulses stays on the beat.
    void beginSteps(MidiBus& bus, int frameInBlock, std::int64_t frames, int steps);
    /// Sends the pulses due before frame `frameInBlock` of the block: before anything else is sent on
    /// that frame, and with the block's length at its end.
    void sendUntil(MidiBus& bus, int frameInBlock);

    /// Playing begins on frame `frameInBlock` at step `step` (before that step's stretch begins): Start
    /// from step 0, otherwise the song position and Continue; `resumed` (a pause ending) always
    /// continues.
    void play(MidiBus& bus, int frameInBlock, int step, bool resumed = false);
    /// Playing stops on frame `frameInBlock`: Stop, and no more pulses until play().
    void stop(MidiBus& bus, int frameInBlock);

    bool playing() const { return playing_; }

  private:
    bool playing_ = false;
    std::int64_t start_ = 0;  // stream frame of the stretch's first frame
    std::int64_t frames_ = 0; // its length
    int pulses_ = 0;          // pulses it holds
    int sent_ = 0;            // pulses of it sent
};

} // namespace common
