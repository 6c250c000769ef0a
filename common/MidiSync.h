// What a program holds for its engine's MIDI: the bus both ways and the masters it can follow, and the
// master a clock source stands for. The engine keeps pointers to them: they outlive the stream.
#pragma once

#include "common/ClockSource.h"
#include "common/MidiBus.h"
#include "common/MidiClockFollower.h"
#include "common/NoCopy.h"
#include "common/StepMaster.h"
#include "common/link/LinkMaster.h"

namespace common {

struct MidiSync : NoCopy {
    MidiBus bus;
    MidiClockFollower midiClock;
    LinkMaster link; ///< joins the network only while chosen (a program holding this links vz_link)

    /// The master `source` follows; null for the engine's own clock. Only the render touches a master:
    /// one chosen again goes on from what it last heard.
    StepMaster* master(ClockSource source) {
        switch (source) {
        case ClockSource::MidiClock:
            return &midiClock;
        case ClockSource::Link:
            return &link;
        default:
            return nullptr;
        }
    }
    /// master(source), with the Link session joined while it is the source (`bpm`: this side's tempo
    /// while it is alone there) and left when another is chosen. Window or command-line thread.
    StepMaster* follow(ClockSource source, double bpm) {
        if (source == ClockSource::Link)
            link.join(bpm);
        else
            link.leave();
        return master(source);
    }
};

} // namespace common
