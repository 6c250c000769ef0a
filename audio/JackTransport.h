// JACK transport beside the sound: what the backend's process callback saw of the transport each period,
// handed to the master the render follows, and the bar, beat and tick arithmetic both sides share. The
// backend and the render meet here on one thread, the audio thread, so the ring is plain: nothing is
// allocated, nothing waits. libjack itself stays in the backend.
#pragma once

#include "common/FixedRing.h"
#include "common/NoCopy.h"

#include <atomic>
#include <cstdint>

namespace audio {

/// A position in bars, beats and ticks, as a timebase master gives it: bar and beat count from 1, the
/// tick within the beat from 0; beats are 1/beatType notes, beatsPerMinute counts those beats.
struct Bbt {
    int bar = 1;
    int beat = 1;
    double tick = 0.0;
    double ticksPerBeat = 1920.0;
    double beatsPerBar = 4.0;
    double beatType = 4.0;
    double beatsPerMinute = 120.0;
};

/// Sixteenth notes a beat: 4 for a quarter-note beat, 2 for an eighth, 8 for a half note. A beat type
/// that is not a note value the programs know (0, negative, past 64) counts as a quarter note.
double sixteenthsPerBeat(const Bbt& bbt);
/// Sixteenths from the song's start to `bbt`: ((bar − 1) × beatsPerBar + (beat − 1) + tick / ticksPerBeat)
/// beats, each sixteenthsPerBeat sixteenths.
double sixteenthOf(const Bbt& bbt);
/// Frames a sixteenth lasts at the tempo of `bbt`; 0 when its tempo is unusable (not positive).
double framesPerSixteenth(const Bbt& bbt, double frameRate);
/// The tempo of `bbt` in quarter notes a minute.
double quarterNotesPerMinute(const Bbt& bbt);
/// The 4/4 position `sixteenth` sixteenths from the song's start, with `ticksPerBeat` ticks a quarter
/// note (the tick whole, as most followers read it) and the tempo `bpm` quarter notes a minute.
Bbt bbtOfSixteenth(double sixteenth, double bpm, double ticksPerBeat = 1920.0);

/// What one period's query of the transport said.
struct TransportPeriod {
    std::int64_t streamFrame = 0; ///< the stream frame (the MIDI bus's) of the period's first frame
    bool rolling = false;         ///< rolling (starting counts as stopped: its frame does not move)
    std::uint32_t position = 0;   ///< the transport's frame at the period's first frame
    double frameRate = 0.0;       ///< the transport's frames a second
    bool hasBbt = false;          ///< a timebase master gave `bbt`
    bool exactTick = false;       ///< its tick has a fraction; otherwise it was cut to a whole tick
    int bbtOffset = 0;            ///< `bbt` is where the transport was this many frames before the period
    Bbt bbt;
};

class JackTransport : common::NoCopy {
  public:
    /// Periods kept for the master: more than a longest block holds of the shortest periods is not
    /// needed, the newest count most.
    static constexpr int kPeriods = 512;
    /// The program's own tempo in frames a sixteenth (the length of its own steps).
    using TempoReader = double (*)(const void* context);

    JackTransport() = default;

    /// Before any stream runs: where the program's own tempo is read from; `read` runs on the audio
    /// thread and must neither allocate nor wait.
    void setOwnTempo(TempoReader read, const void* context) {
        context_.store(context);
        read_.store(read);
    }
    /// The program's own frames a sixteenth; 120 BPM at 44100 Hz when none was given.
    double ownFramesPerSixteenth() const;

    // The backend's side.
    /// Only while no render runs (a stream opening): forgets the periods of the stream before.
    void restart() {
        periods_.clear();
        ++generation_;
    }
    /// One period's query, in order; when none takes them the newest matter most.
    void heard(const TransportPeriod& period) { periods_.pushOverOldest(period); }

    // The master's side.
    /// The oldest period not taken yet; false when none waits.
    bool take(TransportPeriod& period) { return periods_.pop(period); }
    /// Counts restart(): the master starts afresh on a new stream.
    std::uint64_t generation() const { return generation_; }

  private:
    std::atomic<TempoReader> read_{nullptr};
    std::atomic<const void*> context_{nullptr};
    common::FixedRing<TransportPeriod, kPeriods> periods_;
    std::uint64_t generation_ = 0;
};

} // namespace audio
