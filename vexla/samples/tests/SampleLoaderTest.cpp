// Sample loader: every format decoded exactly, bad files refused with a reason and the slot untouched.
#include "vexla/samples/SampleLoader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace vexla;
namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

void put(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put(Bytes& b, const char* id) {
    // Byte by byte: g++ 12 takes a range insert into an empty vector for an overflow (-Wstringop-overflow).
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(id[i]));
}

Bytes chunk(const char* id, const Bytes& body) {
    Bytes c;
    put(c, id);
    put(c, static_cast<std::uint32_t>(body.size()), 4);
    c.insert(c.end(), body.begin(), body.end());
    if (body.size() & 1)
        c.push_back(0);
    return c;
}

Bytes fmtBody(int formatTag, int channels, int bits, int rate = 44100) {
    Bytes b;
    const int align = channels * bits / 8;
    put(b, static_cast<std::uint32_t>(formatTag), 2);
    put(b, static_cast<std::uint32_t>(channels), 2);
    put(b, static_cast<std::uint32_t>(rate), 4);
    put(b, static_cast<std::uint32_t>(rate * align), 4);
    put(b, static_cast<std::uint32_t>(align), 2);
    put(b, static_cast<std::uint32_t>(bits), 2);
    return b;
}

// WAVE_FORMAT_EXTENSIBLE with the PCM sub-format.
Bytes fmtExtensibleBody(int channels, int bits) {
    Bytes b = fmtBody(0xFFFE, channels, bits);
    put(b, 22, 2);
    put(b, static_cast<std::uint32_t>(bits), 2);
    put(b, channels == 2 ? 3u : (1u << channels) - 1, 4);
    put(b, 1u, 4);
    const unsigned char guidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), guidTail, guidTail + 12);
    return b;
}

Bytes smplBody(std::uint32_t start, std::uint32_t end) {
    Bytes b;
    for (int i = 0; i < 7; ++i)
        put(b, 0, 4); // manufacturer … SMPTE offset
    put(b, 1, 4);     // one loop
    put(b, 0, 4);     // sampler data
    put(b, 0, 4);     // cue point id
    put(b, 0, 4);     // type: forward
    put(b, start, 4);
    put(b, end, 4);
    put(b, 0, 4); // fraction
    put(b, 0, 4); // play count
    return b;
}

