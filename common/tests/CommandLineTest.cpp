// The shared --render command line: both option syntaxes, option names never taken as values, numbers,
// lengths, and ordered actions kept in order.
#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace common {
namespace {

const CommandLineSpec kSpec{"test", 1000, {"--load"}, [](std::string_view option, std::string_view value) {
                                return option == "--press" && value == "bad" ? std::string("unknown button")
                                                                             : std::string();
                            }};

std::string parse(std::vector<std::string> args, RenderArguments& out) {
    return parseRenderArguments(args, kSpec, out);
}

TEST(CommandLine, BothSyntaxesGiveTheSameArgumentsAndActionsKeepTheirOrder) {
    RenderArguments spaced, joined;
    ASSERT_EQ(parse({"--render", "a.wav", "--seconds", "0.5", "--seed", "7", "--set", "x=1", "--press", "P",
                     "--load", "dry=f.wav", "--block", "64"},
                    spaced),
              "");
    ASSERT_EQ(parse({"--render=a.wav", "--seconds=0.5", "--seed=7", "--set=x=1", "--press=P",
                     "--load=dry=f.wav", "--block=64"},
                    joined),
              "");
    for (const RenderArguments* a : {&spaced, &joined}) {
        EXPECT_EQ(a->outputPath, "a.wav");
        EXPECT_EQ(a->frames, 22050);
        EXPECT_EQ(a->seed, 7u);
        EXPECT_EQ(a->blockFrames, 64);
        ASSERT_EQ(a->actions.size(), 3u);
        EXPECT_EQ(a->actions[0].value, "x=1");
        EXPECT_EQ(a->actions[1].option, "--press");
        EXPECT_EQ(a->actions[2].value, "dry=f.wav");
    }
    RenderArguments defaults;
    ASSERT_EQ(parse({"--frames", "10", "--render", "b.wav"}, defaults), "");
    EXPECT_EQ(defaults.blockFrames, 1000);
    EXPECT_FALSE(defaults.seed);
}

TEST(CommandLine, BadArgumentsGiveOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {"--render", "--seed", "3", "--frames", "10"}, // an option's name is not a file name
        {"--render", "a.wav", "--frames"},
        {"--render", "a.wav", "--frames", "1.5"},
        {"--render", "a.wav", "--frames", "0"},
        {"--render", "a.wav", "--seconds", "nan"},
        {"--render", "a.wav", "--seconds", "1e12"},
        {"--render", "a.wav", "--seconds", "1", "--frames", "5"},
        {"--render", "a.wav", "--frames", "5", "--seed", "-1"},
        {"--render", "a.wav", "--frames", "5", "--seed", "4294967296"},
        {"--render", "a.wav", "--frames", "5", "--block", "65537"},
        {"--render", "a.wav", "--frames", "5", "--press", "bad"},
        {"--render", "a.wav", "--frames", "5", "--volume", "3"},
        {"--render", "a.wav", "--render", "b.wav", "--frames", "5"},
        {"--render=", "--frames", "5"},
        {"--help=yes"},
        {"--frames", "5"},
        {"--render", "a.wav"},
    };
    for (const auto& args : bad) {
        RenderArguments out;
        const std::string problem = parse(args, out);
        EXPECT_FALSE(problem.empty()) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
    RenderArguments help;
    EXPECT_EQ(parse({"--help"}, help), "");
    EXPECT_TRUE(help.help);
}

TEST(CommandLine, NumbersAreFiniteDecimalsAndWholeNumbersWhole) {
    EXPECT_EQ(parseNumber("+2.5"), 2.5);
    EXPECT_EQ(parseNumber("-1e3"), -1000.0);
    for (const char* bad : {"", "+", "nan", "inf", "1x", " 1", "0x10"})
        EXPECT_FALSE(parseNumber(bad)) << bad;
    EXPECT_EQ(parseWholeNumber("1e3"), 1000);
    EXPECT_FALSE(parseWholeNumber("2.5"));
}

TEST(CommandLine, AssignmentsAreCheckedAsTheEngineHoldsThem) {
    const SettableField fields[] = {{"gain", 0.0, 0.97, false}, {"steps", 3, 64, true}};
    const SettableField* field = nullptr;
    double value = 0;
    EXPECT_EQ(parseAssignment("gain=0.97", fields, field, value), ""); // the float bound itself
    EXPECT_EQ(field, &fields[0]);
    EXPECT_NE(parseAssignment("gain=0.9700001", fields, field, value), "");
    EXPECT_EQ(parseAssignment("steps=64", fields, field, value), "");
    EXPECT_NE(parseAssignment("steps=8.5", fields, field, value).find("whole"), std::string::npos);
    EXPECT_NE(parseAssignment("steps=65", fields, field, value).find("3..64"), std::string::npos);
    EXPECT_NE(parseAssignment("loud=1", fields, field, value).find("unknown"), std::string::npos);
    EXPECT_NE(parseAssignment("gain", fields, field, value), "");
}

TEST(ClockSeed, RendersStartedWithinOneSecondGetDifferentSeeds) {
    std::vector<std::uint32_t> seeds;
    for (int i = 0; i < 3; ++i) {
        seeds.push_back(clockSeed());
        std::this_thread::sleep_for(std::chrono::microseconds(2));
    }
    EXPECT_NE(seeds[0], seeds[1]);
    EXPECT_NE(seeds[1], seeds[2]);
    EXPECT_NE(seeds[0], seeds[2]);
}

} // namespace
} // namespace common
