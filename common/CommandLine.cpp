// The shared --render command line: option syntax, numbers, lengths and the --set check.
#include "common/CommandLine.h"

#include "common/WavRecorder.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

constexpr int kSampleRate = 44100;
// The data chunk of a 16-bit stereo WAV holds at most this many frames.
constexpr std::int64_t kMaxFrames = static_cast<std::int64_t>(WavRecorder::kMaxDataBytes / 4);

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string asStored(double value, bool whole) {
    char text[32];
    if (whole)
        return std::to_string(static_cast<long long>(value));
    const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(value)).ptr;
    return std::string(text, end);
}

struct Parser {
    const CommandLineSpec& spec;
    RenderArguments& out;
    bool lengthGiven = false;
    bool blockGiven = false;
    std::string renderOption; ///< the first option of a render, if any

    std::string path(std::string& to, std::string_view option, std::string_view value) {
        if (!to.empty())
            return std::string(option) + " given twice";
        if (value.empty())
            return std::string(option) + " needs a file name";
        to = value;
        return {};
    }

    std::string length(std::string_view option, std::string_view value) {
        if (lengthGiven)
            return "give the length once, with --seconds or --frames";
        lengthGiven = true;
        const std::optional<double> number = parseNumber(value);
        if (!number)
            return std::string(option) + " needs a number, got " + inQuotes(value);
        double frames = *number;
        if (option == "--seconds")
            frames = std::round(*number * kSampleRate);
        else if (frames != std::floor(frames))
            return "--frames needs a whole number, got " + inQuotes(value);
        if (!(frames >= 1.0) || frames > static_cast<double>(kMaxFrames))
            return std::string(option) + " must give 1.." + std::to_string(kMaxFrames) +
                   " frames (a WAV file's limit), got " + inQuotes(value);
        out.frames = static_cast<std::int64_t>(frames);
        return {};
    }

    std::string whole(std::string_view option, std::string_view value, std::int64_t lowest,
                      std::int64_t highest, std::int64_t& to) {
        const std::optional<std::int64_t> number = parseWholeNumber(value);
        if (!number || *number < lowest || *number > highest)
            return std::string(option) + " needs a whole number within " + std::to_string(lowest) + ".." +
                   std::to_string(highest) + ", got " + inQuotes(value);
        to = *number;
        return {};
    }

    std::string option(std::string_view option, std::string_view value) {
        if (option == "--sync") {
            if (out.syncGiven)
                return "--sync given twice";
            out.syncGiven = true;
            const std::optional<ClockSource> source = clockSourceNamed(value);
            if (!source) {
                std::string words;
                for (const ClockSourceName& name : kClockSources)
                    words += (words.empty() ? "" : ", ") + std::string(name.option);
                return "--sync needs one of " + words + ", got " + inQuotes(value);
            }
            out.sync = *source;
            return {};
        }
        if (option == "--device") {
            if (!out.device.empty())
                return "--device given twice";
            if (value.empty())
                return "--device needs a device's name or index (see --list-devices)";
            out.device = value;
            return {};
        }
        if (renderOption.empty())
            renderOption = option;
        if (option == "--render")
            return path(out.outputPath, option, value);
        if (option == "--scene")
            return path(out.scenePath, option, value);
        if (option == "--save-scene")
            return path(out.saveScenePath, option, value);
        if (option == "--seconds" || option == "--frames")
            return length(option, value);
        std::int64_t number = 0;
        if (option == "--seed") {
            std::string problem = whole(option, value, 0, 0xFFFFFFFFll, number);
            out.seed = static_cast<std::uint32_t>(number);
            return problem;
        }
        if (option == "--block") {
            if (blockGiven)
                return "--block given twice";
            blockGiven = true;
            std::string problem = whole(option, value, 1, kMaxBlockFrames, number);
            out.blockFrames = static_cast<int>(number);
            return problem;
        }
        if (std::string problem = spec.checkAction(option, value); !problem.empty())
            return problem;
        out.actions.push_back({std::string(option), std::string(value)});
        return {};
    }

    bool known(std::string_view option) const {
        for (std::string_view name : {"--render", "--seconds", "--frames", "--seed", "--block", "--scene",
                                      "--save-scene", "--set", "--press", "--device", "--sync"})
            if (option == name)
                return true;
        for (std::string_view name : spec.orderedOptions)
            if (option == name)
                return true;
        return false;
    }
};

} // namespace

