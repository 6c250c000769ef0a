// Following a Link session on the local network: the session's tempo, its beats on the stream's frames
// (step 0 on the bar, four beats a bar) and its start and stop. Tempo and start/stop go both ways: what
// the user sets here is committed to the session, and the other peers' changes come back through
// bpm() and the transport events. The Link library lives behind this header, so that only its one
// source file pays for compiling it.
#pragma once

#include "common/NoCopy.h"
#include "common/StepMaster.h"
#include "common/link/FrameClock.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace common {

class LinkMaster final : public StepMaster, NoCopy {
  public:
    /// Beats a bar: the phase step 0 is put on.
    static constexpr double kQuantum = 4.0;
    static constexpr int kSixteenthsPerBeat = 4;

    /// `sampleRate` in frames a second, as the stream's frames count. Nothing joins until join().
    explicit LinkMaster(double sampleRate = 44100.0);
    ~LinkMaster();

    // Window thread (or the command line's).
    /// A session of this side's own, not on the network yet, at `bpm` (the first call only): tempo,
    /// beats and start/stop work alone. Not realtime-safe.
    void open(double bpm);
    /// Opens and joins the session on the local network, with start and stop shared. A session found
    /// there brings its tempo and beats; this side's tempo is not forced on it. Not realtime-safe.
    void join(double bpm);
    /// Leaves the session; the master stays usable and goes on alone. Not realtime-safe.
    void leave();
    bool joined() const;
    /// Peers in the session besides this one.
    std::size_t peers() const;
    /// The user set this tempo: committed to the session at the next block. Only the user's changes
    /// come here; a tempo shown because the session moved must not, or two peers would fight.
    void requestTempo(double bpm);
    /// The user started or stopped playing: asked of the session at the next block (a start lands on
    /// the next bar when others play).
    void requestPlaying(bool playing);
    /// Frames between the render's making a block and its first frame being heard: the block the device
    /// holds and its buffering. Beats are placed where they are heard.
    void setOutputLatencyFrames(int frames);

    // Audio thread.
    void update(MidiBus& bus, int frames) override;
    /// update() with the host time (Link's clock, microseconds) at which the block is made: tests give
    /// it; update() reads the clock.
    void updateAt(MidiBus& bus, int frames, std::int64_t hostMicros);
    bool nextEvent(std::int64_t before, TransportEvent& event) override;
    std::int64_t frameOfSixteenth(std::int64_t sixteenth) const override;
    double bpm() const override;

    /// Link's clock now, microseconds (any thread).
    std::int64_t hostMicros() const;

  private:
    struct Session;

    double sampleRate_;
    std::unique_ptr<Session> session_; // made by the first open(); the render reads it through live_
    std::atomic<Session*> live_{nullptr};
    Session* current_ = nullptr; // the render's copy of live_

    std::atomic<double> requestedBpm_{0.0};
    std::atomic<std::uint32_t> tempoRequests_{0};
    std::atomic<std::uint32_t> playRequests_{0}; // bit 0: the latest request's playing; counts in steps of 2
    std::atomic<int> latencyFrames_{0};

    // The render's.
    FrameClock clock_;
    std::uint32_t tempoRequestsSeen_ = 0;
    std::uint32_t playRequestsSeen_ = 0;
    std::int64_t expectedBlockStart_ = -1;
    bool playing_ = false; // as the transport events last told it
    double bpm_ = 0.0;
    TransportEvents events_;
};

} // namespace common
