// Zintor's slider table as a whole: every mapping against its inverse over every position, through the
// engine and through a scene's state, and --set accepting exactly what each slider can give.
#include "zintor/controls/Controls.h"

#include "common/CommandLine.h"

#include <gtest/gtest.h>

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

TEST(Controls, NamesAndWidgetsAreUniqueAndStartsInRange) {
    std::set<std::string_view> names, objects;
    for (const Control& c : controls()) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_TRUE(objects.insert(c.objectName).second) << c.objectName;
        EXPECT_GE(c.startPosition, c.lowestPosition) << c.name;
        EXPECT_LE(c.startPosition, c.highestPosition) << c.name;
    }
}

} // namespace
} // namespace zintor
