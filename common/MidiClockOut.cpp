// MIDI clock out: the pulses of a stretch of steps on their frames.
#include "common/MidiClockOut.h"

#include <algorithm>

namespace common {

void MidiClockOut::beginSteps(MidiBus& bus, int frameInBlock, std::int64_t frames, int steps) {
    if (!playing_)
        return;
    // The stretch before sends its pulses due up to here on their own frames (the block may hold
    // several step starts); only those a shortened stretch still owes come together on this frame.
    sendUntil(bus, frameInBlock);
    for (; sent_ < pulses_; ++sent_)
        bus.send(frameInBlock, midi::kClock);
    start_ = bus.renderFrame() + frameInBlock;
    frames_ = std::max<std::int64_t>(frames, 1);
    pulses_ = kPulsesPerStep * std::max(steps, 1);
    sent_ = 0;
}

void MidiClockOut::sendUntil(MidiBus& bus, int frameInBlock) {
    const std::int64_t end = bus.renderFrame() + frameInBlock;
    while (playing_ && sent_ < pulses_) {
        const std::int64_t at = start_ + sent_ * frames_ / pulses_;
        if (at >= end)
            return;
        bus.send(static_cast<int>(at - bus.renderFrame()), midi::kClock);
        ++sent_;
    }
}

void MidiClockOut::play(MidiBus& bus, int frameInBlock, int step, bool resumed) {
    if (step == 0 && !resumed) {
        bus.send(frameInBlock, midi::kStart);
    } else {
        // Song position counts sixteenths, in 14 bits.
        const int position = std::clamp(step, 0, 0x3FFF);
        bus.send(frameInBlock, midi::kSongPosition, static_cast<std::uint8_t>(position & 0x7F),
                 static_cast<std::uint8_t>(position >> 7));
        bus.send(frameInBlock, midi::kContinue);
    }
    playing_ = true;
    pulses_ = sent_ = 0;
}

void MidiClockOut::stop(MidiBus& bus, int frameInBlock) {
    if (!playing_)
        return;
    sendUntil(bus, frameInBlock);
    bus.send(frameInBlock, midi::kStop);
    playing_ = false;
    pulses_ = sent_ = 0;
}

} // namespace common
