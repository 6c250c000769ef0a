// The window's sound device on the command line: --list-devices and --device in both syntaxes, the
// device found by index or name, refusals in one line, and the device list asked only when needed.
#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace common {
namespace {

const CommandLineSpec kSpec{
    "prog", 1000, {}, [](std::string_view, std::string_view) { return std::string(); }};
const std::vector<std::string> kDevices{"Built-in Audio", "USB Headset", "7", "HDMI 1"};

std::string parse(std::vector<std::string> args, RenderArguments& out) {
    return parseRenderArguments(args, kSpec, out);
}

TEST(DeviceOption, BothSyntaxesAndTheListFlag) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--device", "USB Headset"},
                                                 std::vector<std::string>{"--device=USB Headset"}}) {
        RenderArguments parsed;
        ASSERT_EQ(parse(args, parsed), "") << args[0];
        EXPECT_EQ(parsed.device, "USB Headset");
        EXPECT_FALSE(parsed.listDevices);
        EXPECT_TRUE(parsed.outputPath.empty());
    }
    RenderArguments listed;
    ASSERT_EQ(parse({"--list-devices"}, listed), "");
    EXPECT_TRUE(listed.listDevices);
}

TEST(DeviceOption, RefusalsAreOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {"--device"},
        {"--device", "--list-devices"}, // an option's name is not a device
        {"--device="},
        {"--device", "a", "--device", "b"},
        {"--list-devices=yes"},
        {"--render", "a.wav", "--frames", "5", "--device", "0"},
        {"--list-devices", "--seed", "3"},
        {"--device", "0", "--set", "x=1"},
    };
    for (const auto& args : bad) {
        RenderArguments parsed;
        const std::string problem = parse(args, parsed);
        EXPECT_FALSE(problem.empty()) << args[0];
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
    RenderArguments parsed;
    EXPECT_EQ(parse({"--seed", "3", "--device", "0"}, parsed),
              "--device does not go with --seed: it is for the window's sound output");
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

struct Outcome {
    std::optional<int> status;
    int deviceIndex = -1;
    int playedOn = -2; // the device a --play ran on
    std::optional<ClockSource> sync;
    int listsAsked = 0;
    int renders = 0;
    std::string out;
    std::string err;
};

Outcome runWith(std::vector<std::string> args, std::vector<std::string> devices = kDevices) {
    Outcome o;
    const DeviceList list = [&o, devices] {
        ++o.listsAsked;
        return devices;
    };
    const auto render = [&o](const RenderArguments& args) {
        ++o.renders;
        if (args.play)
            o.playedOn = args.deviceIndex;
        return args.play ? 0 : 1;
    };
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    WindowStart window{-1, ClockSource::MidiClock};
    o.status = runProgramCommandLine(args, kSpec, "usage text\n", render, list, window);
    o.deviceIndex = window.deviceIndex.value_or(-2);
    o.sync = window.sync;
    o.err = ::testing::internal::GetCapturedStderr();
    o.out = ::testing::internal::GetCapturedStdout();
    return o;
}

TEST(DeviceOption, WindowOpensOnTheChosenDevice) {
    const Outcome none = runWith({});
    EXPECT_EQ(none.status, std::nullopt);
    EXPECT_EQ(none.deviceIndex, -2); // not given: the window's stored choice
    EXPECT_EQ(none.listsAsked, 0);   // the window's output looks for devices itself

    for (const char* given : {"HDMI 1", "3"}) {
        const Outcome chosen = runWith({"--device", given});
        EXPECT_EQ(chosen.status, std::nullopt) << given;
        EXPECT_EQ(chosen.deviceIndex, 3) << given;
        EXPECT_TRUE(chosen.out.empty() && chosen.err.empty()) << chosen.err;
    }
    EXPECT_EQ(none.sync, std::nullopt);
    const Outcome following = runWith({"--sync", "midi"});
    EXPECT_EQ(following.status, std::nullopt);
    EXPECT_EQ(following.deviceIndex, -2);
    EXPECT_EQ(following.sync, ClockSource::MidiClock);
}

TEST(DeviceOption, UnknownDeviceIsRefusedWithStatus2) {
    for (const std::vector<std::string>& devices : {kDevices, std::vector<std::string>{}}) {
        const Outcome refused = runWith({"--device=Speakers"}, devices);
        EXPECT_EQ(refused.status, kExitUsage);
        EXPECT_EQ(refused.err, "prog: unknown sound device \"Speakers\" (see prog --list-devices)\n");
        EXPECT_TRUE(refused.out.empty());
    }
}

TEST(DeviceOption, ListPrintsIndexedNamesAndSucceedsEvenWithNone) {
    const Outcome listed = runWith({"--list-devices"});
    EXPECT_EQ(listed.status, kExitOk);
    EXPECT_EQ(listed.out, "0: Built-in Audio\n1: USB Headset\n2: 7\n3: HDMI 1\n");
    EXPECT_TRUE(listed.err.empty());
    EXPECT_EQ(listed.listsAsked, 1);

    const Outcome silent = runWith({"--list-devices"}, {});
    EXPECT_EQ(silent.status, kExitOk);
    EXPECT_TRUE(silent.out.empty()); // stdout lists devices only
    EXPECT_NE(silent.err.find("silent output"), std::string::npos);
}

TEST(DeviceOption, RenderAndHelpNeverLookForDevices) {
    const Outcome rendered = runWith({"--render", "a.wav", "--frames", "5"});
    EXPECT_EQ(rendered.status, 1); // what render returned
    EXPECT_EQ(rendered.renders, 1);
    const Outcome help = runWith({"--help", "--device", "nothing"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_EQ(help.out, "usage text\n");
    EXPECT_EQ(rendered.listsAsked + help.listsAsked, 0);
    const Outcome bad = runWith({"--frames", "5"});
    EXPECT_EQ(bad.status, kExitUsage);
    EXPECT_EQ(bad.renders + bad.listsAsked, 0);
}

TEST(PlayOption, TakesTheRenderOptionsAndADeviceWithOrWithoutALength) {
    RenderArguments parsed;
    ASSERT_EQ(parse({"--play", "--device", "jack", "--seed", "3", "--seconds", "2"}, parsed), "");
    EXPECT_TRUE(parsed.play);
    EXPECT_EQ(parsed.device, "jack");
    EXPECT_EQ(parsed.frames, 88200);
    EXPECT_EQ(parsed.seed, 3u);
    EXPECT_EQ(parsed.sync, ClockSource::Internal);
    ASSERT_EQ(parse({"--play"}, parsed), "");
    EXPECT_EQ(parsed.frames, 0); // until a signal
    ASSERT_EQ(parse({"--play", "--sync", "midi"}, parsed), "");
    EXPECT_EQ(parsed.sync, ClockSource::MidiClock);
    ASSERT_EQ(parse({"--play", "--sync", "jack"}, parsed), "");
    EXPECT_EQ(parsed.sync, ClockSource::JackTransport);
    ASSERT_EQ(parse({"--play", "--sync", "jack-master"}, parsed), "");
    EXPECT_EQ(parsed.sync, ClockSource::JackTimebase);
    ASSERT_EQ(parse({"--sync=internal"}, parsed), ""); // the window's
    EXPECT_EQ(parsed.sync, ClockSource::Internal);
}

TEST(PlayOption, RefusesWhatDoesNotGoWithIt) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
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
        EXPECT_TRUE(problem.starts_with(start)) << problem;
    }
}

TEST(PlayOption, PlaysOnTheDeviceItNamesAndListsDevicesOnlyWhenNamed) {
    const Outcome named = runWith({"--play", "--device", "HDMI 1"});
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.playedOn, 3);
    EXPECT_EQ(named.listsAsked, 1);
    const Outcome first = runWith({"--play"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.playedOn, 0);
    EXPECT_EQ(first.listsAsked, 0); // the first device needs no list
    const Outcome unknown = runWith({"--play", "--device", "nowhere"});
    EXPECT_EQ(unknown.status, kExitUsage);
    EXPECT_EQ(unknown.renders, 0);
}

} // namespace
} // namespace common
