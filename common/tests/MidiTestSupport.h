// Helpers for tests of MIDI beside the sound: a bus drained as a device would, and the messages taken
// as plain values that compare whole sequences at once. Test thread only.
#pragma once

#include "common/MidiBus.h"

#include <cstdint>
#include <ostream>
#include <vector>

namespace common::test {

/// A message taken from the bus: its frame, status byte and data bytes (0 where it has none).
struct Sent {
    std::int64_t frame;
    int status;
    int data1 = 0;
    int data2 = 0;
    bool operator==(const Sent&) const = default;
};

inline void PrintTo(const Sent& s, std::ostream* os) {
    *os << "{" << s.frame << ", 0x" << std::hex << s.status << std::dec << ", " << s.data1 << ", " << s.data2
        << "}";
}

inline Sent sentOf(const MidiMessage& m) {
    return {m.frame, m.bytes[0], m.bytes[1], m.bytes[2]};
}

/// Everything the bus holds for its output, in order.
inline std::vector<Sent> drain(MidiBus& bus) {
    std::vector<Sent> out;
    MidiMessage message;
    while (bus.takeBefore(MidiBus::kEndOfTime, message))
        out.push_back(sentOf(message));
    return out;
}

inline std::vector<std::int64_t> framesOf(const std::vector<Sent>& midi, int status) {
    std::vector<std::int64_t> frames;
    for (const Sent& m : midi)
        if (m.status == status)
            frames.push_back(m.frame);
    return frames;
}

inline bool isNoteOn(const Sent& m) {
    return (m.status & 0xF0) == midi::kNoteOn && m.data2 > 0;
}
inline bool isNoteOff(const Sent& m) {
    return (m.status & 0xF0) == midi::kNoteOff || ((m.status & 0xF0) == midi::kNoteOn && m.data2 == 0);
}
inline int channelOf(const Sent& m) {
    return (m.status & 0x0F) + 1;
}

} // namespace common::test
