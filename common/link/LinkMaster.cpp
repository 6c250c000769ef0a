// Following a Link session: the one place that includes the Link library.
#include "common/link/LinkMaster.h"

#include <ableton/Link.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace common {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
// Link's tempo range.
constexpr double kLowestBpm = 20.0;
constexpr double kHighestBpm = 999.0;
constexpr double kUnknownBpm = 120.0;
constexpr std::int64_t kFarthestSixteenth = std::int64_t{1} << 40;
// A beat computed a hair before a whole sixteenth still begins on it.
constexpr double kBeatTolerance = 1e-6;
constexpr std::int64_t kSixteenthsPerBar = 16;

std::chrono::microseconds micros(double value) {
    return std::chrono::microseconds(std::llround(value));
}

} // namespace

struct LinkMaster::Session {
    explicit Session(double bpm) : link(bpm) {}
    ableton::Link link;
    std::optional<ableton::Link::SessionState> state; // the render's latest capture
};

LinkMaster::LinkMaster(double sampleRate)
    : sampleRate_(sampleRate > 0.0 ? sampleRate : 44100.0), clock_(sampleRate_) {}

LinkMaster::~LinkMaster() {
    if (session_)
        session_->link.enable(false);
}

void LinkMaster::open(double bpm) {
    if (session_)
        return;
    session_ = std::make_unique<Session>(bpm > 0.0 ? std::clamp(bpm, kLowestBpm, kHighestBpm) : kUnknownBpm);
    session_->link.enableStartStopSync(true);
    live_.store(session_.get(), std::memory_order_release);
}

void LinkMaster::join(double bpm) {
    open(bpm);
    session_->link.enable(true);
}

void LinkMaster::leave() {
    if (session_)
        session_->link.enable(false);
}

bool LinkMaster::joined() const {
    return session_ && session_->link.isEnabled();
}

std::size_t LinkMaster::peers() const {
    return session_ ? session_->link.numPeers() : 0;
}

void LinkMaster::requestTempo(double bpm) {
    if (!(bpm > 0.0))
        return;
    requestedBpm_.store(std::clamp(bpm, kLowestBpm, kHighestBpm), kRelaxed);
    tempoRequests_.fetch_add(1, std::memory_order_release);
}

void LinkMaster::requestPlaying(bool playing) {
    std::uint32_t seen = playRequests_.load(kRelaxed);
    while (!playRequests_.compare_exchange_weak(seen, ((seen | 1u) + 1u) | (playing ? 1u : 0u),
                                                std::memory_order_release, kRelaxed)) {
    }
}

void LinkMaster::setOutputLatencyFrames(int frames) {
    latencyFrames_.store(std::max(frames, 0), kRelaxed);
}

std::int64_t LinkMaster::hostMicros() const {
    return ableton::Link::Clock{}.micros().count();
}

void LinkMaster::update(MidiBus& bus, int frames) {
    updateAt(bus, frames, hostMicros());
}

void LinkMaster::updateAt(MidiBus& bus, int frames, std::int64_t hostMicros) {
    const std::int64_t blockStart = bus.renderFrame();
    if (blockStart != expectedBlockStart_) {
        // The render left us for a while (another master, a new stream): what it was told is stale, and
        // a session that plays is a new Play for it.
        clock_.reset();
        events_.clear();
        playing_ = false;
    }
    expectedBlockStart_ = blockStart + frames;
    const double latencyMicros = latencyFrames_.load(kRelaxed) * 1e6 / sampleRate_;
    clock_.sample(blockStart, hostMicros + std::llround(latencyMicros));

    current_ = live_.load(std::memory_order_acquire);
    if (!current_)
        return;
    ableton::Link& link = current_->link;
    ableton::Link::SessionState state = link.captureAudioSessionState();
    const double blockMicros = clock_.microsAt(blockStart);
    bool commit = false;
    if (const std::uint32_t requests = tempoRequests_.load(std::memory_order_acquire);
        requests != tempoRequestsSeen_) {
        tempoRequestsSeen_ = requests;
        state.setTempo(requestedBpm_.load(kRelaxed), micros(blockMicros));
        commit = true;
    }
    if (const std::uint32_t requests = playRequests_.load(std::memory_order_acquire);
        requests != playRequestsSeen_) {
        playRequestsSeen_ = requests;
        const bool play = (requests & 1u) != 0;
        if (play && !state.isPlaying()) {
            // Beat 0 (a bar) now when alone; with others playing, on their next bar.
            state.setIsPlayingAndRequestBeatAtTime(true, micros(blockMicros), 0.0, kQuantum);
            commit = true;
        } else if (!play && state.isPlaying()) {
            state.setIsPlaying(false, micros(blockMicros));
            commit = true;
        }
    }
    if (commit)
        link.commitAudioSessionState(state);
    current_->state = state;
    bpm_ = state.tempo();

    if (state.isPlaying() != playing_) {
        playing_ = state.isPlaying();
        // From the change's time, or from this block when it came before (a session found playing).
        const double from = std::max(static_cast<double>(state.timeForIsPlaying().count()), blockMicros);
        const double beat = state.beatAtTime(micros(from), kQuantum);
        if (playing_) {
            // Started on the first bar from then, as a start asked for here would be with others in the
            // session (alone, the start is a bar).
            const auto sixteenth =
                static_cast<std::int64_t>(std::ceil(beat / kQuantum - kBeatTolerance)) * kSixteenthsPerBar;
            events_.push(TransportEvent::Play, frameOfSixteenth(sixteenth), sixteenth);
        } else {
            const std::int64_t frame = clock_.frameAt(from);
            if (events_.size() > 0 && events_.newest().kind == TransportEvent::Play &&
                events_.newest().frame >= frame)
                events_.dropNewest(); // a start still waiting for its bar never happens, and needs no Stop
            else
                events_.push(TransportEvent::Stop, frame,
                             static_cast<std::int64_t>(std::floor(beat * kSixteenthsPerBeat)));
        }
    }
}

bool LinkMaster::nextEvent(std::int64_t before, TransportEvent& event) {
    return events_.take(before, event);
}

std::int64_t LinkMaster::frameOfSixteenth(std::int64_t sixteenth) const {
    const double beat = static_cast<double>(std::clamp(sixteenth, -kFarthestSixteenth, kFarthestSixteenth)) /
                        kSixteenthsPerBeat;
    if (!current_ || !current_->state) // no session: its own 120 BPM from frame 0
        return std::llround(beat * sampleRate_ * 60.0 / kUnknownBpm);
    return clock_.frameAt(static_cast<double>(current_->state->timeAtBeat(beat, kQuantum).count()));
}

double LinkMaster::bpm() const {
    return bpm_;
}

} // namespace common
