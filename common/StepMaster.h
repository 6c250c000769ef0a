// A clock the render follows instead of its own tempo: where the master's sixteenths fall on the stream's
// frames, and when it starts and stops. The render calls it on the audio thread only.
#pragma once

#include "common/MidiBus.h"

#include <cstdint>

namespace common {

struct TransportEvent {
    enum Kind { Play, Stop };
    Kind kind = Play;
    std::int64_t frame = 0;     ///< stream frame where it happens (may lie before the render's block)
    std::int64_t sixteenth = 0; ///< Play: the master's sixteenth that begins on `frame`, 0 = song start
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
