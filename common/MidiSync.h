// What a program holds for its engine's MIDI: the bus both ways and the masters it can follow, and the
// master a clock source stands for. The engine keeps pointers to them: they outlive the stream.
#pragma once

#include "common/ClockSource.h"
#include "common/MidiBus.h"
#include "common/MidiClockFollower.h"
#include "common/NoCopy.h"
#include "common/StepMaster.h"

namespace common {

struct MidiSync : NoCopy {
    MidiBus bus;
    MidiClockFollower midiClock;

    /// The master `source` follows; null for the engine's own clock. Only the render touches a master:
    /// one chosen again goes on from what it last heard.
    StepMaster* master(ClockSource source) { return source == ClockSource::MidiClock ? &midiClock : nullptr; }
};

} // namespace common
