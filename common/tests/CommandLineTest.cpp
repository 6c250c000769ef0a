// The shared command line: both option syntaxes, option names never taken as values, numbers, lengths,
// ordered actions kept in order, refusals in one line; the window's sound device (--list-devices,
// --device) found by index or name with the device list asked only when needed; live play (--play).
#include "common/CommandLine.h"
#include "common/tests/ScratchDir.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

namespace common {
namespace {

const CommandLineSpec kSpec{"prog", 1000, {"--load"}, [](std::string_view option, std::string_view value) {
                                return option == "--press" && value == "bad" ? std::string("unknown button")
                                                                             : std::string();
                            }};
const std::vector<std::string> kDevices{"Built-in Audio", "USB Headset", "7", "HDMI 1"};

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
    for (const auto& args : {std::vector<std::string>{"--device", "USB Headset"},
                             std::vector<std::string>{"--device=USB Headset"}}) {
        RenderArguments parsed;
        ASSERT_EQ(parse(args, parsed), "");
        EXPECT_EQ(parsed.device, "USB Headset");
        EXPECT_TRUE(parsed.outputPath.empty());
    }
}

TEST(CommandLine, PlayTakesTheRenderOptionsADeviceAndTheClockToFollow) {
    RenderArguments parsed;
    ASSERT_EQ(parse({"--play", "--device", "jack", "--seed", "3", "--seconds", "2"}, parsed), "");
    EXPECT_TRUE(parsed.play);
    EXPECT_EQ(parsed.device, "jack");
    EXPECT_EQ(parsed.frames, 88200);
    EXPECT_EQ(parsed.seed, 3u);
    EXPECT_EQ(parsed.sync, ClockSource::Internal);
    ASSERT_EQ(parse({"--play"}, parsed), "");
    EXPECT_EQ(parsed.frames, 0); // until a signal
    const std::pair<const char*, ClockSource> clocks[] = {{"midi", ClockSource::MidiClock},
                                                          {"jack", ClockSource::JackTransport},
                                                          {"jack-master", ClockSource::JackTimebase}};
    for (const auto& [name, clock] : clocks) {
        ASSERT_EQ(parse({"--play", "--sync", name}, parsed), "");
        EXPECT_EQ(parsed.sync, clock) << name;
    }
    ASSERT_EQ(parse({"--sync=internal"}, parsed), ""); // the window's
    EXPECT_EQ(parsed.sync, ClockSource::Internal);
}

TEST(CommandLine, RefusalsAreOneLineThatSaysWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--render", "--seed", "3", "--frames", "10"}, ""}, // an option's name is not a file name
        {{"--render", "a.wav", "--frames"}, ""},
        {{"--render", "a.wav", "--frames", "1.5"}, ""},
        {{"--render", "a.wav", "--frames", "0"}, ""},
        {{"--render", "a.wav", "--seconds", "nan"}, ""},
        {{"--render", "a.wav", "--seconds", "1e12"}, ""},
        {{"--render", "a.wav", "--seconds", "1", "--frames", "5"}, ""},
        {{"--render", "a.wav", "--frames", "5", "--seed", "-1"}, ""},
        {{"--render", "a.wav", "--frames", "5", "--seed", "4294967296"}, ""},
        {{"--render", "a.wav", "--frames", "5", "--block", "65537"}, ""},
        {{"--render", "a.wav", "--frames", "5", "--press", "bad"}, ""},
        {{"--render", "a.wav", "--frames", "5", "--volume", "3"}, ""},
        {{"--render", "a.wav", "--render", "b.wav", "--frames", "5"}, ""},
        {{"--render=", "--frames", "5"}, ""},
        {{"--help=yes"}, ""},
        {{"--frames", "5"}, ""},
        {{"--render", "a.wav"}, ""},
        {{"--device"}, ""},
        {{"--device", "--list-devices"}, ""}, // an option's name is not a device
        {{"--device="}, ""},
        {{"--device", "a", "--device", "b"}, ""},
        {{"--list-devices=yes"}, ""},
        {{"--render", "a.wav", "--frames", "5", "--device", "0"}, ""},
        {{"--list-devices", "--seed", "3"}, ""},
        {{"--device", "0", "--set", "x=1"}, ""},
        {{"--seed", "3", "--device", "0"},
         "--device does not go with --seed: it is for the window's sound output"},
        {{"--play", "--render", "a.wav", "--frames", "5"}, "--play does not go with --render"},
        {{"--play", "--save-scene", "s.json"}, "--save-scene does not go with --play"},
        {{"--play", "--list-devices"}, "--list-devices does not go with --play"},
        {{"--play=yes"}, "--play takes no value"},
        {{"--play", "--sync", "tape"}, "--sync needs one of internal, midi"},
        {{"--play", "--sync", "midi", "--sync", "midi"}, "--sync given twice"},
        {{"--render", "a.wav", "--frames", "5", "--sync", "midi"}, "--sync does not go with --render"},
    };
    for (const auto& [args, start] : refused) {
        RenderArguments parsed;
        const std::string problem = parse(args, parsed);
        EXPECT_FALSE(problem.empty()) << testing::PrintToString(args);
        EXPECT_TRUE(problem.starts_with(start)) << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
    RenderArguments help;
    EXPECT_EQ(parse({"--help"}, help), "");
    EXPECT_TRUE(help.help);
}

TEST(CommandLine, NumbersAreFiniteDecimalsAndAssignmentsAreCheckedAsTheEngineHoldsThem) {
    EXPECT_EQ(parseNumber("+2.5"), 2.5);
    EXPECT_EQ(parseNumber("-1e3"), -1000.0);
    for (const char* bad : {"", "+", "nan", "inf", "1x", " 1", "0x10"})
        EXPECT_FALSE(parseNumber(bad)) << bad;
    EXPECT_EQ(parseWholeNumber("1e3"), 1000);
    EXPECT_FALSE(parseWholeNumber("2.5"));

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

TEST(CommandLine, RendersStartedWithinOneSecondGetDifferentSeeds) {
    const std::uint32_t first = clockSeed();
    std::this_thread::sleep_for(std::chrono::microseconds(2));
    EXPECT_NE(clockSeed(), first);
}

// A full disk (here the process's file size limit) ends a render at its first failed write: a long render
// must not run on to its end before saying so.
TEST(CommandLine, ARenderStopsAtTheFirstFailedWrite) {
    const test::ScratchDir scratch("render-full");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1 << 20; // about 6 s of 16-bit stereo
    ::setrlimit(RLIMIT_FSIZE, &small);
    RenderArguments args;
    args.outputPath = (scratch.path() / "out.wav").string();
    args.frames = 1800LL * 44100;
    args.blockFrames = 512;
    std::int64_t rendered = 0;
    testing::internal::CaptureStderr();
    const int status = renderToFile(
        "prog", args, 1,
        [&](std::int16_t* out, int frames) {
            std::fill_n(out, 2 * frames, std::int16_t{1000});
            rendered += frames;
        },
        [] { return std::string(); });
    const std::string err = testing::internal::GetCapturedStderr();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(status, kExitFailure);
    EXPECT_NE(err.find("failed"), std::string::npos) << err;
    EXPECT_LT(rendered, 60LL * 44100) << "rendered on after the disk was full";
}

TEST(DeviceOption, DeviceIsFoundByIndexOrExactName) {
    EXPECT_EQ(findDevice("0", kDevices), 0);
    EXPECT_EQ(findDevice("3", kDevices), 3);
    EXPECT_EQ(findDevice("HDMI 1", kDevices), 3);
    EXPECT_EQ(findDevice("USB Headset", kDevices), 1);
    EXPECT_EQ(findDevice("7", kDevices), 2); // no device 7: the name "7"
    for (const char* unknown :
         {"4", "-1", "1.0", "+1", "1e0", "usb headset", "USB", "", "99999999999999999999"})
        EXPECT_EQ(findDevice(unknown, kDevices), std::nullopt) << unknown;
    EXPECT_EQ(findDevice("0", {}), std::nullopt);
}

TEST(DeviceOption, TheProgramsCommandLineOpensTheWindowListsRendersOrPlaysAndAsksForDevicesOnlyWhenNeeded) {
    struct Row {
        std::vector<std::string> args;
        std::optional<int> status; // nullopt: the window opens
        int windowDevice = -2;     // -2: the window's stored choice
        int playedOn = -2;
        int listsAsked = 0; // -1: not checked
        int renders = 0;
        std::string out = "";
        std::string err = ""; // a part of what is said on stderr; "" when nothing may be
        std::vector<std::string> devices = kDevices;
        std::optional<ClockSource> sync = std::nullopt;
    };
    const std::string unknown = "prog: unknown sound device \"Speakers\" (see prog --list-devices)\n";
    const Row rows[] = {
        {.args = {}, .status = std::nullopt},
        {.args = {"--device", "HDMI 1"}, .status = std::nullopt, .windowDevice = 3, .listsAsked = 1},
        {.args = {"--device", "3"}, .status = std::nullopt, .windowDevice = 3, .listsAsked = 1},
        {.args = {"--sync", "midi"}, .status = std::nullopt, .sync = ClockSource::MidiClock},
        {.args = {"--device=Speakers"}, .status = kExitUsage, .listsAsked = 1, .err = unknown},
        {.args = {"--device=Speakers"}, .status = kExitUsage, .listsAsked = 1, .err = unknown, .devices = {}},
        {.args = {"--list-devices"},
         .status = kExitOk,
         .listsAsked = 1,
         .out = "0: Built-in Audio\n1: USB Headset\n2: 7\n3: HDMI 1\n"},
        {.args = {"--list-devices"},
         .status = kExitOk,
         .listsAsked = 1,
         .err = "silent output",
         .devices = {}},
        {.args = {"--render", "a.wav", "--frames", "5"}, .status = 1, .renders = 1}, // what render returned
        {.args = {"--help", "--device", "nothing"}, .status = kExitOk, .out = "usage text\n"},
        {.args = {"--frames", "5"}, .status = kExitUsage, .err = "prog: "},
        {.args = {"--play", "--device", "HDMI 1"}, .status = 0, .playedOn = 3, .listsAsked = 1, .renders = 1},
        {.args = {"--play"}, .status = 0, .playedOn = 0, .renders = 1}, // the first device needs no list
        {.args = {"--play", "--device", "nowhere"}, .status = kExitUsage, .listsAsked = 1, .err = "nowhere"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        int playedOn = -2, listsAsked = 0, renders = 0;
        const DeviceList list = [&] {
            ++listsAsked;
            return row.devices;
        };
        const auto render = [&](const RenderArguments& args) {
            ++renders;
            if (args.play)
                playedOn = args.deviceIndex;
            return args.play ? 0 : 1;
        };
        WindowStart window{-1, ClockSource::Internal}; // what the command line does not say must go
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const std::optional<int> status =
            runProgramCommandLine(row.args, kSpec, "usage text\n", render, list, window);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(window.deviceIndex.value_or(-2), row.windowDevice);
        EXPECT_EQ(window.sync, row.sync);
        EXPECT_EQ(playedOn, row.playedOn);
        EXPECT_TRUE(row.listsAsked < 0 || listsAsked == row.listsAsked) << listsAsked;
        EXPECT_EQ(renders, row.renders);
        EXPECT_EQ(out, row.out);
        EXPECT_TRUE(row.err.empty() ? err.empty() : err.find(row.err) != std::string::npos) << err;
    }
}

} // namespace
} // namespace common
