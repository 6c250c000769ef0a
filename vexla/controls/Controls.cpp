// The table of Vexla's controls and the ranges computed from it.
#include "vexla/controls/Controls.h"

#include "common/FindRow.h"
#include "vexla/engine/ResonantLowpass.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>
#include <vector>

namespace vexla {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// ---- the sliders' mappings and their inverses ----

int nearest(float v) {
    return static_cast<int>(std::lround(v));
}

float identity(int pos, float) {
    return static_cast<float>(pos);
}
int identityPosition(float v, float) {
    return nearest(v);
}
/// Levels and gains: position / 128.
float over128(int pos, float) {
    return static_cast<float>(pos) / 128.0f;
}
int over128Position(float v, float) {
    return nearest(v * 128.0f);
}
/// The voices' volumes in sample units: position × 128.
float times128(int pos, float) {
    return static_cast<float>(pos) * 128.0f;
}
int times128Position(float v, float) {
    return nearest(v / 128.0f);
}
/// Master: position 0 at the top is full gain.
float master(int pos, float) {
    return static_cast<float>(128 - pos) / 128.0f;
}
int masterPosition(float v, float) {
    return 128 - nearest(v * 128.0f);
}
/// A VCF looper's cutoff (and resonance q): position / 128, kept in 0.05..0.95 where the filter is stable.
float filterValue(int pos, float) {
    return std::clamp(static_cast<float>(pos) / 128.0f, ResonantLowpass::kLowestSetting,
                      ResonantLowpass::kHighestSetting);
}
/// A VCF looper's feedback from its resonance position and its cutoff.
float feedback(int pos, float cutoff) {
    return ResonantLowpass::feedbackFor(filterValue(pos, 0.0f), cutoff);
}
/// The resonance position behind a feedback: q = feedback / (1 + 1 / (1 − cutoff)).
int feedbackPosition(float v, float cutoff) {
    return over128Position(v / (1.0f + 1.0f / (1.0f - cutoff)), 0.0f);
}

// ---- the value's place in the engine and in a scene ----

template <auto Param, auto Value> constexpr ControlAccess accessOf() {
    using Held = typename std::remove_reference_t<decltype(std::declval<EngineParams&>().*Param)>::value_type;
    using Plain = std::remove_reference_t<decltype(std::declval<ControlValues&>().*Value)>;
    return {
        [](const EngineParams& p) { return static_cast<double>((p.*Param).load(kRelaxed)); },
        [](EngineParams& p, double v) { (p.*Param).store(static_cast<Held>(v), kRelaxed); },
        [](const ControlValues& c) { return static_cast<double>(c.*Value); },
        [](ControlValues& c, double v) { c.*Value = static_cast<Plain>(v); },
    };
}

// A control's name is its field in both structs; the macro keeps the three from drifting apart.
// clang-format off
#define VX_FIELD(field) #field, accessOf<&EngineParams::field, &ControlValues::field>()

Control level(std::string_view name, ControlAccess access, const char* object, const char* caption, int start,
              SliderLook look) {
    return {name, access, object, caption, false, 0, 128, start, over128, over128Position, {}, ControlWidget::Slider, look};
}

Control volume(std::string_view name, ControlAccess access, const char* object, const char* caption,
               int start, int y) {
    return {name, access, object, caption, false, 0, 128, start, times128, times128Position, {}, ControlWidget::Slider,
            {64, y, 132, 16}};
}

Control cutoff(std::string_view name, ControlAccess access, const char* object, const char* caption, int y) {
    return {name, access, object, caption, false, 0, 128, 64, filterValue, over128Position, {}, ControlWidget::Slider,
            {216, y, 72, 12}};
}

/// The resonance slider under a cutoff slider sets the feedback, which depends on both.
Control resonance(std::string_view name, ControlAccess access, std::string_view cutoffName,
                  const char* object, const char* caption, int y) {
    return {name, access, object, caption, false, 0, 128, 64, feedback, feedbackPosition, cutoffName,
            ControlWidget::Slider, {216, y, 72, 12}};
}

std::vector<Control> makeTable() {
    std::vector<Control> table{
        volume(VX_FIELD(kickVolume), "kickSlider", "Kick volume", 64, 36),
        volume(VX_FIELD(bass1Volume), "bassline1Slider", "Bassline 1 volume", 16, 56),
        volume(VX_FIELD(bass2Volume), "bassline2Slider", "Bassline 2 volume", 8, 76),
        level(VX_FIELD(sineVolume), "sineSlider", "Sine volume", 16, {64, 96, 132, 16}),
        level(VX_FIELD(hatVolume), "hiHatsSlider", "HiHats volume", 16, {64, 116, 132, 16}),
        level(VX_FIELD(dryLooperGain), "dryLooperSlider", "Dry Looper volume", 0, {64, 136, 132, 12}),
        level(VX_FIELD(secondLooperGain), "secondLooperSlider", "2nd Looper volume", 0, {64, 156, 132, 12}),
        level(VX_FIELD(slicerGain), "slicerSlider", "Slicer volume", 0, {64, 176, 132, 12}),
        level(VX_FIELD(vcf1Gain), "vcfLooper1Slider", "VCF Looper 1 volume", 0, {64, 204, 132, 12}),
        cutoff(VX_FIELD(vcf1Cutoff), "vcfLooper1CutoffSlider", "VCF Looper 1 cutoff", 200),
        resonance(VX_FIELD(vcf1Feedback), "vcf1Cutoff", "vcfLooper1ResonanceSlider", "VCF Looper 1 resonance",
                  213),
        level(VX_FIELD(vcf2Gain), "vcfLooper2Slider", "VCF Looper 2 volume", 64, {64, 233, 132, 12}),
        cutoff(VX_FIELD(vcf2Cutoff), "vcfLooper2CutoffSlider", "VCF Looper 2 cutoff", 229),
        resonance(VX_FIELD(vcf2Feedback), "vcf2Cutoff", "vcfLooper2ResonanceSlider", "VCF Looper 2 resonance",
                  242),
        Control{VX_FIELD(transpose), "transposeSlider", "Transpose", true, -12, 12, 0, identity,
                identityPosition, {}, ControlWidget::Slider, {64, 260, 224, 24, false, false, 1, 1, true}},
        // Tempo: the smallest step length (fastest tempo) at the top.
        Control{VX_FIELD(samplesPerStep), "tempoSlider", "Tempo", true, 2000, 20000, 5000, identity,
                identityPosition, {}, ControlWidget::Slider, {308, 16, 20, 252, true, true, 20, 500}},
        Control{VX_FIELD(masterGain), "masterSlider", "Master volume", false, 0, 128, 16, master, masterPosition,
                {}, ControlWidget::Slider, {224, 46, 20, 140, true, true}},
        // The Steps box, which "Set step!" reads; "Sequence" gives counts inside it too.
        Control{VX_FIELD(stepCount), "stepsEdit", "Steps", true, 3, 64, 16, identity, identityPosition, {},
                ControlWidget::StepsBox, {196, 17, 28, 13}},
        // In the Settings dialog: the kicks settle at a constant, and this takes it off the output.
        Control{VX_FIELD(dcFilter), "dcFilterCheckBox", "DC filter", true, 0, 1, 0, identity, identityPosition,
                {}, ControlWidget::SettingsCheckBox, {46, 48, 120, 10}},
    };
#undef VX_FIELD
    // clang-format on
    for (Control& c : table) {
        const Control* partner = nullptr;
        for (const Control& p : table)
            if (p.name == c.partnerName)
                partner = &p;
        const int first = partner ? partner->lowestPosition : 0;
        const int last = partner ? partner->highestPosition : 0;
        c.lowest = c.highest = c.value(c.startPosition, partner ? partner->value(first, 0.0f) : 0.0f);
        for (int pos = c.lowestPosition; pos <= c.highestPosition; ++pos)
            for (int other = first; other <= last; ++other) {
                const float v = c.value(pos, partner ? partner->value(other, 0.0f) : 0.0f);
                c.lowest = std::min(c.lowest, v);
                c.highest = std::max(c.highest, v);
            }
    }
    return table;
}

} // namespace

std::span<const Control> controls() {
    static const std::vector<Control> table = makeTable();
    return table;
}

const Control* findControl(std::string_view name) {
    return common::findRow(controls(), &Control::name, name);
}

void applyStartPositions(EngineParams& params) {
    for (const Control& c : controls()) {
        const Control* partner = findControl(c.partnerName);
        c.access.store(params,
                       c.value(c.startPosition, partner ? partner->value(partner->startPosition, 0) : 0));
    }
}

ControlValues captureControls(const EngineParams& params) {
    ControlValues values;
    for (const Control& c : controls())
        c.access.set(values, c.access.load(params));
    return values;
}

void applyControls(EngineParams& params, const ControlValues& values) {
    for (const Control& c : controls())
        c.access.store(params, c.access.get(values));
}

} // namespace vexla
