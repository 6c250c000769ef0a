// What the synth plays, as MIDI beside the sound: the clock from its steps and the notes of its seven
// voices, each on its frame of the render's block. A plain unit: audio thread only; the engine tells it
// where steps and notes begin, it keeps the clock's stretches and the notes' ends.
#pragma once

#include "common/MidiBus.h"
#include "common/MidiClockOut.h"
#include "common/MidiNotesOut.h"
#include "common/NoCopy.h"

#include <cstdint>

namespace zintor {

/// The voices as notes out, each with its fixed MIDI channel.
enum MidiVoice : int {
    kMidiLine1,
    kMidiLine2,
    kMidiSubBass,
    kMidiKick,
    kMidiHit,
    kMidiSnare,
    kMidiHat,
    kMidiVoices
};

class SynthMidiOut : common::NoCopy {
  public:
    SynthMidiOut() { reset(); }

    /// MIDI channel (1..16) of a voice: the synth lines 1 and 2, the sub bass 3, the drums 10.
    static int channelOf(int voice);
    /// General MIDI drum note of a drum voice: kick 36, hit 39 (hand clap), snare 38, hat 42 (closed).
    static int drumNoteOf(int voice);

    /// A new bus: nothing is held on it and no clock runs.
    void reset();

    /// Playing begins on `frame` at song position `position` (sixteenths): Start from 0, otherwise the
    /// position and Continue; `resumed` always continues. The clock's pulses start with the next step.
    void play(common::MidiBus& bus, int frame, std::int64_t position, bool resumed);
    /// Playing stops on `frame`: Stop, every held note released and "All notes off".
    void stop(common::MidiBus& bus, int frame);

    /// A step begins on `frame`: the clock's pulses for it. `pairs`: it is the first of a pair of steps
    /// `pairFrames` long in all, so that the pulses follow the pair and not the shuffle that splits it.
    /// Otherwise it is a lone step `stepFrames` long, unless it is the second of a pair already begun.
    void stepBegins(common::MidiBus& bus, int frame, bool pairs, std::int64_t pairFrames,
                    std::int64_t stepFrames);
    /// Voice `voice` strikes `note` on `frame`, releasing what it held; `length` frames later it lets go
    /// (−1: at its next note or when playing stops; 0: no note, the old one only released).
    void note(common::MidiBus& bus, int frame, int voice, int note, int velocity, int length);
    /// `count` playing frames from `frame` on have been rendered: the notes that end in them go out.
    void advance(common::MidiBus& bus, int frame, int count);
    /// The block of `frames` frames ends: the pulses due in it go out.
    void endBlock(common::MidiBus& bus, int frames) { clock_.sendUntil(bus, frames); }

  private:
    void sendOffsDue(common::MidiBus& bus, int frame, int count);

    common::MidiClockOut clock_;
    common::MidiNotesOut notes_;
    int stepsLeft_ = 0;      // steps of the clock's stretch still to begin
    int offIn_[kMidiVoices]; // playing frames until each voice lets go; −1 none
};

} // namespace zintor
