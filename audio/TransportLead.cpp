// The timebase master's position: sixteenths from frames at the program's tempo.
#include "audio/TransportLead.h"

namespace audio {

Bbt TransportLead::position(std::uint32_t frame, bool newPosition, double framesPerSixteenth,
                            double frameRate) {
    if (newPosition || !started_) {
        started_ = true;
        anchorFrame_ = frame;
        anchorSixteenth_ = frame / framesPerSixteenth;
        fps_ = framesPerSixteenth;
    } else if (framesPerSixteenth != fps_) {
        // Where the old tempo has brought the song, on at the new one.
        anchorSixteenth_ += static_cast<std::int32_t>(frame - anchorFrame_) / fps_;
        anchorFrame_ = frame;
        fps_ = framesPerSixteenth;
    }
    const double sixteenth = anchorSixteenth_ + static_cast<std::int32_t>(frame - anchorFrame_) / fps_;
    return bbtOfSixteenth(sixteenth, frameRate * 60.0 / (4.0 * fps_), kTicksPerBeat);
}

} // namespace audio