Bytes riff(const std::vector<Bytes>& chunks) {
    Bytes body;
    put(body, "WAVE");
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    Bytes file;
    put(file, "RIFF");
    put(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

Bytes pcm16(const std::vector<int>& samples) {
    Bytes b;
    for (int s : samples)
        put(b, static_cast<std::uint16_t>(s), 2);
    return b;
}

class SampleLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("loader-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const char* name, const Bytes& bytes) const {
        const std::string p = (dir_ / name).string();
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

    LoadResult load(const std::string& path, SampleSlot& slot) { return loadSampleFile(path.c_str(), slot); }

    fs::path dir_;
};

TEST_F(SampleLoaderTest, EightBitIsUnsignedTimes256) {
    const Bytes data = {0, 128, 255, 1};
    SampleSlot slot;
    ASSERT_TRUE(load(write("u8.wav", riff({chunk("fmt ", fmtBody(1, 1, 8)), chunk("data", data)})), slot));
    ASSERT_EQ(slot.length, 4);
    EXPECT_FALSE(slot.stereo);
    EXPECT_EQ(slot.right, nullptr);
    EXPECT_EQ(slot.left[0], -32768);
    EXPECT_EQ(slot.left[1], 0);
    EXPECT_EQ(slot.left[2], 32512);
    EXPECT_EQ(slot.left[3], -32512);
}

TEST_F(SampleLoaderTest, SixteenBitStereoIsExact) {
    std::vector<int> samples;
    for (int i = 0; i < 44100 * 2; ++i)
        samples.push_back((i * 7919) % 65536 - 32768);
    SampleSlot slot;
    const std::string p =
        write("s16.wav", riff({chunk("fmt ", fmtBody(1, 2, 16)), chunk("data", pcm16(samples))}));
    ASSERT_TRUE(load(p, slot));
    ASSERT_EQ(slot.length, 44100); // 176400 data bytes
    ASSERT_TRUE(slot.stereo);
    for (int i = 0; i < 44100; ++i) {
        ASSERT_EQ(slot.left[i], samples[2 * i]) << i;
        ASSERT_EQ(slot.right[i], samples[2 * i + 1]) << i;
    }
    EXPECT_STREQ(slot.name, p.c_str());
}

TEST_F(SampleLoaderTest, WiderSamplesAreRoundedTo16Bits) {
    Bytes data24;
    for (std::uint32_t v : {0x123456u, 0x1234C0u, 0x7FFFFFu, 0x800000u, 0xFFFF80u})
        put(data24, v, 3);
    SampleSlot slot;
    ASSERT_TRUE(
        load(write("s24.wav", riff({chunk("fmt ", fmtBody(1, 1, 24)), chunk("data", data24)})), slot));
    ASSERT_EQ(slot.length, 5);
    EXPECT_EQ(slot.left[0], 0x1234);
    EXPECT_EQ(slot.left[1], 0x1235); // rounded, not truncated
    EXPECT_EQ(slot.left[2], 32767);  // would round to 32768: kept in range
    EXPECT_EQ(slot.left[3], -32768);
    EXPECT_EQ(slot.left[4], 0); // -128 / 65536 rounds to 0

    Bytes dataFloat;
    for (float f : {0.5f, -1.0f, 1.0f, 2.0f, -0.25f}) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put(dataFloat, bits, 4);
    }
    ASSERT_TRUE(load(write("f32.wav", riff({chunk("fmt ", fmtBody(3, 1, 32)), chunk("fact", pcm16({5, 0})),
                                            chunk("data", dataFloat)})),
                     slot));
    ASSERT_EQ(slot.length, 5);
    EXPECT_EQ(slot.left[0], 16384);
    EXPECT_EQ(slot.left[1], -32768);
    EXPECT_EQ(slot.left[2], 32767);
    EXPECT_EQ(slot.left[3], 32767);
    EXPECT_EQ(slot.left[4], -8192);
}

TEST_F(SampleLoaderTest, ExtensibleWithFourChannelsKeepsTheFirstTwo) {
    std::vector<int> samples;
    for (int frame = 0; frame < 100; ++frame)
        for (int ch = 0; ch < 4; ++ch)
            samples.push_back(frame * 10 + ch);
    SampleSlot slot;
    ASSERT_TRUE(
        load(write("ext.wav", riff({chunk("fmt ", fmtExtensibleBody(4, 16)), chunk("data", pcm16(samples))})),
             slot));
    ASSERT_EQ(slot.length, 100);
    ASSERT_TRUE(slot.stereo);
    EXPECT_EQ(slot.left[42], 420);
    EXPECT_EQ(slot.right[42], 421);
}

TEST_F(SampleLoaderTest, ChunksInAnyOrderAndTheFirstSmplLoop) {
    const std::vector<int> samples(6000 * 2, 1234);
    const Bytes fmt = chunk("fmt ", fmtBody(1, 2, 16));
    const Bytes data = chunk("data", pcm16(samples));
    const Bytes list = chunk("LIST", Bytes(26, 'i'));
    const Bytes smpl = chunk("smpl", smplBody(1000, 5000));
    const Bytes junk = chunk("JUNK", Bytes(27, 0));
    const Bytes bext = chunk("bext", Bytes(602, ' '));
    const Bytes fact = chunk("fact", pcm16({6000, 0}));

    const std::vector<std::vector<Bytes>> layouts = {
        {fmt, list, data, smpl}, // LIST before the data, loop after it
        {junk, fmt, bext, fact, data},
        {fmt, smpl, list, data}, // loop before the data
        {bext, junk, fmt, data, list, smpl},
    };
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(i);
        SampleSlot slot;
        ASSERT_TRUE(load(write("order.wav", riff(layouts[i])), slot));
        ASSERT_EQ(slot.length, 6000);
        EXPECT_EQ(slot.left[0], 1234);
        EXPECT_EQ(slot.right[5999], 1234);
        const bool withLoop = std::find(layouts[i].begin(), layouts[i].end(), smpl) != layouts[i].end();
        EXPECT_EQ(slot.hasLoop, withLoop ? 1 : 0);
        EXPECT_EQ(slot.loopStart, withLoop ? 1000 : 0);
        EXPECT_EQ(slot.loopEnd, withLoop ? 5000 : 0);
    }
}

// Writes a file through libsndfile in the given container and encoding.
std::string writeWithSndfile(const fs::path& p, int format, const std::vector<short>& interleaved,
                             int channels) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
    if (f == nullptr)
        return {};
    sf_writef_short(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    sf_close(f);
    return p.string();
}

TEST_F(SampleLoaderTest, OtherContainersDecode) {
    std::vector<short> stereo;
    for (int i = 0; i < 4800; ++i) {
        const double s = std::sin(2 * M_PI * 440.0 * i / 48000.0);
        stereo.push_back(static_cast<short>(s * 16000));
        stereo.push_back(static_cast<short>(-s * 8000));
    }
    for (int format : {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                       SF_FORMAT_WAV | SF_FORMAT_PCM_24}) {
        SCOPED_TRACE(format);
        const std::string p = writeWithSndfile(dir_ / "lossless", format, stereo, 2);
        ASSERT_FALSE(p.empty());
        SampleSlot slot;
        ASSERT_TRUE(load(p, slot)) << load(p, slot).reason;
        ASSERT_EQ(slot.length, 4800);
        for (int i = 0; i < 4800; ++i) {
            ASSERT_EQ(slot.left[i], stereo[2 * i]) << i;
            ASSERT_EQ(slot.right[i], stereo[2 * i + 1]) << i;
        }
    }
}

