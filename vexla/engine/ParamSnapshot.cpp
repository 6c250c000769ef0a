// Reading the window's controls for one block.
#include "vexla/engine/ParamSnapshot.h"

namespace vexla {

ParamSnapshot readParams(const EngineParams& p) {
    constexpr auto r = std::memory_order_relaxed;
    ParamSnapshot s;
    s.running = p.running.load(r);
    s.recording = p.recording.load(r);
    ControlValues& c = s.controls;
    c.stepCount = p.stepCount.load(r);
    c.samplesPerStep = p.samplesPerStep.load(r);
    c.transpose = p.transpose.load(r);
    c.masterGain = p.masterGain.load(r);
    c.kickVolume = p.kickVolume.load(r);
    c.bass1Volume = p.bass1Volume.load(r);
    c.bass2Volume = p.bass2Volume.load(r);
    c.hatVolume = p.hatVolume.load(r);
    c.sineVolume = p.sineVolume.load(r);
    c.dryLooperGain = p.dryLooperGain.load(r);
    c.secondLooperGain = p.secondLooperGain.load(r);
    c.vcf1Gain = p.vcf1Gain.load(r);
    c.vcf2Gain = p.vcf2Gain.load(r);
    c.slicerGain = p.slicerGain.load(r);
    c.vcf1Cutoff = p.vcf1Cutoff.load(r);
    c.vcf1Feedback = p.vcf1Feedback.load(r);
    c.vcf2Cutoff = p.vcf2Cutoff.load(r);
    c.vcf2Feedback = p.vcf2Feedback.load(r);
    return s;
}

} // namespace vexla
