// The command line both programs share: `--render OUT.wav` with its options, the window's sound device
// (`--list-devices`, `--device NAME_OR_INDEX`), one syntax (`--opt value` or `--opt=value`), one way of
// reading numbers, one message style and the same exit statuses. Each program gives its --set fields, its
// --press captions and its other ordered options. Calling thread only.
#pragma once

#include "common/ClockSource.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace common {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; ///< a file could not be written
inline constexpr int kExitUsage = 2;   ///< bad arguments, or an input file that cannot be used
inline constexpr int kMaxBlockFrames = 65536;

/// A finite decimal number, optionally signed, and nothing else ("nan", "inf", "1x" and "" are not).
std::optional<double> parseNumber(std::string_view text);
/// A whole number within ±9e15 written as parseNumber reads it ("8", "-3", "1e3").
std::optional<std::int64_t> parseWholeNumber(std::string_view text);

/// A value that --set may give: its range is what the program's controls can give, compared as the
/// engine holds it (float for real fields).
struct SettableField {
    std::string name;
    double lowest;
    double highest;
    bool whole; ///< a whole number (flags are whole numbers 0..1)
};

/// "lowest..highest", each written as the engine holds it (the shortest text that reads back as that float).
std::string formatRange(const SettableField& field);

/// Checks `FIELD=VALUE` against `fields`. Returns "" and sets `field` and `value`, or says what is wrong.
std::string parseAssignment(std::string_view text, std::span<const SettableField> fields,
                            const SettableField*& field, double& value);

/// --set, --press and --load (and any other option that acts on the engine), in command-line order.
struct OrderedAction {
    std::string option; ///< "--set", "--press", "--load"
    std::string value;
};

/// What a command line asked for: a render (--render and its options), the window's sound device
/// (--list-devices, --device), or live play (--play with the render's options but the file, and --device).
struct RenderArguments {
    bool help = false;
    bool listDevices = false; ///< --list-devices
    bool play = false;        ///< --play: live on a sound device, no window
    std::string device;       ///< --device NAME_OR_INDEX; "" when not given
    int deviceIndex = 0;      ///< --play: the device --device names (runProgramCommandLine finds it)
    ClockSource sync = ClockSource::Internal; ///< --sync: the clock live play or the window follows
    bool syncGiven = false;
    std::string outputPath;
    std::int64_t frames = 0; ///< frames to render, ≥ 0; with --play, 0 plays until SIGINT/SIGTERM
    std::optional<std::uint32_t> seed;
    int blockFrames = 0; ///< frames per render call, 1..kMaxBlockFrames
    std::string scenePath;
    std::string saveScenePath;
    std::vector<OrderedAction> actions;
};

/// What a program adds to the shared options.
struct CommandLineSpec {
    std::string_view program; ///< the prefix of every message: "vexla"
    int defaultBlockFrames;
    /// Options with a value that act in order (besides --set and --press), e.g. "--load".
    std::vector<std::string_view> orderedOptions;
    /// Checks the value of an ordered option; returns "" or the problem.
    std::function<std::string(std::string_view option, std::string_view value)> checkAction;
};

/// Parses the arguments after the program's name. Returns "" or one line saying what is wrong.
std::string parseRenderArguments(std::span<const std::string> args, const CommandLineSpec& spec,
                                 RenderArguments& out);

/// The output devices the sound output sees, in index order. Asked only by --list-devices and --device,
/// so that a render never looks for sound devices.
using DeviceList = std::function<std::vector<std::string>()>;

/// The device --device names: an index into `devices` ("0", "1", ...) or a device's exact name (the
/// first of that name). nullopt when it names none.
std::optional<int> findDevice(std::string_view given, std::span<const std::string> devices);

/// How the window is to start, as far as the command line says: on which sound device, following which
/// clock (nullopt: as the user last chose).
struct WindowStart {
    std::optional<int> deviceIndex;
    std::optional<ClockSource> sync;
};

/// The window program's command line: parses `args` (those after the program's name) as
/// parseRenderArguments does; --help prints `usage`; a --render command line runs `render`, and so does a
/// --play command line, with its device found (index 0 without --device);
/// --list-devices prints the devices, "INDEX: NAME" a line, on stdout; a --device that names no device
/// is refused. Returns the exit status, or nullopt when the window is to open (no arguments, or --device
/// and --sync alone) as `window` says.
std::optional<int> runProgramCommandLine(std::span<const std::string> args, const CommandLineSpec& spec,
                                         const std::string& usage,
                                         const std::function<int(const RenderArguments&)>& render,
                                         const DeviceList& devices, WindowStart& window);

/// The seed of a render given no --seed: from the clock in nanoseconds, so that two renders started in
/// the same second differ; the render's closing line prints it, so that the render can be repeated.
std::uint32_t clockSeed();

/// Prints "program: wrote N frames (S s) to PATH, seed N" on stdout: what a finished render says.
void reportRender(std::string_view program, const RenderArguments& args, std::uint32_t seed);

/// Refuses, before anything is written, an output (--render, --save-scene) whose folder cannot be
/// written (status 1, as any file that cannot be written), or that is the same file as one of `inputs`
/// (the scene, the samples) or as the other output (status 2). Says why on stderr; returns the status.
int checkOutputs(std::string_view program, const RenderArguments& args,
                 const std::vector<std::string>& inputs);

/// While it lives, SIGINT and SIGTERM do not end the process but are noted, so that a render can
/// stop between blocks and finish its file; the handlers before it come back when it goes.
class InterruptCatcher {
  public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;
    /// The signal that came (SIGINT or SIGTERM), or 0.
    int caught() const;
};

/// The offline render both programs share: opens args.outputPath, fills it block by block (at most
/// args.blockFrames) with `fill(out, frames)`, which writes that many 16-bit stereo frames, and stops at
/// the first failed write or at SIGINT/SIGTERM with the file finished. Then, when args.saveScenePath is
/// given, `saveScene()` (an error text, or "" once saved), and the closing report. Returns the exit status.
int renderToFile(std::string_view program, const RenderArguments& args, std::uint32_t seed,
                 const std::function<void(std::int16_t* out, int frames)>& fill,
                 const std::function<std::string()>& saveScene);

/// Prints "program: message" on stderr and returns `status`.
int failWith(std::string_view program, const std::string& message, int status);

} // namespace common