std::optional<double> parseNumber(std::string_view text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    double value = 0.0;
    const auto result = std::from_chars(begin, end, value);
    if (begin == end || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> parseWholeNumber(std::string_view text) {
    const std::optional<double> value = parseNumber(text);
    if (!value || *value != std::floor(*value) || std::fabs(*value) > 9.0e15)
        return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

std::string formatRange(const SettableField& field) {
    return asStored(field.lowest, field.whole) + ".." + asStored(field.highest, field.whole);
}

std::string parseAssignment(std::string_view text, std::span<const SettableField> fields,
                            const SettableField*& field, double& value) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return "--set needs FIELD=VALUE, got " + inQuotes(text);
    const std::string_view name = text.substr(0, equals);
    const std::string_view given = text.substr(equals + 1);
    field = nullptr;
    for (const SettableField& f : fields)
        if (f.name == name)
            field = &f;
    if (!field)
        return "unknown field " + inQuotes(name) + " for --set (see --help)";
    const std::optional<double> number = parseNumber(given);
    if (!number)
        return "--set " + std::string(name) + " needs a number, got " + inQuotes(given);
    if (field->whole && *number != std::floor(*number))
        return "--set " + std::string(name) + " needs a whole number, got " + inQuotes(given);
    // Compared as the engine holds the value, so that the bounds the message shows are inside the range.
    const auto held = [&](double v) { return field->whole ? v : static_cast<double>(static_cast<float>(v)); };
    if (held(*number) < held(field->lowest) || held(*number) > held(field->highest))
        return "--set " + std::string(name) + " must be within " + formatRange(*field) + ", got " +
               inQuotes(given);
    value = *number;
    return {};
}

std::string parseRenderArguments(std::span<const std::string> args, const CommandLineSpec& spec,
                                 RenderArguments& out) {
    out = RenderArguments{};
    out.blockFrames = spec.defaultBlockFrames;
    Parser parser{spec, out, false, false, {}};
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view option = args[i];
        std::optional<std::string_view> value;
        if (const std::size_t equals = option.find('='); option.starts_with("--") && equals != option.npos) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
        }
        if (option == "--help" || option == "-h") {
            if (value)
                return "--help takes no value";
            out.help = true;
            continue;
        }
        if (option == "--list-devices" || option == "--play") {
            if (value)
                return std::string(option) + " takes no value";
            (option == "--play" ? out.play : out.listDevices) = true;
            continue;
        }
        if (!parser.known(option))
            return "unknown option " + inQuotes(args[i]) + " (see --help)";
        if (!value) {
            // An option's name is never taken as a value: "--render --seed 3" lacks the file name.
            if (i + 1 >= args.size() || args[i + 1].starts_with("--"))
                return std::string(option) + " needs a value";
            value = args[++i];
        }
        if (std::string problem = parser.option(option, *value); !problem.empty())
            return problem;
    }
    if (out.help)
        return {};
    if (out.play) {
        if (out.listDevices)
            return "--list-devices does not go with --play";
        if (!out.outputPath.empty())
            return "--play does not go with --render: play live, or render to a file";
        if (!out.saveScenePath.empty())
            return "--save-scene does not go with --play";
        return {};
    }
    if (out.syncGiven && !parser.renderOption.empty())
        return "--sync does not go with " + parser.renderOption + ": a render follows no clock but its own";
    if (out.listDevices || !out.device.empty() || out.syncGiven) {
        // The device is the window's: a render plays on no device.
        if (!parser.renderOption.empty())
            return std::string(out.listDevices ? "--list-devices"
                               : out.syncGiven ? "--sync"
                                               : "--device") +
                   " does not go with " + parser.renderOption + ": it is for the window's sound output";
        return {};
    }
    if (out.outputPath.empty())
        return "nothing to do: give --render OUT.wav or --play (see --help)";
    if (!parser.lengthGiven)
        return "give the length with --seconds S or --frames N";
    return {};
}

std::optional<int> findDevice(std::string_view given, std::span<const std::string> devices) {
    if (const std::optional<std::int64_t> index = parseWholeNumber(given);
        index && *index >= 0 && *index < static_cast<std::int64_t>(devices.size()) &&
        given.find_first_not_of("0123456789") == std::string_view::npos)
        return static_cast<int>(*index);
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i] == given)
            return static_cast<int>(i);
    return std::nullopt;
}

std::optional<int> runProgramCommandLine(std::span<const std::string> args, const CommandLineSpec& spec,
                                         const std::string& usage,
                                         const std::function<int(const RenderArguments&)>& render,
                                         const DeviceList& devices, WindowStart& window) {
    window = WindowStart{};
    if (args.empty())
        return std::nullopt;
    RenderArguments parsed;
    if (std::string problem = parseRenderArguments(args, spec, parsed); !problem.empty())
        return failWith(spec.program, problem, kExitUsage);
    if (parsed.help) {
        std::fputs(usage.c_str(), stdout);
        return kExitOk;
    }
    if (!parsed.outputPath.empty())
        return render(parsed);
    if (parsed.play && parsed.device.empty())
        return render(parsed);
    // Only --list-devices and --device need the list: asking opens the sound system, which takes time.
    const bool needsList = parsed.listDevices || !parsed.device.empty();
    const std::vector<std::string> names = devices && needsList ? devices() : std::vector<std::string>{};
    if (parsed.listDevices) {
        for (std::size_t i = 0; i < names.size(); ++i)
            std::printf("%zu: %s\n", i, names[i].c_str());
        std::fflush(stdout);
        if (names.empty())
            failWith(spec.program, "no sound device found: the window would play on a silent output",
                     kExitOk);
        return kExitOk;
    }
    const std::optional<int> found = parsed.device.empty() ? 0 : findDevice(parsed.device, names);
    if (!found)
        return failWith(spec.program,
                        "unknown sound device " + inQuotes(parsed.device) + " (see " +
                            std::string(spec.program) + " --list-devices)",
                        kExitUsage);
    if (parsed.play) {
        parsed.deviceIndex = *found;
        return render(parsed);
    }
    if (!parsed.device.empty())
        window.deviceIndex = *found;
    if (parsed.syncGiven)
        window.sync = parsed.sync;
    return std::nullopt;
}

