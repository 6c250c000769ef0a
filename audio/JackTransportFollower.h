// Following JACK transport: its start, stop and locate as transport changes on the stream frames where
// they take effect, its sixteenths where the timebase master's bar, beat and tick put them, or, without a
// timebase master, counted from the transport's frame 0 at the program's own tempo. Audio thread only.
#pragma once

#include "audio/JackTransport.h"
#include "common/NoCopy.h"
#include "common/StepMaster.h"

#include <cstdint>

namespace audio {

class JackTransportFollower final : public common::StepMaster, common::NoCopy {
  public:
    /// Reads what the backend heard of the transport from `transport`, which must outlive it.
    explicit JackTransportFollower(JackTransport& transport) : transport_(transport) {}

    void update(common::MidiBus& bus, int frames) override;
    bool nextEvent(std::int64_t before, common::TransportEvent& event) override;
    std::int64_t frameOfSixteenth(std::int64_t sixteenth) const override;
    double bpm() const override;

  private:
    void take(const TransportPeriod& period);
    void settleLateEvents(std::int64_t blockStart);
    /// Where the period puts the song (sixteenths at `frame`, within [low, high]) and its tempo.
    bool observe(const TransportPeriod& period, std::int64_t& frame, double& low, double& high, double& fps);
    void anchor(std::int64_t frame, double low, double high, double fps);
    double positionAt(std::int64_t frame) const;
    void play(std::int64_t from);
    void push(common::TransportEvent::Kind kind, std::int64_t frame, std::int64_t sixteenth);

    JackTransport& transport_;
    std::uint64_t generation_ = 0;
    bool heard_ = false;    // a period of this stream has been taken
    bool rolling_ = false;  // the transport rolled in the newest period taken
    bool sounding_ = false; // a Play went out and no Stop since
    std::int64_t lastStreamFrame_ = 0;
    std::uint32_t lastPosition_ = 0;
    double frameRate_ = 44100.0;

    // The song's position: `low_`..`high_` sixteenths at stream frame anchorFrame_ (a timebase master's
    // whole ticks leave a tick's doubt, which the following periods narrow), fps_ frames a sixteenth.
    std::int64_t anchorFrame_ = 0;
    double low_ = 0.0;
    double high_ = 0.0;
    double fps_ = 0.0;
    double masterFps_ = 0.0; // the timebase master's last tempo; 0 before one was heard

    common::TransportEvents events_;
};

} // namespace audio
