// Helpers for the loop engine tests: quiet engines, synthetic samples, block rendering, one frame at a
// time through a unit. Test thread only.
#pragma once

#include "vexla/controls/Controls.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace vexla::testing {

/// A running engine in which every unit is silent until a test turns it on.
inline std::unique_ptr<LoopEngine> makeQuietEngine() {
    auto engine = std::make_unique<LoopEngine>();
    EngineParams& p = engine->params;
    p.running = true;
    p.kickVolume = 0.0f;
    p.hatVolume = 0.0f;
    p.sineVolume = 0.0f;
    p.vcf2Gain = 0.0f;
    engine->bass1.pattern.clip = 0.0f;
    engine->bass2.pattern.clip = 0.0f;
    engine->hats.pattern.echoSend = 0.0f;
    return engine;
}

// Kick triggers show as the frame where the held kick (both partials slid to 0) jumps back to sin(0) = 0.
inline std::vector<int> kickTriggerFrames(const std::vector<std::int16_t>& left) {
    std::vector<int> frames;
    if (!left.empty() && left[0] == 0)
        frames.push_back(0);
    for (std::size_t i = 2; i < left.size(); ++i)
        if (left[i] == 0 && left[i - 1] == left[i - 2] && left[i - 1] != 0)
            frames.push_back(static_cast<int>(i));
    return frames;
}

inline std::unique_ptr<LoopEngine> makeKickOnlyEngine() {
    auto engine = makeQuietEngine();
    engine->params.kickVolume = 8192.0f;
    engine->kick.pattern.startFreq = 0.06f;
    engine->kick.pattern.slide1 = 1023 * 0.000004859842f * 0.08f; // both partials reach 0 within 151 frames
    return engine;
}

/// Renders `frames` frames through renderBlock in blocks of `blockFrames`; returns interleaved L, R.
inline std::vector<std::int16_t> renderInBlocks(LoopEngine& engine, int frames, int blockFrames) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * 2);
    for (int done = 0; done < frames; done += blockFrames) {
        const int n = std::min(blockFrames, frames - done);
        engine.renderBlock(out.data() + static_cast<std::size_t>(done) * 2, n * 4);
    }
    return out;
}

inline std::vector<std::int16_t> leftChannel(const std::vector<std::int16_t>& interleaved) {
    std::vector<std::int16_t> left(interleaved.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = interleaved[2 * i];
    return left;
}

/// Fills `slot` with `length` frames: left[i] = leftValue(i), and right[i] = rightValue(i) when given.
inline void fillSlotWith(SampleSlot& slot, std::int32_t length,
                         const std::function<std::int16_t(std::int32_t)>& leftValue,
                         const std::function<std::int16_t(std::int32_t)>& rightValue = {}) {
    slot.left = std::make_unique<std::int16_t[]>(static_cast<std::size_t>(length));
    slot.right.reset();
    if (rightValue)
        slot.right = std::make_unique<std::int16_t[]>(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i) {
        slot.left[static_cast<std::size_t>(i)] = leftValue(i);
        if (rightValue)
            slot.right[static_cast<std::size_t>(i)] = rightValue(i);
    }
    slot.stereo = static_cast<bool>(rightValue);
    slot.length = length;
}

/// Fills a slot with a sine of `period` frames (right channel inverted when stereo).
inline void fillSlot(SampleSlot& slot, int length, bool stereo, double period) {
    const auto sine = [period](std::int32_t i) {
        return static_cast<std::int16_t>(std::lround(12000.0 * std::sin(6.283185307179586 * i / period)));
    };
    if (stereo)
        fillSlotWith(slot, length, sine,
                     [&sine](std::int32_t i) { return static_cast<std::int16_t>(-sine(i)); });
    else
        fillSlotWith(slot, length, sine);
}

/// Every unit sounding: all five slots loaded, all gains up, both effects rolled, hats generated.
inline void makeEverythingSound(LoopEngine& engine, common::Random& random) {
    fillSlot(engine.drySlot, 40000, true, 101.0);
    fillSlot(engine.secondSlot, 30000, false, 57.0);
    fillSlot(engine.slicerSlot, 50000, true, 33.0);
    fillSlot(engine.vcf1Slot, 20000, false, 77.0);
    fillSlot(engine.vcf2Slot, 60000, true, 211.0);
    EngineParams& p = engine.params;
    p.dryLooperGain = 0.25f;
    p.secondLooperGain = 0.25f;
    p.slicerGain = 0.25f;
    p.vcf1Gain = 0.25f;
    p.vcf2Gain = 0.25f;
    engine.alterAm(random);
    engine.alterEcho(random);
    engine.generateHats(random);
    p.running = true;
}

/// Frequency of the strongest period between minLag and maxLag frames, by normalised autocorrelation.
inline double frequencyByAutocorrelation(const std::vector<std::int16_t>& x, int minLag, int maxLag) {
    double best = -2.0;
    int bestLag = minLag;
    const std::size_t n = x.size() - static_cast<std::size_t>(maxLag);
    for (int lag = minLag; lag <= maxLag; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double a = x[i], b = x[i + static_cast<std::size_t>(lag)];
            xy += a * b;
            xx += a * a;
            yy += b * b;
        }
        const double r = xy / std::sqrt(xx * yy + 1e-9);
        if (r > best) {
            best = r;
            bestLag = lag;
        }
    }
    return kSampleRate / static_cast<double>(bestLag);
}