namespace {

volatile std::sig_atomic_t caughtSignal = 0;
struct sigaction previousInt {
}, previousTerm{};

extern "C" void noteSignal(int number) {
    caughtSignal = number;
}

} // namespace

InterruptCatcher::InterruptCatcher() {
    caughtSignal = 0;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
}

InterruptCatcher::~InterruptCatcher() {
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
}

int InterruptCatcher::caught() const {
    return caughtSignal;
}

std::uint32_t clockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    auto x = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    // A 64-bit mix (splitmix64's finaliser), so that every bit of the time moves the 32 bits kept.
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return static_cast<std::uint32_t>(x ^ (x >> 31));
}

void reportRender(std::string_view program, const RenderArguments& args, std::uint32_t seed) {
    std::printf("%.*s: wrote %lld frames (%.2f s) to %s, seed %u\n", static_cast<int>(program.size()),
                program.data(), static_cast<long long>(args.frames),
                static_cast<double>(args.frames) / kSampleRate, args.outputPath.c_str(),
                static_cast<unsigned>(seed));
}

namespace {

/// Whether two paths name one file: by device and inode where both exist (so that links and other
/// spellings count), by their absolute, normalised names where one does not exist yet.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    std::error_code ec;
    const auto normal = [&ec](const std::string& path) {
        return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    };
    return normal(a) == normal(b);
}

} // namespace

int checkOutputs(std::string_view program, const RenderArguments& args,
                 const std::vector<std::string>& inputs) {
    struct Output {
        const char* option;
        const char* cannot; ///< how a failure to write it is said
        const std::string* path;
    };
    std::vector<Output> outputs = {{"--render", "cannot write", &args.outputPath}};
    if (!args.saveScenePath.empty())
        outputs.push_back({"--save-scene", "cannot save scene", &args.saveScenePath});
    for (const Output& output : outputs) {
        const std::string folder = std::filesystem::path(*output.path).parent_path().string();
        if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
            return failWith(program,
                            std::string(output.cannot) + " " + inQuotes(*output.path) + ": " +
                                std::strerror(errno),
                            kExitFailure);
        for (const std::string& input : inputs)
            if (!input.empty() && sameFile(*output.path, input))
                return failWith(program,
                                std::string(output.option) + " " + inQuotes(*output.path) +
                                    " is the same file as the input " + inQuotes(input) +
                                    ": it would be overwritten",
                                kExitUsage);
    }
    if (outputs.size() == 2 && sameFile(args.outputPath, args.saveScenePath))
        return failWith(program, "--render and --save-scene name the same file " + inQuotes(args.outputPath),
                        kExitUsage);
    return kExitOk;
}

int failWith(std::string_view program, const std::string& message, int status) {
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(program.size()), program.data(), message.c_str());
    return status;
}

int renderToFile(std::string_view program, const RenderArguments& args, std::uint32_t seed,
                 const std::function<void(std::int16_t* out, int frames)>& fill,
                 const std::function<std::string()>& saveScene) {
    WavRecorder recorder;
    recorder.setBlockingWhenFull(true); // offline: wait for the writer rather than drop frames
    if (recorder.open(args.outputPath.c_str(), kSampleRate, 16, 2) != WavRecorder::kOk)
        return failWith(program, "cannot write " + inQuotes(args.outputPath) + ": " + recorder.lastError(),
                        kExitFailure);
    std::vector<std::int16_t> block(2 * static_cast<std::size_t>(args.blockFrames));
    bool writeFailed = false;
    const InterruptCatcher interrupts;
    for (std::int64_t done = 0; done < args.frames && !writeFailed && !interrupts.caught();) {
        const int frames = static_cast<int>(std::min<std::int64_t>(args.blockFrames, args.frames - done));
        fill(block.data(), frames);
        writeFailed = recorder.writeFrames(block.data(), frames) != WavRecorder::kOk;
        done += frames;
    }
    if (recorder.finish() != WavRecorder::kOk || writeFailed)
        return failWith(program, "writing " + inQuotes(args.outputPath) + " failed: " + recorder.lastError(),
                        kExitFailure);
    if (interrupts.caught())
        return failWith(program,
                        "interrupted: " + inQuotes(args.outputPath) + " holds what was rendered until then",
                        128 + interrupts.caught());
    if (!args.saveScenePath.empty())
        if (const std::string error = saveScene(); !error.empty())
            return failWith(program, "cannot save scene " + inQuotes(args.saveScenePath) + ": " + error,
                            kExitFailure);
    reportRender(program, args, seed);
    return kExitOk;
}

} // namespace common
