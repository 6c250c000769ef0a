// The loop machine's MIDI: clock and notes from the engine's steps.
#include "vexla/engine/MidiOut.h"

namespace vexla {

void MidiOut::reset() {
    clock_ = {};
    notes_ = {};
    ends_.fill(-1);
}

void MidiOut::strike(common::MidiBus& bus, int frameInBlock, Voice voice, int channel, double hertz,
                     double level) {
    notes_.noteOn(at(bus, frameInBlock), frameInBlock, voice, channel, common::midiNoteOf(hertz),
                  common::midiVelocityOf(level));
}

void MidiOut::beginStep(common::MidiBus& bus, int frameInBlock, std::int64_t stepFrames, int position,
                        const StepStrikes& strikes) {
    at(bus, frameInBlock);
    if (!clock_.playing())
        clock_.play(bus, frameInBlock, position);
    clock_.beginSteps(bus, frameInBlock, stepFrames, 1);

    // The drums' notes last a sixteenth: to the next step.
    notes_.noteOff(bus, frameInBlock, Kick);
    notes_.noteOff(bus, frameInBlock, Hats);
    if (strikes.kick > 0.0)
        notes_.noteOn(bus, frameInBlock, Kick, kDrumChannel, kKickNote, common::midiVelocityOf(strikes.kick));
    if (strikes.hats > 0.0)
        notes_.noteOn(bus, frameInBlock, Hats, kDrumChannel, kHatNote, common::midiVelocityOf(strikes.hats));

    const StepStrikes::Tone* tones[kTones] = {&strikes.bass1, &strikes.bass2, &strikes.sine};
    constexpr int kChannels[kTones] = {kBass1Channel, kBass2Channel, kSineChannel};
    for (int voice = 0; voice < kTones; ++voice) {
        const StepStrikes::Tone& tone = *tones[voice];
        if (tone.level > 0.0 && tone.frames != 0) {
            strike(bus, frameInBlock, static_cast<Voice>(voice), kChannels[voice], tone.hertz, tone.level);
            ends_[voice] = tone.frames;
        } else { // a rest: the last note ends here
            notes_.noteOff(bus, frameInBlock, voice);
            ends_[voice] = -1;
        }
    }
}

void MidiOut::run(common::MidiBus& bus, int frameInBlock, std::int64_t stepFrame, int n) {
    // The tones ending in this run, earliest first.
    for (;;) {
        int first = -1;
        for (int voice = 0; voice < kTones; ++voice)
            if (ends_[voice] >= stepFrame && ends_[voice] < stepFrame + n &&
                (first < 0 || ends_[voice] < ends_[first]))
                first = voice;
        if (first < 0)
            return;
        const int frame = frameInBlock + static_cast<int>(ends_[first] - stepFrame);
        notes_.noteOff(at(bus, frame), frame, first);
        ends_[first] = -1;
    }
}

void MidiOut::stop(common::MidiBus& bus, int frameInBlock) {
    if (!clock_.playing())
        return;
    clock_.stop(bus, frameInBlock);
    notes_.allOff(bus, frameInBlock);
    ends_.fill(-1);
}

} // namespace vexla
