// Live play without a window (--play): the engine's frames on a sound device in real time until the
// length has played or SIGINT/SIGTERM comes. Calling thread; `fill` runs on the output's audio thread.
#pragma once

#include "common/CommandLine.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace audio {
class AudioOutput;
class JackTransport;
} // namespace audio

namespace common {

class MidiBus;

/// Frames between live play's making a block and its first frame being heard on a device: the block and
/// the device's buffering as live play asks for it.
int liveLatencyFrames(const RenderArguments& args);

/// Plays `fill(out, frames)` (16-bit stereo frames, as renderToFile's) on `output` (a fresh output named
/// after the program when null), device args.deviceIndex, args.blockFrames at a time, or on the silent
/// output when the device cannot play. With args.frames > 0 exactly that many frames play, then silence
/// until the device has sounded them; with 0 it plays until a signal. Says "program: playing on DEVICE,
/// seed N" at the start and "program: played N frames (S s)" at the end on stdout. Returns 0, or 128 + the
/// signal. `midi`, when given, carries the engine's MIDI on a device that has MIDI ports (JACK). Past the
/// length the engine renders on unheard, so that at the end `stopEngine` (calling thread) can stop it and
/// its Stop and note-offs go out before the output closes. `transport`, when given with `midi`, hears
/// JACK transport for a master that follows it; with `leadTransport` the program is its timebase
/// master, starts it from frame 0 once playing and stops it at the end.
int playLive(std::string_view program, const RenderArguments& args, std::uint32_t seed,
             audio::AudioOutput* output, const std::function<void(std::int16_t* out, int frames)>& fill,
             MidiBus* midi = nullptr, const std::function<void()>& stopEngine = {},
             audio::JackTransport* transport = nullptr, bool leadTransport = false);

} // namespace common
