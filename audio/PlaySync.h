// What a program holds to play in time with others: its engine's MIDI and the MIDI clock it may follow
// (common::MidiSync), and JACK transport, followed or led. The engine and the stream keep pointers to
// them: they outlive the stream.
#pragma once

#include "audio/JackTransport.h"
#include "audio/JackTransportFollower.h"
#include "common/ClockSource.h"
#include "common/MidiSync.h"

namespace audio {

struct PlaySync : common::MidiSync {
    JackTransport transport;
    JackTransportFollower transportFollower{transport};

    /// The master `source` follows; null for the engine's own clock. Leading the transport follows it
    /// too: its start, stop and locate, and the bars this program gives it.
    common::StepMaster* master(common::ClockSource source) {
        if (source == common::ClockSource::JackTransport || source == common::ClockSource::JackTimebase)
            return &transportFollower;
        return MidiSync::master(source);
    }
    /// master(source), with the Link session joined while it is the source and left otherwise (see
    /// common::MidiSync::follow). Window or command-line thread.
    common::StepMaster* follow(common::ClockSource source, double bpm) {
        MidiSync::follow(source, bpm);
        return master(source);
    }
    /// Whether `source` makes this program the transport's timebase master.
    static bool leadsTransport(common::ClockSource source) {
        return source == common::ClockSource::JackTimebase;
    }
};

} // namespace audio