/// A started engine with every unit sounding and controls away from their start positions.
inline std::unique_ptr<LoopEngine> makeRichEngine(std::uint32_t seed) {
    auto engine = std::make_unique<LoopEngine>();
    common::Random random;
    startUp(*engine, random, seed);
    makeEverythingSound(*engine, random);
    EngineParams& p = engine->params;
    p.transpose = 3;
    p.masterGain = 0.6171875f;
    p.samplesPerStep = 4410;
    p.vcf1Cutoff = 0.3f;
    p.vcf1Feedback = findControl("vcf1Feedback")->value(90, findControl("vcf1Cutoff")->value(38, 0.0f));
    return engine;
}

struct StereoFrame {
    float left = 0.0f;
    float right = 0.0f;
};

/// One frame of a unit that renders a stereo pair (a looper or the slicer).
template <class Player> StereoFrame renderOne(Player& player, float gain = 1.0f) {
    StereoFrame out;
    player.render(&out.left, &out.right, 1, gain);
    return out;
}

/// Renders blocks of `frames` frames as fast as it can on its own thread, as the audio thread would,
/// until it is destroyed.
class RenderThread {
  public:
    explicit RenderThread(LoopEngine& engine, int frames = 64)
        : thread_([this, &engine, frames] {
              std::vector<std::int16_t> buffer(2 * static_cast<std::size_t>(frames));
              while (!stop_.load()) {
                  engine.renderBlock(buffer.data(), frames * 4);
                  blocks_.fetch_add(1);
              }
          }) {}
    ~RenderThread() {
        stop_ = true;
        thread_.join();
    }
    long blocks() const { return blocks_.load(); }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<long> blocks_{0};
    std::thread thread_;
};

/// Collects as the window's timer does until a render thread has taken every request and posted state,
/// then waits one more whole step; false if it never does.
inline bool settle(LoopEngine& engine) {
    SceneState posted;
    unsigned parts = 0;
    for (int i = 0; i < 20000; ++i) {
        engine.collectChanges(); // sends what waited for room in the mailbox
        bool pending = engine.scenePending(posted, parts);
        for (Request which : {Request::Hats, Request::Sine, Request::Bass1, Request::Bass2, Request::Kick})
            pending = pending || engine.requestPending(which);
        if (!pending) {
            // One more whole step, so that a step that began before the check has ended.
            const int step = engine.params.playingStep.load();
            while (engine.params.playingStep.load() == step)
                std::this_thread::yield();
            engine.collectChanges(); // the served requests' patterns reach the window's copy
            return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

} // namespace vexla::testing
