// The MIDI bus: two fixed rings and the frame stamps.
#include "common/MidiBus.h"

#include <algorithm>

namespace common {

int midiMessageSize(std::uint8_t status) {
    if (status < 0x80)
        return 0;
    if (status < 0xF0)
        return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF:
        return 1;
    default:
        return 0; // system exclusive and the undefined bytes
    }
}

void MidiBus::restart() {
    out_.clear();
    in_.clear();
}

void MidiBus::send(int frameInBlock, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    MidiMessage message;
    message.frame = std::max(renderFrame_ + frameInBlock, lastOutFrame_);
    message.size = static_cast<std::uint8_t>(midiMessageSize(status));
    message.bytes = {status, static_cast<std::uint8_t>(data1 & 0x7F),
                     static_cast<std::uint8_t>(data2 & 0x7F)};
    if (message.size == 0 || !out_.push(message)) {
        ++dropped_;
        return;
    }
    lastOutFrame_ = message.frame;
}

bool MidiBus::takeBefore(std::int64_t endFrame, MidiMessage& message) {
    return !out_.empty() && out_.at(0).frame < endFrame && out_.pop(message);
}

void MidiBus::arrived(std::int64_t frame, const std::uint8_t* bytes, int size) {
    if (size < 1 || size > 3 || midiMessageSize(bytes[0]) != size)
        return;
    MidiMessage message;
    message.frame = frame;
    message.size = static_cast<std::uint8_t>(size);
    std::copy(bytes, bytes + size, message.bytes.begin());
    if (!in_.push(message))
        ++dropped_;
}

} // namespace common
