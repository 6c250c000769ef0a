// What the loop machine plays, as MIDI: the clock from its steps and the voices' notes on their fixed
// channels. Audio thread only (the engine's render holds one).
#pragma once

#include "common/MidiBus.h"
#include "common/MidiClockOut.h"
#include "common/MidiNotesOut.h"

#include <array>
#include <cstdint>

namespace vexla {

/// What the voices strike as a step begins, as the engine has just loaded them. A level of 0 strikes
/// nothing.
struct StepStrikes {
    struct Tone {
        double hertz = 0.0;
        double level = 0.0;       ///< 0..1
        std::int64_t frames = -1; ///< the note's length from the step's start; −1: until the next note
    };
    Tone bass1, bass2, sine;
    double kick = 0.0; ///< 0..1
    double hats = 0.0; ///< 0..1
};

class MidiOut {
  public:
    // Channels 1-based, drums on General MIDI notes.
    static constexpr int kBass1Channel = 1, kBass2Channel = 2, kSineChannel = 3, kDrumChannel = 10;
    static constexpr int kKickNote = 36, kHatNote = 42;

    /// Forgets the clock and the held notes: a new bus, which has heard nothing of them.
    void reset();

    /// A step begins on frame `frameInBlock`, `stepFrames` long. Playing begins here if it had not, at song
    /// position `position` (sixteenths; Start from 0); then the clock's pulses of the step, then the notes
    /// (the drums of the step before released first).
    void beginStep(common::MidiBus& bus, int frameInBlock, std::int64_t stepFrames, int position,
                   const StepStrikes& strikes);
    /// The step's frames stepFrame .. stepFrame + n − 1 are rendered from frame `frameInBlock` on: the
    /// notes that end among them go off on their frames.
    void run(common::MidiBus& bus, int frameInBlock, std::int64_t stepFrame, int n);
    /// Playing stops on frame `frameInBlock`: Stop, and every note off.
    void stop(common::MidiBus& bus, int frameInBlock);
    /// The block is `frames` long: the clock's pulses up to its end.
    void endBlock(common::MidiBus& bus, int frames) { clock_.sendUntil(bus, frames); }

    bool playing() const { return clock_.playing(); }

  private:
    enum Voice { Bass1, Bass2, Sine, Kick, Hats, kTones = Kick };

    /// Every message goes through here: the clock's pulses before this frame go first, so that all leave
    /// in frame order.
    common::MidiBus& at(common::MidiBus& bus, int frameInBlock) {
        clock_.sendUntil(bus, frameInBlock);
        return bus;
    }
    void strike(common::MidiBus& bus, int frameInBlock, Voice voice, int channel, double hertz, double level);

    common::MidiClockOut clock_;
    common::MidiNotesOut notes_;
    /// Per tone: the frame of the step where its note ends, or −1.
    std::array<std::int64_t, kTones> ends_{-1, -1, -1};
};

} // namespace vexla
