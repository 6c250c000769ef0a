// A clock the render follows instead of its own tempo: where the master's sixteenths fall on the stream's
// frames, and when it starts and stops. The render calls it on the audio thread only.
#pragma once

#include "common/FixedRing.h"
#include "common/MidiBus.h"

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
class TransportEvents : public FixedRing<TransportEvent, 16> {
  public:
    void push(TransportEvent::Kind kind, std::int64_t frame, std::int64_t sixteenth) {
        pushOverOldest({kind, frame, sixteenth});
    }
    /// The oldest change if it happens before stream frame `before`.
    bool take(std::int64_t before, TransportEvent& event) {
        return !empty() && at(0).frame < before && pop(event);
    }
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
