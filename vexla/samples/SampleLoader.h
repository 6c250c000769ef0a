// Loads sound files into sample slots. Everything here runs on the window thread (or any thread that
// is not the audio thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vexla/samples/SampleSlot.h"

namespace vexla {

/// The most frames a slot takes: about 25 minutes at 44100 Hz (256 MiB for a stereo sample).
inline constexpr std::int64_t kMaxSampleFrames = std::int64_t{1} << 26;

struct LoadResult {
    bool ok = false;
    std::string
        reason; ///< why the load failed, for the window to show ("not a sound file", …); empty on success
    explicit operator bool() const { return ok; }
};

/// A decoded sample, not yet in any slot.
struct DecodedSample {
    std::unique_ptr<std::int16_t[]> left;
    std::unique_ptr<std::int16_t[]> right; ///< only when stereo
    bool stereo = false;
    std::int32_t length = 0;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int32_t hasLoop = 0;
};

/// Decodes any file libsndfile reads (WAV of any width or float, AIFF, FLAC, Ogg, …) into 16-bit
/// arrays: wider samples rounded, 8-bit exact, more than two channels keep the first two, the first
/// "smpl" loop kept as the file states it. The sample rate is ignored.
LoadResult decodeSampleFile(const char* path, DecodedSample& out, std::int64_t maxFrames = kMaxSampleFrames);

/// The same for a file image in memory.
LoadResult decodeSampleMemory(const void* data, std::size_t size, DecodedSample& out,
                              std::int64_t maxFrames = kMaxSampleFrames);

/// Decodes `path` into `slot` (arrays, length, loop and name; the old arrays are freed here). On
/// failure the slot is untouched. `slot` must not be one a render reads: the engine swaps a loaded slot
/// into its own (LoopEngine::swapSample).
LoadResult loadSampleFile(const char* path, SampleSlot& slot);

/// Copies `path` into `name`, zero-terminated; a path too long keeps its end behind "...", cut at a
/// character boundary.
void setSlotName(SampleSlot& slot, const char* path);

} // namespace vexla
