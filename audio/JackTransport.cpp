// The transport's periods and the bar, beat and tick arithmetic.
#include "audio/JackTransport.h"

#include <algorithm>
#include <cmath>

namespace audio {
namespace {

constexpr double kDefaultFramesPerSixteenth = 44100.0 * 60.0 / (120.0 * 4.0);

} // namespace

double sixteenthsPerBeat(const Bbt& bbt) {
    const double type = bbt.beatType;
    return std::isfinite(type) && type > 0.0 && type <= 64.0 ? 16.0 / type : 4.0;
}

double sixteenthOf(const Bbt& bbt) {
    const double tick = bbt.ticksPerBeat > 0.0 && std::isfinite(bbt.tick) ? bbt.tick / bbt.ticksPerBeat : 0.0;
    const double beats = (bbt.bar - 1.0) * bbt.beatsPerBar + (bbt.beat - 1.0) + tick;
    return beats * sixteenthsPerBeat(bbt);
}

double framesPerSixteenth(const Bbt& bbt, double frameRate) {
    const double perMinute = bbt.beatsPerMinute * sixteenthsPerBeat(bbt);
    if (!std::isfinite(perMinute) || perMinute <= 0.0 || !(frameRate > 0.0))
        return 0.0;
    return frameRate * 60.0 / perMinute;
}

double quarterNotesPerMinute(const Bbt& bbt) {
    return bbt.beatsPerMinute * sixteenthsPerBeat(bbt) / 4.0;
}

Bbt bbtOfSixteenth(double sixteenth, double bpm, double ticksPerBeat) {
    Bbt bbt;
    bbt.ticksPerBeat = ticksPerBeat;
    bbt.beatsPerMinute = bpm;
    const double beats = std::max(sixteenth, 0.0) / 4.0;
    const double wholeBeats = std::floor(beats);
    const auto bars = static_cast<std::int64_t>(wholeBeats / 4.0);
    bbt.bar = static_cast<int>(bars + 1);
    bbt.beat = static_cast<int>(static_cast<std::int64_t>(wholeBeats) - bars * 4 + 1);
    bbt.tick = (beats - wholeBeats) * ticksPerBeat;
    return bbt;
}

double JackTransport::ownFramesPerSixteenth() const {
    const TempoReader read = read_.load();
    const double frames = read ? read(context_.load()) : 0.0;
    return std::isfinite(frames) && frames >= 1.0 ? frames : kDefaultFramesPerSixteenth;
}

} // namespace audio
