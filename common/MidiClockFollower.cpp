// Following a MIDI clock master: pulses in, tempo and transport out.
#include "common/MidiClockFollower.h"

#include <algorithm>
#include <cmath>

namespace common {
namespace {

constexpr double kPulsesPerQuarter = 24.0;
/// The tempo predictions assume before one has been measured.
constexpr double kUnmeasuredBpm = 120.0;
/// Fewer pulses than this measure the tempo as a straight line: a curve through so few would follow
/// the rounding of the frames rather than the tempo.
constexpr int kCurveFrom = 12;
/// A pulse further from where the tempo put it than this share of a pulse is a surprise; this many
/// surprises in a row on the same side are a new tempo, not jitter.
constexpr double kSurpriseShare = 0.04;
constexpr int kSurprisesForNewTempo = 3;
/// A gap longer than this many pulses means the master went quiet; the clock after it starts afresh.
constexpr double kQuietPulses = 4.0;
/// Predictions further than this many frames away are held there: far beyond any song, and the
/// rounding to an integer stays defined.
constexpr double kFarthestFrames = 1e15;
constexpr std::int64_t kFarthestSixteenth = std::int64_t{1} << 40;

std::int64_t ceilDiv(std::int64_t value, std::int64_t by) {
    return value >= 0 ? (value + by - 1) / by : value / by;
}

} // namespace

MidiClockFollower::MidiClockFollower(double sampleRate)
    : sampleRate_(sampleRate > 0.0 ? sampleRate : 44100.0) {}

void MidiClockFollower::reset() {
    state_ = State::Stopped;
    sounding_ = false;
    nextSongPulse_ = songPosition_ = 0;
    history_ = {};
    newest_ = heard_ = run_ = surprises_ = 0;
    interval_ = fittedFrame_ = 0.0;
    anchorFrame_ = anchorSongPulse_ = 0;
    events_.clear();
}

void MidiClockFollower::update(MidiBus& bus, int /*frames*/) {
    MidiMessage message;
    while (bus.receive(message)) {
        switch (message.bytes[0]) {
        case midi::kClock:
            onPulse(message.frame);
            break;
        case midi::kStart:
            // The next pulse is the song's downbeat, also when the master restarts while playing.
            arm(0);
            break;
        case midi::kContinue:
            if (state_ == State::Stopped)
                arm(songPosition_ * kPulsesPerSixteenth);
            break;
        case midi::kStop:
            // Also a Stop between a Start while playing and its first pulse stops what plays.
            if (sounding_)
                events_.push(TransportEvent::Stop, message.frame, nextSongPulse_ / kPulsesPerSixteenth);
            sounding_ = false;
            // A Continue without a song position resumes on the next whole sixteenth; a second Stop
            // keeps a position set meanwhile.
            if (state_ != State::Stopped)
                songPosition_ = ceilDiv(nextSongPulse_, kPulsesPerSixteenth);
            state_ = State::Stopped;
            break;
        case midi::kSongPosition:
            // Moves where playing resumes; a master moving while it plays is ignored, as MIDI asks.
            if (state_ != State::Playing) {
                songPosition_ = message.bytes[1] | (message.bytes[2] << 7);
                if (state_ == State::Armed)
                    nextSongPulse_ = songPosition_ * kPulsesPerSixteenth;
            }
            break;
        default:
            break;
        }
    }
}

void MidiClockFollower::arm(std::int64_t songPulse) {
    state_ = State::Armed;
    nextSongPulse_ = songPulse;
    // The pulses of the play before count no more: their numbers begin again.
    for (Pulse& pulse : history_)
        pulse.songPulse = -1;
}

void MidiClockFollower::onPulse(std::int64_t frame) {
    if (heard_ > 0) {
        const double gap = static_cast<double>(frame - back(0).frame);
        // Against where the measured clock puts this pulse, not against the last pulse alone: one late
        // pulse is then one surprise, not two.
        const double miss = static_cast<double>(frame) - (fittedFrame_ + interval_);
        if (gap <= 0.0 || (interval_ > 0.0 && gap > kQuietPulses * interval_)) {
            run_ = 0; // out of order, or the first pulse after a silence: nothing to measure from
            surprises_ = 0;
        } else if (interval_ > 0.0 && std::abs(miss) > kSurpriseShare * interval_) {
            surprises_ = miss > 0.0 ? std::max(surprises_, 0) + 1 : std::min(surprises_, 0) - 1;
            if (std::abs(surprises_) >= kSurprisesForNewTempo) {
                // The master changed its tempo a few pulses ago: measure from the pulse before.
                run_ = std::min(run_, kSurprisesForNewTempo);
                surprises_ = 0;
            }
        } else {
            surprises_ = 0;
        }
    }

    std::int64_t songPulse = -1;
    if (state_ == State::Armed) {
        events_.push(TransportEvent::Play, frame, nextSongPulse_ / kPulsesPerSixteenth);
        state_ = State::Playing;
        sounding_ = true;
    }
    if (state_ == State::Playing) {
        songPulse = nextSongPulse_++;
        anchorFrame_ = frame;
        anchorSongPulse_ = songPulse;
    }

    newest_ = (newest_ + 1) % kHistory;
    history_[newest_] = {frame, songPulse};
    heard_ = std::min(heard_ + 1, kHistory);
    run_ = std::min(run_ + 1, kFitPulses);
    fittedFrame_ = static_cast<double>(frame);
    if (run_ >= 2)
        measureTempo();
}

void MidiClockFollower::measureTempo() {
    // Least squares through the run's frames against their pulse numbers, centred so that the odd
    // sums vanish. From kCurveFrom pulses on, a parabola: its slope at the newest pulse follows a
    // changing tempo where a straight line would lag half the run behind.
    const int n = run_;
    const double centre = (n - 1) / 2.0;
    const double origin = static_cast<double>(back(0).frame);
    double sumY = 0.0, sumXY = 0.0, sumXX = 0.0, sumXXY = 0.0, sumX4 = 0.0;
    for (int age = 0; age < n; ++age) {
        const double x = centre - age; // the newest pulse at +centre
        const double y = static_cast<double>(back(age).frame) - origin;
        sumY += y;
        sumXY += x * y;
        sumXX += x * x;
        sumXXY += x * x * y;
        sumX4 += x * x * x * x;
    }
    double slope = sumXY / sumXX;
    double curvature = 0.0;
    if (n >= kCurveFrom) {
        curvature = (n * sumXXY - sumXX * sumY) / (n * sumX4 - sumXX * sumXX);
        slope += 2.0 * curvature * centre;
    }
    if (!std::isfinite(slope) || slope <= 0.0)
        return;
    interval_ = slope;
    // The curve's value at the newest pulse, where the next one is expected an interval on.
    const double level = (sumY - curvature * sumXX) / n;
    fittedFrame_ = origin + level + (sumXY / sumXX) * centre + curvature * centre * centre;
}

bool MidiClockFollower::nextEvent(std::int64_t before, TransportEvent& event) {
    return events_.take(before, event);
}

std::int64_t MidiClockFollower::frameOfSixteenth(std::int64_t sixteenth) const {
    // Held far beyond any song, so that counting its pulses cannot overflow.
    const std::int64_t target =
        std::clamp<std::int64_t>(sixteenth, -kFarthestSixteenth, kFarthestSixteenth) * kPulsesPerSixteenth;
    for (int age = 0; age < heard_; ++age)
        if (back(age).songPulse == target)
            return back(age).frame;

    std::int64_t frame = anchorFrame_;
    std::int64_t songPulse = anchorSongPulse_;
    if (state_ == State::Armed && heard_ > 0) {
        // Armed: the next pulse is the one the Start or Continue named.
        frame = back(0).frame;
        songPulse = nextSongPulse_ - 1;
    }
    const double interval =
        interval_ > 0.0 ? interval_ : sampleRate_ * 60.0 / (kPulsesPerQuarter * kUnmeasuredBpm);
    const double ahead =
        std::clamp(static_cast<double>(target - songPulse) * interval, -kFarthestFrames, kFarthestFrames);
    return frame + std::llround(ahead);
}

double MidiClockFollower::bpm() const {
    return interval_ > 0.0 ? sampleRate_ * 60.0 / (kPulsesPerQuarter * interval_) : 0.0;
}

} // namespace common
