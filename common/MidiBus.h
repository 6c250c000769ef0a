// MIDI beside the sound: what the render plays, each message on the exact frame of the stream where it
// belongs, and what came in, stamped with the frame where it arrived. The render and the device meet
// here on one thread, the audio thread (the device pulls the render's frames from its own callback), so
// the queues are plain fixed rings: nothing is allocated, nothing waits.
#pragma once

#include "common/FixedRing.h"
#include "common/NoCopy.h"

#include <array>
#include <cstdint>
#include <limits>

namespace common {

struct MidiMessage {
    std::int64_t frame = 0; ///< frame of the stream, counted from the stream's start
    std::uint8_t size = 0;  ///< 1..3 bytes
    std::array<std::uint8_t, 3> bytes{};
};

/// Bytes a short message with this status byte has (1..3); 0 for system exclusive and undefined bytes.
int midiMessageSize(std::uint8_t status);

namespace midi {
inline constexpr std::uint8_t kNoteOff = 0x80, kNoteOn = 0x90, kControlChange = 0xB0;
inline constexpr std::uint8_t kSongPosition = 0xF2, kClock = 0xF8, kStart = 0xFA, kContinue = 0xFB,
                              kStop = 0xFC;
inline constexpr std::uint8_t kAllNotesOff = 123;
} // namespace midi

class MidiBus : NoCopy {
  public:
    /// Messages each direction can hold; more are dropped (and counted) rather than waited for.
    static constexpr int kCapacity = 4096;
    static constexpr std::int64_t kEndOfTime = std::numeric_limits<std::int64_t>::max();

    /// Only while no render runs (a stream opening): empties both directions. The frames count on, so
    /// that what holds frames of the render (a clock out, a follower) needs no word of it: the device
    /// takes renderFrame() as the frame of its own first period.
    void restart();

    // The render's side.
    /// The stream frame where the render's current block begins.
    std::int64_t renderFrame() const { return renderFrame_; }
    /// Puts a short message on frame `frameInBlock` of the current block. Messages go out in the order
    /// sent; one sent for an earlier frame than its predecessor goes out on the predecessor's frame.
    void send(int frameInBlock, std::uint8_t status, std::uint8_t data1 = 0, std::uint8_t data2 = 0);
    /// The render has made `frames` more frames: the next block begins after them.
    void endBlock(int frames) { renderFrame_ += frames; }
    /// The oldest message that came in and has not been read; false when none waits.
    bool receive(MidiMessage& message) { return in_.pop(message); }

    // The device's side.
    /// The oldest message to go out if it lies before stream frame `endFrame`; false otherwise.
    bool takeBefore(std::int64_t endFrame, MidiMessage& message);
    /// A message arrived on stream frame `frame`; anything that is not a whole short message is ignored.
    void arrived(std::int64_t frame, const std::uint8_t* bytes, int size);

    /// Messages dropped because a queue was full (none reads the output, say).
    std::uint64_t dropped() const { return dropped_; }

  private:
    FixedRing<MidiMessage, kCapacity> out_;
    FixedRing<MidiMessage, kCapacity> in_;
    std::int64_t renderFrame_ = 0;
    std::int64_t lastOutFrame_ = 0;
    std::uint64_t dropped_ = 0;
};

} // namespace common
