// Live play without a window (--play): the engine's frames on a sound device in real time until the
// length has played or SIGINT/SIGTERM comes. Calling thread; `fill` runs on the output's audio thread.
#pragma once

#include "audio/Output.h"
#include "audio/PlaySync.h"
#include "common/CommandLine.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>

namespace audio {
class AudioOutput;
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

/// Live play of an engine (renderBlock, setMidi, setMaster and params.samplesPerStep, as both programs'
/// engines have them) with its MIDI on the device's ports and its steps following the clock args.sync
/// names: Link joined and started (at the engine's tempo if alone there) and stopped at the end, JACK
/// transport heard or led. `ownFramesPerStep(&engine)` is its own step length, for a transport with no
/// timebase master; `stopEngine` stops its playing.
template <class Engine>
int playEngineLive(std::string_view program, const RenderArguments& args, std::uint32_t seed,
                   audio::AudioOutput* output, Engine& engine, double (*ownFramesPerStep)(const void*),
                   const std::function<void()>& stopEngine) {
    audio::PlaySync sync;
    sync.transport.setOwnTempo(ownFramesPerStep, &engine);
    engine.setMidi(&sync.bus);
    // The engine's own tempo, which a Link session this side is alone in takes.
    const double framesPerStep = std::max(1.0, ownFramesPerStep(&engine));
    engine.setMaster(sync.follow(args.sync, audio::kSampleRate * 60.0 / (4.0 * framesPerStep)));
    sync.link.setOutputLatencyFrames(liveLatencyFrames(args));
    if (args.sync == ClockSource::Link)
        sync.link.requestPlaying(true);
    return playLive(
        program, args, seed, output,
        [&engine](std::int16_t* out, int frames) { engine.renderBlock(out, frames * 4); }, &sync.bus,
        [&] {
            stopEngine();
            sync.link.requestPlaying(false);
        },
        &sync.transport, audio::PlaySync::leadsTransport(args.sync));
}

} // namespace common
