// A master clock that plays a script, for tests of a render following one: its transport changes, each
// Play with the grid of sixteenths it starts (sixteenth → stream frame), each change told to the render
// from a chosen frame on. Test thread only.
#pragma once

#include "common/MidiBus.h"
#include "common/StepMaster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace common::test {

class ScriptedMaster final : public StepMaster {
  public:
    using Grid = std::function<std::int64_t(std::int64_t)>;

    explicit ScriptedMaster(double bpm) : bpm_(bpm) {}

    /// Plays from `sixteenth` on `frame`, told in the block that holds `knownAt` (or at once).
    void play(std::int64_t frame, std::int64_t sixteenth, Grid grid, std::int64_t knownAt = 0) {
        cues_.push_back({{TransportEvent::Play, frame, sixteenth}, std::move(grid), knownAt});
    }
    void stop(std::int64_t frame) { cues_.push_back({{TransportEvent::Stop, frame, 0}, {}, 0}); }
    /// From the block that begins at or after `knownAt` on, the sixteenths are predicted by `grid`.
    void revise(std::int64_t knownAt, Grid grid) {
        revisedAt_ = knownAt;
        revised_ = std::move(grid);
    }

    void update(MidiBus& bus, int frames) override {
        if (blockEnd_ >= 0) { // set on a render that has already rendered, it first sees a later frame
            EXPECT_EQ(bus.renderFrame(), blockEnd_) << "once a block, each block in turn";
        }
        blockEnd_ = bus.renderFrame() + frames;
        if (revised_ && bus.renderFrame() >= revisedAt_)
            grid_ = &revised_;
    }
    bool nextEvent(std::int64_t before, TransportEvent& event) override {
        if (next_ >= cues_.size())
            return false;
        const Cue& cue = cues_[next_];
        if (cue.event.frame >= before || cue.knownAt >= blockEnd_)
            return false;
        event = cue.event;
        if (cue.grid)
            grid_ = &cue.grid;
        ++next_;
        return true;
    }
    std::int64_t frameOfSixteenth(std::int64_t sixteenth) const override { return (*grid_)(sixteenth); }
    double bpm() const override { return bpm_; }
    /// Transport changes the render has taken.
    std::size_t taken() const { return next_; }

  private:
    struct Cue {
        TransportEvent event;
        Grid grid;
        std::int64_t knownAt = 0;
    };
    std::vector<Cue> cues_;
    std::size_t next_ = 0;
    const Grid* grid_ = nullptr;
    Grid revised_;
    std::int64_t revisedAt_ = 0;
    std::int64_t blockEnd_ = -1; // none seen yet
    double bpm_;
};

/// Sixteenths at a steady tempo, sixteenth `at` beginning on frame `frame`: 44100 × 15 / bpm frames each.
inline ScriptedMaster::Grid steadyGrid(double bpm, std::int64_t frame, std::int64_t at = 0) {
    return [=](std::int64_t n) { return frame + std::llround(static_cast<double>(n - at) * 661500.0 / bpm); };
}

/// Sixteenths from sixteenth `at` on frame `frame`, the k-th after it at `tempo(k)` beats a minute.
inline ScriptedMaster::Grid tempoGrid(std::function<double(std::int64_t)> tempo, std::int64_t frame,
                                      std::int64_t at = 0) {
    return [=](std::int64_t n) {
        double exact = static_cast<double>(frame);
        for (std::int64_t k = 0; k < n - at; ++k)
            exact += 661500.0 / tempo(k);
        return std::llround(exact);
    };
}

} // namespace common::test
