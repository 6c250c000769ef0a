// Where a program's steps take their time from: its own tempo, or a master it follows. One table for
// the window's choice, the command line's --sync and the saved settings.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace common {

enum class ClockSource { Internal, MidiClock, JackTransport, JackTimebase, Link };

struct ClockSourceName {
    ClockSource source;
    std::string_view option;  ///< --sync's word, and the saved setting's
    std::string_view caption; ///< what the window shows
};

inline constexpr std::array<ClockSourceName, 5> kClockSources{{
    {ClockSource::Internal, "internal", "Internal"},
    {ClockSource::MidiClock, "midi", "MIDI clock"},
    {ClockSource::JackTransport, "jack", "JACK transport"},
    // Follows the transport's start, stop and locate too, but gives it the tempo and the bars.
    {ClockSource::JackTimebase, "jack-master", "JACK transport (master)"},
    {ClockSource::Link, "link", "Link"},
}};

// The window's list shows the table in the enum's order: the row of a source is its value.
static_assert([] {
    for (std::size_t i = 0; i < kClockSources.size(); ++i)
        if (kClockSources[i].source != static_cast<ClockSource>(i))
            return false;
    return true;
}());

inline std::optional<ClockSource> clockSourceNamed(std::string_view option) {
    for (const ClockSourceName& name : kClockSources)
        if (name.option == option)
            return name.source;
    return std::nullopt;
}

inline const ClockSourceName& nameOf(ClockSource source) {
    for (const ClockSourceName& name : kClockSources)
        if (name.source == source)
            return name;
    return kClockSources[0];
}

} // namespace common
