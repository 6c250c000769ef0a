// Capturing and restoring the synth's sound state.
#include "zintor/engine/SynthState.h"

#include "zintor/engine/SynthEngine.h"

namespace zintor {

namespace {
/// Visits each control of the parts `parts` as (engine atomic, its value in each of `states`).
template <class Engine, class Visit, class... States>
void forEachControl(Engine& engine, unsigned parts, Visit&& visit, States&... states) {
    const auto noise = [&](auto& controls, auto&... x) {
#define ZN_VISIT_FIELD(type, name, start) visit(controls.name, x.name...);
        ZINTOR_NOISE_FIELDS(ZN_VISIT_FIELD)
#undef ZN_VISIT_FIELD
    };
    if (parts & kStateControls) {
        auto& p = engine.params;
#define ZN_VISIT_FIELD(type, name, start) visit(p.name, states.controls.name...);
        ZINTOR_CONTROL_FIELDS(ZN_VISIT_FIELD)
#undef ZN_VISIT_FIELD
#define ZN_VISIT_FIELD(type, name, start) visit(engine.kick.name, states.controls.kick.name...);
        ZINTOR_KICK_FIELDS(ZN_VISIT_FIELD)
#undef ZN_VISIT_FIELD
        noise(engine.hitVoice, states.controls.hit...);
        noise(engine.snareVoice, states.controls.snare...);
        noise(engine.hatVoice, states.controls.hat...);
    }
    const auto sound = [&](auto& controls, auto&... x) {
#define ZN_VISIT_FIELD(type, name, start) visit(controls.name, x.name...);
        ZINTOR_VOICE_FIELDS(ZN_VISIT_FIELD)
#undef ZN_VISIT_FIELD
    };
    if (parts & kStateControls) {
        sound(engine.synthLine1, states.synthLine1.sound...);
        sound(engine.synthLine2, states.synthLine2.sound...);
    }
    if (parts & kStateSubBass)
        sound(engine.subBass, states.subBass.sound...);
}

} // namespace

SynthState captureLiveControls(const SynthEngine& engine) {
    SynthState state;
    forEachControl(
        engine, kStateEverything,
        [](const auto& atomic, auto& value) { value = atomic.load(std::memory_order_relaxed); }, state);
    return state;
}

SynthState captureState(const SynthEngine& engine) {
    SynthState state = captureLiveControls(engine);
    state.synthLine1.phrase = engine.phrase(kSynthLine1);
    state.synthLine2.phrase = engine.phrase(kSynthLine2);
    state.subBass.phrase = engine.phrase(kSubBass);
    // A waiting state's controls, where the window has not set them since; its phrases are already in
    // the engine's record of what was sent.
    SynthState posted;
    SynthState before;
    unsigned parts = 0;
    if (engine.statePending(posted, before, parts)) {
        forEachControl(
            engine, parts,
            [](const auto& atomic, auto& waiting, const auto& old) {
                if (atomic.load(std::memory_order_relaxed) != old)
                    waiting = atomic.load(
                        std::memory_order_relaxed); // the window has set it since: its value stays
            },
            posted, before);
        forEachControl(
            engine, parts, [](const auto&, auto& shown, const auto& waiting) { shown = waiting; }, state,
            posted);
    }
    return state;
}

void applyState(SynthEngine& engine, const SynthState& state, unsigned parts) {
    engine.postState(state, parts);
    engine.settle();
}

void replaceControls(SynthEngine& engine, const SynthState& state, const SynthState& before, unsigned parts) {
    forEachControl(
        engine, parts,
        [](auto& atomic, const auto& value, const auto& old) {
            auto held = old; // compare_exchange writes the value it found here
            atomic.compare_exchange_strong(held, value, std::memory_order_relaxed);
        },
        state, before);
}

void chainControls(const SynthEngine& engine, SynthState& controls, const SynthState& before,
                   const SynthState& target, unsigned parts) {
    forEachControl(
        engine, parts,
        [](const auto&, auto& value, const auto& old, const auto& next) {
            if (value == old)
                value = next;
        },
        controls, before, target);
}

void copyStateParts(SynthState& to, const SynthState& from, unsigned parts) {
    if (parts & kStateControls) {
        to.controls = from.controls;
        to.synthLine1.sound = from.synthLine1.sound;
        to.synthLine2.sound = from.synthLine2.sound;
    }
    if (parts & kStateLine1Phrase)
        to.synthLine1.phrase = from.synthLine1.phrase;
    if (parts & kStateLine2Phrase)
        to.synthLine2.phrase = from.synthLine2.phrase;
    if (parts & kStateSubBass)
        to.subBass = from.subBass;
}

} // namespace zintor
