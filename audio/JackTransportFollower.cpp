// Following JACK transport: the periods the backend heard, turned into Play and Stop and a song position.
#include "audio/JackTransportFollower.h"

#include <algorithm>
#include <cmath>

namespace audio {
namespace {

/// A sixteenth that began less than this many frames ago begins now: the rounding of a position that
/// lies on a sixteenth's first frame cannot put it a whole sixteenth on.
constexpr double kOnTheFrame = 0.5;
/// Observations further than this from where the song was expected to be (in sixteenths) are a jump
/// of the timebase master's song, played from there; closer ones only correct the position.
constexpr double kJump = 0.5;
/// A transport up to this many sixteenths further on than the frames since the period before is taken
/// for periods missed, not for a locate.
constexpr double kMissedSixteenths = 0.5;
/// Predictions further than this many frames away are held there: far beyond any song, and the
/// rounding to an integer stays defined.
constexpr double kFarthestFrames = 1e15;
constexpr std::int64_t kFarthestSixteenth = std::int64_t{1} << 40;

} // namespace

void JackTransportFollower::update(common::MidiBus& bus, int /*frames*/) {
    if (transport_.generation() != generation_) {
        // A new stream: its frames count on, but nothing plays until its transport is heard rolling.
        generation_ = transport_.generation();
        heard_ = rolling_ = sounding_ = false;
        events_.clear();
    }
    TransportPeriod period;
    while (transport_.take(period))
        take(period);
    settleLateEvents(bus.renderFrame());
}

/// Changes the render hears late (it followed another clock meanwhile, or its blocks are long): only the
/// newest matters, and a Play a sixteenth or more late starts on the next sixteenth rather than have the
/// render rush through the ones it missed.
void JackTransportFollower::settleLateEvents(std::int64_t blockStart) {
    int late = 0;
    while (late < events_.size() && events_.at(late).frame < blockStart)
        ++late;
    if (late > 1)
        events_.dropOldest(late - 1);
    if (late == 0)
        return;
    common::TransportEvent& oldest = events_.at(0);
    if (events_.size() == 1 && oldest.kind == common::TransportEvent::Play &&
        static_cast<double>(blockStart - oldest.frame) >= fps_) {
        const double earliest = low_ + static_cast<double>(blockStart - anchorFrame_) / fps_;
        oldest.sixteenth = std::max<std::int64_t>(
            static_cast<std::int64_t>(std::ceil(std::clamp(earliest - kOnTheFrame / fps_, -1e12, 1e12))), 0);
        oldest.frame = std::max(blockStart, frameOfSixteenth(oldest.sixteenth));
    }
}

void JackTransportFollower::take(const TransportPeriod& period) {
    if (period.frameRate > 0.0)
        frameRate_ = period.frameRate;
    // Rolling on from the period before, or located (by anyone, while it rolled). A little ahead is
    // periods this client missed (the server went on without it): the song goes on where the transport
    // is, with no new start.
    const auto elapsed = static_cast<std::uint32_t>(period.streamFrame - lastStreamFrame_);
    const auto ahead = static_cast<std::int32_t>(period.position - (lastPosition_ + elapsed));
    const bool onFromBefore =
        heard_ && rolling_ && period.rolling && ahead >= 0 && ahead <= kMissedSixteenths * fps_;
    if (period.rolling) {
        std::int64_t frame = 0;
        double low = 0.0, high = 0.0, fps = 0.0;
        const bool fromMaster = observe(period, frame, low, high, fps);
        if (!onFromBefore) {
            anchor(frame, low, high, fps);
            play(period.streamFrame);
        } else if (fromMaster) {
            const double moved = static_cast<double>(frame - anchorFrame_) / fps_;
            const double slack = 0.25 / fps_;
            const double newLow = std::max(low_, low - moved);
            const double newHigh = std::min(high_, high - moved);
            if (std::abs(fps - fps_) > 1e-9 * fps_) {
                anchor(frame, low, high, fps); // a new tempo: its master says where the song is
            } else if (newLow <= newHigh + slack) {
                // Each whole tick says the song lies within a tick of it: together they say more.
                anchor(frame, std::min(newLow, newHigh) + moved, std::max(newLow, newHigh) + moved, fps_);
            } else {
                const double expected = positionAt(frame);
                anchor(frame, low, high, fps);
                if (std::abs((low + high) / 2.0 - expected) > kJump)
                    play(period.streamFrame); // the master moved its song while the frames ran on
            }
        } else if (fps != fps_ || ahead != 0) {
            // The program's own tempo changed, or periods were missed: the song goes on from where it is.
            const double at = positionAt(period.streamFrame) + ahead / fps_;
            anchor(period.streamFrame, at, at, fps);
        }
    } else if (sounding_) {
        push(common::TransportEvent::Stop, period.streamFrame,
             static_cast<std::int64_t>(std::ceil(positionAt(period.streamFrame))));
        sounding_ = false;
    }
    heard_ = true;
    rolling_ = period.rolling;
    lastStreamFrame_ = period.streamFrame;
    lastPosition_ = period.position;
}

bool JackTransportFollower::observe(const TransportPeriod& period, std::int64_t& frame, double& low,
                                    double& high, double& fps) {
    const double masterFps = period.hasBbt ? framesPerSixteenth(period.bbt, frameRate_) : 0.0;
    if (masterFps > 0.0 && std::isfinite(sixteenthOf(period.bbt))) {
        masterFps_ = fps = masterFps;
        frame = period.streamFrame - period.bbtOffset;
        low = high = sixteenthOf(period.bbt);
        if (!period.exactTick && period.bbt.ticksPerBeat > 0.0)
            high += sixteenthsPerBeat(period.bbt) / period.bbt.ticksPerBeat; // the tick was cut
        return true;
    }
    // No timebase master: the sixteenths count from the transport's frame 0, at the last master's tempo
    // when one has gone, otherwise at the program's own.
    fps = masterFps_ > 0.0 ? masterFps_ : transport_.ownFramesPerSixteenth();
    frame = period.streamFrame;
    low = high = period.position / fps;
    return false;
}

void JackTransportFollower::anchor(std::int64_t frame, double low, double high, double fps) {
    anchorFrame_ = frame;
    low_ = low;
    high_ = high;
    fps_ = fps;
}

double JackTransportFollower::positionAt(std::int64_t frame) const {
    return fps_ > 0.0 ? (low_ + high_) / 2.0 + static_cast<double>(frame - anchorFrame_) / fps_ : 0.0;
}

/// Plays from the first sixteenth that begins at `from` or later (or began less than a frame ago).
void JackTransportFollower::play(std::int64_t from) {
    const double earliest = low_ + static_cast<double>(from - anchorFrame_) / fps_;
    const auto sixteenth =
        static_cast<std::int64_t>(std::ceil(std::clamp(earliest - kOnTheFrame / fps_, -1e12, 1e12)));
    push(common::TransportEvent::Play, std::max(from, frameOfSixteenth(sixteenth)),
         std::max<std::int64_t>(sixteenth, 0));
    sounding_ = true;
}

void JackTransportFollower::push(common::TransportEvent::Kind kind, std::int64_t frame,
                                 std::int64_t sixteenth) {
    if (events_.size() > 0) // in order, also when a Play waits for its sixteenth
        frame = std::max(frame, events_.newest().frame);
    events_.push(kind, frame, sixteenth);
}

bool JackTransportFollower::nextEvent(std::int64_t before, common::TransportEvent& event) {
    return events_.take(before, event);
}

std::int64_t JackTransportFollower::frameOfSixteenth(std::int64_t sixteenth) const {
    const double fps = fps_ > 0.0 ? fps_ : transport_.ownFramesPerSixteenth();
    const double n = static_cast<double>(std::clamp(sixteenth, -kFarthestSixteenth, kFarthestSixteenth));
    const double ahead = std::clamp((n - (low_ + high_) / 2.0) * fps, -kFarthestFrames, kFarthestFrames);
    // The sixteenth's first frame is the first at or after where it begins.
    return anchorFrame_ + static_cast<std::int64_t>(std::ceil(ahead - 1e-6));
}

double JackTransportFollower::bpm() const {
    const double fps = masterFps_ > 0.0 ? masterFps_ : transport_.ownFramesPerSixteenth();
    return frameRate_ * 60.0 / (4.0 * fps);
}

} // namespace audio
