// The loop engine's parameter block: values the window writes and the render reads, the command line's
// request flags, and the values the render reports back. Any thread may read or write; all accesses are
// relaxed.
#pragma once

#include <atomic>
#include <cstdint>

namespace vexla {

struct EngineParams {
    std::atomic<std::int32_t> stepCount{16};        ///< steps in the sequence, 3..64
    std::atomic<std::int32_t> samplesPerStep{5000}; ///< a step lasts samplesPerStep + 1 frames, 2000..20000
    std::atomic<bool> running{false};               ///< false: silence, clocks and units stand still
    std::atomic<float> masterGain{0.875f};          ///< gain on both channels after the mix
    std::atomic<std::int32_t> transpose{0};         ///< semitones, −12..12
    std::atomic<float> kickVolume{8192.0f};         ///< sample units
    std::atomic<float> bass1Volume{2048.0f};        ///< sample units
    std::atomic<float> bass2Volume{1024.0f};        ///< sample units
    std::atomic<float> hatVolume{0.125f};
    std::atomic<float> sineVolume{0.125f};
    std::atomic<float> dryLooperGain{0.0f};
    std::atomic<float> secondLooperGain{0.0f};
    std::atomic<float> vcf1Gain{0.0f};
    std::atomic<float> vcf2Gain{0.5f};
    std::atomic<float> slicerGain{0.0f};
    std::atomic<float> vcf1Cutoff{0.5f};
    std::atomic<float> vcf1Feedback{1.5f};
    std::atomic<float> vcf2Cutoff{0.5f};
    std::atomic<float> vcf2Feedback{1.5f};

    // Requests written by name (the command line's --set requestX=1): window side only, posted to the
    // render by LoopEngine::postFlaggedRequests (or served at once by serveRequestsNow). The render never
    // reads them; the buttons call LoopEngine::request.
    std::atomic<bool> requestHats{false};
    std::atomic<bool> requestSine{false};
    std::atomic<bool> requestBass1{false};
    std::atomic<bool> requestBass2{false};
    std::atomic<bool> requestKick{false};

    std::atomic<bool> clipped{false};           ///< render sets, window clears
    std::atomic<bool> recording{false};         ///< hand every frame to the recorder
    std::atomic<std::int32_t> recordedBytes{0}; ///< render adds 4 per recorded frame
    /// The step the render is playing (the last one loaded at a step boundary), 0..63; it stands
    /// while the engine is stopped.
    std::atomic<std::int32_t> playingStep{0};
    /// Peak-hold levels of the output, 0..32766: each frame a peak falls by one and rises to the
    /// magnitude of its channel's sample if that is higher, so it reaches zero about 0.74 s after silence.
    std::atomic<std::int32_t> peakLeft{0};
    std::atomic<std::int32_t> peakRight{0};
};

} // namespace vexla
