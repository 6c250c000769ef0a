// Notes out: what the voices play as MIDI notes, each voice with the note it holds, so that a new note
// or the end of playing releases the old one. Audio thread.
#pragma once

#include "common/MidiBus.h"

#include <array>
#include <cstdint>

namespace common {

/// The nearest MIDI note to a frequency, 0..127 (69 is A at 440 Hz).
int midiNoteOf(double hertz);
/// A level of 0..1 as a note-on velocity, 1..127.
int midiVelocityOf(double level);

class MidiNotesOut {
  public:
    static constexpr int kVoices = 8;

    /// Voice `voice` (0..kVoices−1) strikes `note` on MIDI channel `channel` (1..16), releasing what it held.
    void noteOn(MidiBus& bus, int frameInBlock, int voice, int channel, int note, int velocity);
    /// Voice `voice` lets go of its note, if it holds one.
    void noteOff(MidiBus& bus, int frameInBlock, int voice);
    /// Every held note released, then "All notes off" on each channel a voice has used.
    void allOff(MidiBus& bus, int frameInBlock);

    /// The note voice `voice` holds, or −1.
    int held(int voice) const { return voices_[voice].note; }

  private:
    struct Held {
        int channel = 0;
        int note = -1;
    };
    std::array<Held, kVoices> voices_{};
    std::uint16_t channelsUsed_ = 0;
};

} // namespace common
