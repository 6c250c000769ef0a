// Zintor's slider table as a whole: what each slider gives the engine, every mapping against its inverse
// over every position, through the engine and through a scene's state, and --set accepting exactly what
// each slider can give.
#include "zintor/controls/Controls.h"

#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

namespace zintor {
namespace {

TEST(Controls, EveryPositionComesBackThroughItsValueTheEngineAndAScene) {
    auto engine = std::make_unique<SynthEngine>();
    SynthState state;
    for (const Control& c : controls()) {
        SCOPED_TRACE(std::string(c.name));
        for (int pos = c.lowestPosition; pos <= c.highestPosition; ++pos) {
            const float v = c.value(pos);
            ASSERT_GE(v, c.lowest);
            ASSERT_LE(v, c.highest);
            ASSERT_EQ(c.position(v), pos);
            c.access.store(*engine, v);
            ASSERT_EQ(c.position(c.access.load(*engine)), pos);
            c.access.set(state, v);
            ASSERT_EQ(c.position(c.access.get(state)), pos);
        }
    }
}

TEST(Controls, EachSliderGivesTheEngineItsValuesTheRightWayRound) {
    // The ends of the mappings that are turned round or not straight; the start positions are held by the
    // golden renders, which begin from them.
    struct Spot {
        const char* name;
        int position;
        double value;
    };
    const Spot spots[] = {
        {"masterGain", 0, 24000}, // the top of the slider is loudest
        {"masterGain", 24000, 0},
        {"globalTranspose", -12, -12},
        {"subBassGain", 1, 0.001},
        {"subBassGain", 2000, 2.0},
        {"kick.pitchDecay", 850, 0.85},
        {"synthLine1.filterType", 2, 2},
        {"synthLine1.inertia", 1, 1e-6},
        {"synthLine1.inertia", 1000, 0.001},
        {"synthLine1.cutoff", 1, 0.001},
        {"synthLine1.driveCeiling", 1, 0.999}, // more overdrive, a lower ceiling
        {"synthLine1.driveCeiling", 950, 0.05},
        {"synthLine1.volume", 400, 0.4},
    };
    auto engine = std::make_unique<SynthEngine>();
    for (const Spot& spot : spots) {
        const Control* c = findControl(spot.name);
        ASSERT_NE(c, nullptr) << spot.name;
        c->access.store(*engine, c->value(spot.position));
        EXPECT_NEAR(c->access.load(*engine), spot.value, 1e-6 * std::max(1.0, std::abs(spot.value)))
            << spot.name << " at " << spot.position;
    }
    // Osc Mix crossfades: each oscillator at full level up to the middle, then fading out.
    struct Mix {
        int position;
        float level1;
        float level2;
    };
    for (const Mix m : {Mix{0, 1.0f, 0.0f}, Mix{64, 1.0f, 0.5f}, Mix{128, 1.0f, 1.0f}, Mix{192, 0.5f, 1.0f},
                        Mix{256, 0.0f, 1.0f}}) {
        findControl("synthLine2.oscMix")->access.store(*engine, m.position);
        EXPECT_EQ(engine->synthLine2.osc1Level.load(), m.level1) << m.position;
        EXPECT_EQ(engine->synthLine2.osc2Level.load(), m.level2) << m.position;
    }
}

TEST(Controls, SetAcceptsExactlyTheRangeTheSliderGives) {
    for (const Control& c : controls()) {
        SCOPED_TRACE(std::string(c.name));
        const common::SettableField f{std::string(c.name), c.lowest, c.highest, c.whole};
        const std::string range = common::formatRange(f);
        const common::SettableField* found = nullptr;
        double value = 0;
        for (const std::string& bound :
             {range.substr(0, range.find("..")), range.substr(range.find("..") + 2)})
            EXPECT_EQ(common::parseAssignment(f.name + "=" + bound, {&f, 1}, found, value), "") << bound;
        const double below = c.whole ? c.lowest - 1 : std::nextafter(c.lowest, -1e9f);
        const double above = c.whole ? c.highest + 1 : std::nextafter(c.highest, 1e9f);
        for (double outside : {below, above}) {
            char text[64];
            std::snprintf(text, sizeof text, "%.9g", outside);
            EXPECT_NE(common::parseAssignment(f.name + "=" + text, {&f, 1}, found, value), "") << text;
        }
    }
}

TEST(Controls, NamesAndWidgetsAreUnique) {
    std::set<std::string_view> names, objects;
    for (const Control& c : controls()) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_TRUE(objects.insert(c.objectName).second) << c.objectName;
    }
}

} // namespace
} // namespace zintor
