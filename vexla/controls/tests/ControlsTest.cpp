// The control table as a whole: every mapping against its inverse, the computed ranges against what
// --set accepts, and the start positions against the engine's own defaults.
#include "vexla/controls/Controls.h"

#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace vexla {
namespace {

float partnerValue(const Control& c, int partnerPosition) {
    const Control* partner = findControl(c.partnerName);
    return partner ? partner->value(partnerPosition, 0.0f) : 0.0f;
}

TEST(Controls, EveryMappingAndItsInverseRoundTripOverEveryPosition) {
    for (const Control& c : controls()) {
        SCOPED_TRACE(std::string(c.name));
        for (int other : {0, 17, 64, 128}) {
            const float partner = partnerValue(c, other);
            for (int pos = c.lowestPosition; pos <= c.highestPosition; ++pos) {
                const float v = c.value(pos, partner);
                ASSERT_GE(v, c.lowest);
                ASSERT_LE(v, c.highest);
                // A clamped end maps several positions to one value: the value must come back.
                ASSERT_EQ(c.value(c.position(v, partner), partner), v) << "position " << pos;
            }
        }
    }
}

TEST(Controls, SetAcceptsExactlyTheRangeTheSliderGivesAndSaysSo) {
    for (const Control& c : controls()) {
        SCOPED_TRACE(std::string(c.name));
        const common::SettableField f{std::string(c.name), c.lowest, c.highest, c.whole};
        const std::string range = common::formatRange(f);
        const std::string low = range.substr(0, range.find(".."));
        const std::string high = range.substr(range.find("..") + 2);
        const common::SettableField* found = nullptr;
        double value = 0;
        // The bounds as the message writes them are accepted and stored exactly as the slider's ends.
        for (const std::string& bound : {low, high}) {
            ASSERT_EQ(common::parseAssignment(f.name + "=" + bound, {&f, 1}, found, value), "") << bound;
            EXPECT_EQ(static_cast<float>(value), bound == low ? c.lowest : c.highest);
        }
        const double below = c.whole ? c.lowest - 1 : std::nextafter(c.lowest, -1e9f);
        const double above = c.whole ? c.highest + 1 : std::nextafter(c.highest, 1e9f);
        for (double outside : {below, above}) {
            char text[64];
            std::snprintf(text, sizeof text, "%.9g", outside);
            const std::string problem = common::parseAssignment(f.name + "=" + text, {&f, 1}, found, value);
            EXPECT_NE(problem.find(range), std::string::npos) << text << ": " << problem;
        }
    }
}

TEST(Controls, FeedbackBoundIsWhatTheCornersGiveInFloat) {
    const Control* fb = findControl("vcf1Feedback");
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(fb->lowest, 0.05f + 0.05f / (1.0f - 0.05f));
    EXPECT_EQ(fb->highest, 0.95f + 0.95f / (1.0f - 0.95f));
    const common::SettableField f{"vcf1Feedback", fb->lowest, fb->highest, false};
    const common::SettableField* found = nullptr;
    double value = 0;
    // 19.95 lies above what the sliders give; the message names the true bound, which is accepted.
    const std::string problem = common::parseAssignment("vcf1Feedback=19.95", {&f, 1}, found, value);
    ASSERT_NE(problem, "");
    const std::string shown =
        problem.substr(problem.find("..") + 2, problem.find(',') - problem.find("..") - 2);
    EXPECT_EQ(common::parseAssignment("vcf1Feedback=" + shown, {&f, 1}, found, value), "") << problem;
}

TEST(Controls, NamesAreUniqueAndStartPositionsGiveTheEngineDefaults) {
    std::set<std::string_view> names, objects;
    for (const Control& c : controls()) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_TRUE(objects.insert(c.objectName).second) << c.objectName;
        EXPECT_GE(c.startPosition, c.lowestPosition);
        EXPECT_LE(c.startPosition, c.highestPosition);
    }
    // Every engine field the controls set has its row, and no row lacks a field.
#define VX_FIELD_NAME(type, name, start) #name,
    for (std::string_view field : {VEXLA_CONTROL_FIELDS(VX_FIELD_NAME)})
        EXPECT_NE(findControl(field), nullptr) << field;
    EXPECT_EQ(controls().size(), std::size({VEXLA_CONTROL_FIELDS(VX_FIELD_NAME)}));
#undef VX_FIELD_NAME
    // The engine's defaults are its start values: start-up changes nothing a fresh engine holds.
    EngineParams fresh;
    const ControlValues before = captureControls(fresh);
    applyStartPositions(fresh);
    EXPECT_EQ(captureControls(fresh), before);
    EXPECT_EQ(before, ControlValues{});
}

} // namespace
} // namespace vexla
