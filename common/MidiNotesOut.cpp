// Notes out: note-on, note-off and the all-off of stopping.
#include "common/MidiNotesOut.h"

#include <algorithm>
#include <cmath>

namespace common {

int midiNoteOf(double hertz) {
    if (!(hertz > 0.0))
        return 0;
    // Clamped before rounding: rounding an infinite or huge value to an integer is undefined.
    const double note = 69.0 + 12.0 * std::log2(hertz / 440.0);
    return static_cast<int>(std::lround(std::clamp(note, 0.0, 127.0)));
}

int midiVelocityOf(double level) {
    if (!(level > 0.0))
        return 1;
    return static_cast<int>(std::lround(std::clamp(level * 127.0, 1.0, 127.0)));
}

void MidiNotesOut::noteOn(MidiBus& bus, int frameInBlock, int voice, int channel, int note, int velocity) {
    if (voice < 0 || voice >= kVoices || channel < 1 || channel > 16)
        return;
    noteOff(bus, frameInBlock, voice);
    const auto status = static_cast<std::uint8_t>(midi::kNoteOn | (channel - 1));
    bus.send(frameInBlock, status, static_cast<std::uint8_t>(std::clamp(note, 0, 127)),
             static_cast<std::uint8_t>(std::clamp(velocity, 1, 127)));
    voices_[voice] = {channel, std::clamp(note, 0, 127)};
    channelsUsed_ |= static_cast<std::uint16_t>(1u << (channel - 1));
}

void MidiNotesOut::noteOff(MidiBus& bus, int frameInBlock, int voice) {
    if (voice < 0 || voice >= kVoices || voices_[voice].note < 0)
        return;
    const Held held = voices_[voice];
    bus.send(frameInBlock, static_cast<std::uint8_t>(midi::kNoteOff | (held.channel - 1)),
             static_cast<std::uint8_t>(held.note), 0);
    voices_[voice].note = -1;
}

void MidiNotesOut::allOff(MidiBus& bus, int frameInBlock) {
    for (int voice = 0; voice < kVoices; ++voice)
        noteOff(bus, frameInBlock, voice);
    for (int channel = 0; channel < 16; ++channel) {
        if (channelsUsed_ & (1u << channel))
            bus.send(frameInBlock, static_cast<std::uint8_t>(midi::kControlChange | channel),
                     midi::kAllNotesOff, 0);
    }
}

} // namespace common
