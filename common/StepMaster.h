// A clock the render follows instead of its own tempo: where the master's sixteenths fall on the stream's
// frames, and when it starts and stops. The render calls it on the audio thread only.
#pragma once

#include "common/MidiBus.h"

#include <array>
#include <cstdint>

namespace common {

struct TransportEvent {
    enum Kind { Play, Stop };
    Kind kind = Play;
    std::int64_t frame = 0;     ///< stream frame where it happens (may lie before the render's block)
    std::int64_t sixteenth = 0; ///< Play: the master's sixteenth that begins on `frame`, 0 = song start
};

/// The transport changes a master has heard and the render has not taken, oldest first: a fixed ring,
/// so that the audio thread never allocates. When the render takes none, the oldest go: the newest state
/// matters most.
class TransportEvents {
  public:
    static constexpr int kCapacity = 16;

    void push(TransportEvent::Kind kind, std::int64_t frame, std::int64_t sixteenth) {
        if (count_ == kCapacity)
            dropOldest(1);
        at(count_) = {kind, frame, sixteenth};
        ++count_;
    }
    /// The oldest change if it happens before stream frame `before`.
    bool take(std::int64_t before, TransportEvent& event) {
        if (count_ == 0 || at(0).frame >= before)
            return false;
        event = at(0);
        dropOldest(1);
        return true;
    }
    int size() const { return count_; }
    /// The `age`-th oldest change, 0 the oldest; 0 <= age < size().
    TransportEvent& at(int age) { return events_[static_cast<std::size_t>((head_ + age) % kCapacity)]; }
    TransportEvent& newest() { return at(count_ - 1); }
    void dropOldest(int count) {
        head_ = (head_ + count) % kCapacity;
        count_ -= count;
    }
    void dropNewest() { --count_; }
    void clear() { head_ = count_ = 0; }

  private:
    std::array<TransportEvent, kCapacity> events_{};
    int head_ = 0;
    int count_ = 0;
};

class StepMaster {
  public:
    /// Called by the render at the start of each block (`bus.renderFrame()` is the block's first frame,
    /// `frames` its length), before anything below: takes what came in.
    virtual void update(MidiBus& bus, int frames) = 0;
    /// The oldest transport change not yet taken that happens before stream frame `before`.
    virtual bool nextEvent(std::int64_t before, TransportEvent& event) = 0;
    /// Stream frame where the master's sixteenth `sixteenth` begins: heard, or predicted from the tempo
    /// when it has not come yet. Meaningful once a Play has been taken.
    virtual std::int64_t frameOfSixteenth(std::int64_t sixteenth) const = 0;
    /// The master's tempo in quarter notes a minute; 0 until it is known. Once known it stays, also when
    /// the master goes quiet.
    virtual double bpm() const = 0;

  protected:
    ~StepMaster() = default;
};

} // namespace common
