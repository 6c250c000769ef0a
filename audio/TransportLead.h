// Leading JACK transport as its timebase master: the bar, beat and tick of each transport frame from the
// program's own tempo. A new position (a locate, by anyone) counts from the transport's frame 0; while it
// rolls on, a change of tempo moves on from where the song is instead of jumping. Audio thread only.
#pragma once

#include "audio/JackTransport.h"

#include <cstdint>

namespace audio {

class TransportLead {
  public:
    static constexpr double kTicksPerBeat = 1920.0;

    /// The 4/4 position of transport frame `frame` at `framesPerSixteenth` frames a sixteenth (the
    /// program's own), `frameRate` frames a second; `newPosition` when the transport was located or this
    /// is the first call since the lead began.
    Bbt position(std::uint32_t frame, bool newPosition, double framesPerSixteenth, double frameRate);

  private:
    bool started_ = false;
    std::uint32_t anchorFrame_ = 0;
    double anchorSixteenth_ = 0.0;
    double fps_ = 0.0;
};

} // namespace audio