TEST_F(SampleLoaderTest, RejectedFilesLeaveTheSlotUntouched) {
    SampleSlot slot;
    ASSERT_TRUE(load(
        write("good.wav", riff({chunk("fmt ", fmtBody(1, 1, 16)), chunk("data", pcm16({7, 8, 9}))})), slot));
    const std::int16_t* before = slot.left.get();
    const std::string name = slot.name;

    Bytes truncated =
        riff({chunk("fmt ", fmtBody(1, 2, 16)), chunk("data", pcm16(std::vector<int>(4000, 1)))});
    Bytes truncatedHeader = truncated;
    truncated.resize(truncated.size() - 3001);
    truncatedHeader.resize(30);
    // A hundred small chunks ahead of a data chunk that claims ten times the bytes present: enough to
    // fill libsndfile's log before it would say that the data is cut short.
    std::vector<Bytes> manyChunks(100, chunk("note", Bytes(12, 'x')));
    manyChunks.push_back(chunk("fmt ", fmtBody(1, 2, 16)));
    manyChunks.push_back(chunk("data", pcm16(std::vector<int>(4000, 1))));
    Bytes claimsTenTimes = riff(manyChunks);
    const std::size_t dataSizeAt = claimsTenTimes.size() - 8000 - 4;
    for (int i = 0; i < 4; ++i)
        claimsTenTimes[dataSizeAt + static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(80000u >> (8 * i));
    const std::string pipe = (dir_ / "pipe.wav").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const Bytes noData = riff({chunk("fmt ", fmtBody(1, 2, 16)), chunk("data", {})});
    const Bytes garbage = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W',  'A',
                           'V', 'E', 'f', 'm', 't',  ' ',  0xFF, 0xFF, 0xFF, 0x7F};
    const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'};

    struct Case {
        std::string path;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {write("text.wav", text), "not a sound file"},
        {(dir_ / "missing.wav").string(), "file not found"},
        {write("zero.wav", {}), "file is empty"},
        {write("nodata.wav", noData), "file is empty"},
        {write("truncated.wav", truncated), "file is truncated"},
        {write("claims-ten-times.wav", claimsTenTimes), "file is truncated"},
        {pipe, "not a sound file"}, // at once, without waiting for a writer
        {write("cut.wav", truncatedHeader), ""},
        {write("garbage.wav", garbage), ""},
        {dir_.string(), "not a sound file"},
        {"/dev/zero", "not a sound file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const LoadResult result = load(c.path, slot);
        EXPECT_FALSE(result);
        EXPECT_FALSE(result.reason.empty());
        if (c.reason[0] != '\0') {
            EXPECT_EQ(result.reason, c.reason);
        }
        EXPECT_EQ(slot.left.get(), before);
        EXPECT_EQ(slot.length, 3);
        EXPECT_EQ(slot.left[2], 9);
        EXPECT_EQ(slot.name, name);
    }
    EXPECT_FALSE(loadSampleFile(nullptr, slot));

    DecodedSample decoded;
    const std::string big = write(
        "big.wav", riff({chunk("fmt ", fmtBody(1, 1, 16)), chunk("data", pcm16(std::vector<int>(1001, 0)))}));
    EXPECT_EQ(decodeSampleFile(big.c_str(), decoded, 1000).reason, "too large to load");
    EXPECT_TRUE(decodeSampleFile(big.c_str(), decoded, 1001));
}

TEST_F(SampleLoaderTest, LongNamesAreShortenedToTheirEnd) {
    SampleSlot slot;
    std::string path = "/home/musician/";
    for (int i = 0; i < 20; ++i)
        path += "\xC3\xA9"; // é, two bytes each
    path += "/some long folder name/kick drum.wav";
    setSlotName(slot, path.c_str());
    const std::string name = slot.name;
    EXPECT_LE(name.size(), 67u);
    EXPECT_EQ(slot.name[67], '\0');
    EXPECT_EQ(name.substr(0, 3), "...");
    EXPECT_NE(static_cast<unsigned char>(name[3]) & 0xC0, 0x80); // never the middle of a character
    EXPECT_EQ(name.substr(name.size() - 14), "/kick drum.wav");

    initSlot(slot);
    EXPECT_STREQ(slot.name, "empty");
}

} // namespace
