// The synth's MIDI out: clock stretches, notes and their ends.
#include "zintor/engine/SynthMidiOut.h"

namespace zintor {

int SynthMidiOut::channelOf(int voice) {
    constexpr int kChannels[kMidiVoices] = {1, 2, 3, 10, 10, 10, 10};
    return voice >= 0 && voice < kMidiVoices ? kChannels[voice] : 10;
}

int SynthMidiOut::drumNoteOf(int voice) {
    switch (voice) {
    case kMidiKick:
        return 36;
    case kMidiHit:
        return 39;
    case kMidiSnare:
        return 38;
    default:
        return 42;
    }
}

void SynthMidiOut::reset() {
    clock_ = common::MidiClockOut{};
    notes_ = common::MidiNotesOut{};
    stepsLeft_ = 0;
    for (int& off : offIn_)
        off = -1;
}

void SynthMidiOut::play(common::MidiBus& bus, int frame, std::int64_t position, bool resumed) {
    clock_.sendUntil(bus, frame);
    clock_.play(bus, frame, static_cast<int>(position < 0x3FFF ? position : 0x3FFF), resumed);
    stepsLeft_ = 0; // the pulses begin with the next step's stretch
}

void SynthMidiOut::stop(common::MidiBus& bus, int frame) {
    clock_.stop(bus, frame);
    notes_.allOff(bus, frame);
    stepsLeft_ = 0;
    for (int& off : offIn_)
        off = -1;
}

void SynthMidiOut::stepBegins(common::MidiBus& bus, int frame, bool pairs, std::int64_t pairFrames,
                              std::int64_t stepFrames) {
    clock_.sendUntil(bus, frame);
    sendOffsDue(bus, frame, 1); // notes ending on this frame go before its new ones
    if (pairs) {
        clock_.beginSteps(bus, frame, pairFrames, 2);
        stepsLeft_ = 1;
    } else if (stepsLeft_ > 0) {
        --stepsLeft_; // the second of a pair: its pulses are already spread
    } else {
        clock_.beginSteps(bus, frame, stepFrames, 1);
    }
    clock_.sendUntil(bus, frame + 1); // the stretch's first pulse before the step's notes
}

void SynthMidiOut::note(common::MidiBus& bus, int frame, int voice, int note, int velocity, int length) {
    if (voice < 0 || voice >= kMidiVoices)
        return;
    clock_.sendUntil(bus, frame);
    if (length == 0) {
        notes_.noteOff(bus, frame, voice);
        offIn_[voice] = -1;
        return;
    }
    notes_.noteOn(bus, frame, voice, channelOf(voice), note, velocity);
    offIn_[voice] = length;
}

void SynthMidiOut::advance(common::MidiBus& bus, int frame, int count) {
    sendOffsDue(bus, frame, count);
    for (int& off : offIn_)
        if (off > 0)
            off = off > count ? off - count : 0;
}

// The note-offs due within `count` frames from `frame`, in frame order (the bus keeps messages in the
// order sent).
void SynthMidiOut::sendOffsDue(common::MidiBus& bus, int frame, int count) {
    for (;;) {
        int first = -1;
        for (int voice = 0; voice < kMidiVoices; ++voice)
            if (offIn_[voice] >= 0 && offIn_[voice] < count && (first < 0 || offIn_[voice] < offIn_[first]))
                first = voice;
        if (first < 0)
            return;
        const int at = frame + offIn_[first];
        clock_.sendUntil(bus, at);
        notes_.noteOff(bus, at, first);
        offIn_[first] = -1;
    }
}

} // namespace zintor
