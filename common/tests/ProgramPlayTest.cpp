// The program playing live without a window (--play), run as a user runs it: through a private JACK
// server to a recording client, where it must sound exactly as its --render of the same seed; on the
// silent output where no device plays; and until a signal when no length is given. Built once per
// program (PROGRAM_NAME, PROGRAM_PATH).
#include "audio/tests/JackTestServer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using jacktest::DummyJackServer;
using jacktest::Recorder;
using jacktest::waitFor;

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// The program running in the background with its output in files; killed if it outlives the test.
class Program {
  public:
    Program(const std::vector<std::string>& arguments, const std::string& jackServer)
        : dir_(std::filesystem::temp_directory_path() /
               ("vz-play-" + std::to_string(getpid()) + "-" + std::to_string(counter_++))) {
        std::filesystem::create_directories(dir_);
        std::vector<std::string> words{PROGRAM_PATH};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        const std::string out = (dir_ / "out").string(), err = (dir_ / "err").string();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("JACK_DEFAULT_SERVER", jackServer.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            freopen(out.c_str(), "w", stdout);
            freopen(err.c_str(), "w", stderr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }

    void signal(int number) { kill(pid_, number); }

    /// The exit status, or −1 when it did not end within `limit` (it is then killed).
    int wait(std::chrono::milliseconds limit = 30s) {
        int status = 0;
        const bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        if (!ended)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() const { return slurp(dir_ / "out"); }
    std::string err() const { return slurp(dir_ / "err"); }
    std::filesystem::path dir() const { return dir_; }

  private:
    static inline int counter_ = 0;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

/// The left channel of a 16-bit WAV file.
std::vector<int> leftOf(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<short> frames(static_cast<std::size_t>(info.frames) * 2);
    sf_readf_short(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<int> left;
    for (std::size_t i = 0; i < frames.size(); i += 2)
        left.push_back(frames[i]);
    return left;
}

class ProgramPlay : public testing::Test {
  protected:
    /// False when jackd is missing or does not answer: the test then skips.
    bool startServer() {
        name_ = "vzp" + std::to_string(getpid());
        server_ = std::make_unique<DummyJackServer>(name_);
        return server_->start();
    }
    void TearDown() override { server_.reset(); }

    std::string name_ = "vzn" + std::to_string(getpid()); // no server of that name runs
    std::unique_ptr<DummyJackServer> server_;
};

TEST_F(ProgramPlay, ThroughJackItSoundsExactlyAsItsRenderOfTheSameSeed) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    constexpr int kFrames = 44100;
    Recorder recorder(name_, 2 * kFrames);
    ASSERT_TRUE(recorder.ok());
    Program play({"--play", "--seconds", "1", "--device", "jack", "--seed", "3"}, name_);
    ASSERT_TRUE(recorder.connectFrom(PROGRAM_NAME)) << play.err();
    ASSERT_EQ(play.wait(), 0) << play.err();
    EXPECT_NE(play.out().find(std::string(PROGRAM_NAME) + ": playing on jack, seed 3"), std::string::npos)
        << play.out();
    EXPECT_NE(play.out().find("played 44100 frames"), std::string::npos) << play.out();

    Program render({"--render", (play.dir() / "x.wav").string(), "--seed", "3", "--frames", "44100"}, name_);
    ASSERT_EQ(render.wait(), 0) << render.err();
    const std::vector<int> rendered = leftOf(play.dir() / "x.wav");
    ASSERT_EQ(rendered.size(), static_cast<std::size_t>(kFrames));

    // The recorder joined a little after the first frames: find where it came in, then compare the rest.
    const std::size_t heard = recorder.frames();
    std::vector<int> recorded(heard);
    for (std::size_t i = 0; i < heard; ++i)
        recorded[i] = static_cast<int>(std::lround(recorder.left()[i] * 32768.0f));
    std::size_t firstSound = 0;
    while (firstSound < heard && recorded[firstSound] == 0)
        ++firstSound;
    ASSERT_LT(firstSound, heard) << "nothing but silence was heard";
    constexpr std::size_t kMatch = 2048;
    ASSERT_GE(heard - firstSound, kMatch);
    std::optional<std::size_t> offset;
    for (std::size_t at = 0; at + kMatch <= rendered.size() && !offset; ++at)
        if (std::equal(recorded.begin() + static_cast<long>(firstSound),
                       recorded.begin() + static_cast<long>(firstSound + kMatch),
                       rendered.begin() + static_cast<long>(at)))
            offset = at;
    ASSERT_TRUE(offset) << "the heard sound is nowhere in the render";
    EXPECT_LT(*offset, 22050u) << "the recorder missed half a second";
    RecordProperty("joinedAtFrame", static_cast<int>(*offset));
    RecordProperty("heardFrames", static_cast<int>(heard));
    // From there on: every rendered frame, in order, then silence — exactly the length, no more.
    std::size_t mismatches = 0;
    for (std::size_t i = *offset; i < rendered.size() && firstSound + (i - *offset) < heard; ++i)
        mismatches += recorded[firstSound + (i - *offset)] != rendered[i];
    if (mismatches > 0 && recorder.xruns() > 0)
        GTEST_SKIP() << "the server missed " << recorder.xruns()
                     << " cycles (a loaded machine without real-time): the recording is broken";
    EXPECT_EQ(mismatches, 0u);
    const std::size_t end = firstSound + (kFrames - *offset);
    for (std::size_t i = end; i < heard; ++i)
        ASSERT_EQ(recorded[i], 0) << "sound after the length, " << i - end << " frames on";
}

TEST_F(ProgramPlay, WithoutADeviceItPlaysTheLengthOnTheSilentOutput) {
    // No JACK server of this name; a box without a sound card has no PortAudio device either.
    Program play({"--play", "--seconds", "1", "--seed", "3"}, name_);
    ASSERT_EQ(play.wait(), 0) << play.err();
    EXPECT_NE(play.out().find("played 44100 frames (1.00 s)"), std::string::npos) << play.out();
}

TEST_F(ProgramPlay, WithoutALengthItPlaysUntilTerminated) {
    Program play({"--play", "--seed", "3"}, name_);
    ASSERT_TRUE(waitFor([&] { return play.out().find(": playing on ") != std::string::npos; }, 20s))
        << play.err();
    std::this_thread::sleep_for(200ms);
    play.signal(SIGTERM);
    EXPECT_EQ(play.wait(), 128 + SIGTERM) << play.err();
    EXPECT_NE(play.out().find(": played "), std::string::npos) << play.out();
}

} // namespace
