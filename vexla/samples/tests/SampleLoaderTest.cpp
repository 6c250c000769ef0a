// Sample loader: every format decoded exactly, bad files refused with a reason and the slot untouched, and
// files that change or vanish while they load (another thread truncates, rewrites, grows, replaces and
// deletes them): every load either fails with the slot as it was, or fills the slot with arrays of
// exactly its length; nothing may crash or read out of bounds.
#include "vexla/samples/SampleLoader.h"

#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vexla;
using namespace common::test;

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
    for (std::uint32_t v :
         {0u, 0u, 0u, start, end, 0u, 0u}) // sampler data, cue id, type, start, end, fraction, play count
        put(b, v, 4);
    return b;
}

class SampleLoaderTest : public ::testing::Test {
  protected:
    std::string write(const char* name, const Bytes& bytes) const {
        writeBytes(dir_.file(name), bytes);
        return dir_.file(name);
    }
    ScratchDir dir_{"loader"};
};

TEST_F(SampleLoaderTest, EveryEncodingBecomesRounded16BitOfItsFirstTwoChannels) {
    Bytes data24, dataFloat, data4Channels;
    for (std::uint32_t v : {0x123456u, 0x1234C0u, 0x7FFFFFu, 0x800000u, 0xFFFF80u})
        put(data24, v, 3);
    for (float f : {0.5f, -1.0f, 1.0f, 2.0f, -0.25f}) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put(dataFloat, bits, 4);
    }
    for (int frame = 0; frame < 5; ++frame)
        for (int ch = 0; ch < 4; ++ch)
            put(data4Channels, static_cast<std::uint32_t>(frame * 10 + ch), 2);
    struct Case {
        const char* name;
        Bytes file;
        std::vector<int> left, right; // right empty: mono
    };
    const Case cases[] = {
        {"unsigned 8 bits times 256",
         riff({chunk("fmt ", fmtBody(1, 1, 8)), chunk("data", {0, 128, 255, 1})}),
         {-32768, 0, 32512, -32512},
         {}},
        // Rounded, not truncated; what would round to 32768 kept in range; −128 / 65536 rounds to 0.
        {"24 bits",
         riff({chunk("fmt ", fmtBody(1, 1, 24)), chunk("data", data24)}),
         {0x1234, 0x1235, 32767, -32768, 0},
         {}},
        {"float",
         riff({chunk("fmt ", fmtBody(3, 1, 32)), chunk("fact", pcm16({5, 0})), chunk("data", dataFloat)}),
         {16384, -32768, 32767, 32767, -8192},
         {}},
        {"extensible, four channels",
         riff({chunk("fmt ", fmtExtensibleBody(4, 16)), chunk("data", data4Channels)}),
         {0, 10, 20, 30, 40},
         {1, 11, 21, 31, 41}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleSlot slot;
        ASSERT_TRUE(loadSampleFile(write("form.wav", c.file).c_str(), slot));
        ASSERT_EQ(slot.length, static_cast<std::int32_t>(c.left.size()));
        ASSERT_EQ(slot.stereo, !c.right.empty());
        EXPECT_EQ(slot.right == nullptr, c.right.empty());
        for (std::size_t i = 0; i < c.left.size(); ++i) {
            EXPECT_EQ(slot.left[i], c.left[i]) << i;
            if (!c.right.empty()) {
                EXPECT_EQ(slot.right[i], c.right[i]) << i;
            }
        }
    }
}

TEST_F(SampleLoaderTest, OtherContainersDecodeAsLibsndfileReadsThem) {
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_16,
                       SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_24}) {
        SCOPED_TRACE(format);
        const std::string p = dir_.file("lossless");
        ASSERT_TRUE(writeSound(
            p, format, 2, 4800,
            [](int i, int c) { return (c == 0 ? 0.5 : -0.25) * std::sin(2 * M_PI * 440.0 * i / 48000.0); },
            48000));
        SF_INFO info;
        const std::vector<short> expected = readSound(p, info);
        // libsndfile truncates 24 bits to 16 where the loader rounds.
        const int tolerance = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 1 : 0;
        SampleSlot slot;
        ASSERT_TRUE(loadSampleFile(p.c_str(), slot));
        ASSERT_EQ(slot.length, 4800);
        for (int i = 0; i < 4800; ++i) {
            ASSERT_LE(std::abs(slot.left[i] - expected[2 * i]), tolerance) << i;
            ASSERT_LE(std::abs(slot.right[i] - expected[2 * i + 1]), tolerance) << i;
        }
        EXPECT_STREQ(slot.name, p.c_str());
    }
}

TEST_F(SampleLoaderTest, ChunksInAnyOrderAndTheFirstSmplLoop) {
    const Bytes fmt = chunk("fmt ", fmtBody(1, 2, 16));
    const Bytes data = chunk("data", pcm16(std::vector<int>(6000 * 2, 1234)));
    const Bytes list = chunk("LIST", Bytes(26, 'i'));
    const Bytes smpl = chunk("smpl", smplBody(1000, 5000));
    const Bytes junk = chunk("JUNK", Bytes(27, 0));
    const Bytes bext = chunk("bext", Bytes(602, ' '));
    const std::vector<std::vector<Bytes>> layouts = {
        {fmt, list, data, smpl}, // loop after the data
        {junk, fmt, bext, chunk("fact", pcm16({6000, 0})), data},
        {fmt, smpl, list, data}, // loop before the data
    };
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(i);
        SampleSlot slot;
        ASSERT_TRUE(loadSampleFile(write("order.wav", riff(layouts[i])).c_str(), slot));
        ASSERT_EQ(slot.length, 6000);
        EXPECT_EQ(slot.left[0], 1234);
        EXPECT_EQ(slot.right[5999], 1234);
        const bool withLoop = std::find(layouts[i].begin(), layouts[i].end(), smpl) != layouts[i].end();
        EXPECT_EQ(slot.hasLoop, withLoop ? 1 : 0);
        EXPECT_EQ(slot.loopStart, withLoop ? 1000 : 0);
        EXPECT_EQ(slot.loopEnd, withLoop ? 5000 : 0);
    }
}

TEST_F(SampleLoaderTest, RejectedFilesLeaveTheSlotUntouched) {
    SampleSlot slot;
    ASSERT_TRUE(loadSampleFile(write("good.wav", wav16({7, 8, 9}, 1)).c_str(), slot));
    const std::int16_t* before = slot.left.get();
    const std::string name = slot.name;

    Bytes truncated = wav16(std::vector<int>(4000, 1));
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
    const std::string pipe = dir_.file("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const Bytes garbage = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W',  'A',
                           'V', 'E', 'f', 'm', 't',  ' ',  0xFF, 0xFF, 0xFF, 0x7F};
    const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'};

    struct Case {
        std::string path;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {write("text.wav", text), "not a sound file"},
        {dir_.file("missing.wav"), "file not found"},
        {write("zero.wav", {}), "file is empty"},
        {write("nodata.wav", wav16({})), "file is empty"},
        {write("truncated.wav", truncated), "file is truncated"},
        {write("claims-ten-times.wav", claimsTenTimes), "file is truncated"},
        {pipe, "not a sound file"}, // at once, without waiting for a writer
        {write("cut.wav", truncatedHeader), ""},
        {write("garbage.wav", garbage), ""},
        {dir_.path().string(), "not a sound file"},
        {"/dev/zero", "not a sound file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const LoadResult result = loadSampleFile(c.path.c_str(), slot);
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
    const std::string big = write("big.wav", wav16(std::vector<int>(1001, 0), 1));
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

TEST_F(SampleLoaderTest, FileChangingAndVanishingDuringLoadsNeverBreaksTheSlot) {
    namespace fs = std::filesystem;
    const fs::path path = dir_.file("moving.wav");
    // Samples that are their own frame number.
    std::vector<int> frames(200000 * 2);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<std::int16_t>(i / 2);
    const Bytes big = wav16(frames), small = wav16(std::vector<int>(1000, 5), 1);
    Bytes longer = big;
    longer.resize(big.size() + 100000, 0x7f);
    writeBytes(path, big);

    std::atomic<int> changes{0};
    // Stopped and joined on every way out, a failed check's early return too.
    std::jthread vandal([&](std::stop_token stop) {
        unsigned state = 1;
        std::error_code ignored; // the file may be gone at any moment
        while (!stop.stop_requested()) {
            state = state * 214013u + 2531011u;
            switch ((state >> 16) % 6) {
            case 0: // cut short, header still claiming the whole
                fs::resize_file(path, (state >> 8) % big.size(), ignored);
                break;
            case 1: // rewritten in place with another form
                writeBytes(path, small);
                break;
            case 2: // vanishes
                fs::remove(path, ignored);
                break;
            case 3: { // replaced by a rename, as editors save
                const fs::path temp = dir_.file("moving.tmp");
                writeBytes(temp, big);
                fs::rename(temp, path, ignored);
                break;
            }
            case 4: // grows past the header's size
                writeBytes(path, longer);
                break;
            default: // overwritten with junk
                writeBytes(path, Bytes(5000, 0x55));
                break;
            }
            changes.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    SampleSlot slot;
    initSlot(slot);
    int loaded = 0, refused = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::int32_t lengthBefore = slot.length;
        const std::int16_t* leftBefore = slot.left.get();
        const LoadResult result = loadSampleFile(path.c_str(), slot);
        if (!result) {
            ++refused;
            EXPECT_FALSE(result.reason.empty());
            ASSERT_EQ(slot.length, lengthBefore) << "a failed load changed the slot";
            ASSERT_EQ(slot.left.get(), leftBefore);
            continue;
        }
        ++loaded;
        ASSERT_GT(slot.length, 0);
        ASSERT_LE(slot.length, 200000 + 100000 / 4);
        ASSERT_NE(slot.left, nullptr);
        // Every frame the slot claims is there to read (the address sanitizer checks the bounds).
        long long sum = 0;
        for (std::int32_t i = 0; i < slot.length; ++i)
            sum += slot.left[i] + (slot.stereo ? slot.right[i] : 0);
        EXPECT_NE(sum, -1); // keeps the reads
        if (slot.hasLoop) {
            EXPECT_LE(slot.loopStart, slot.loopEnd);
        }
    }
    vandal.request_stop();
    vandal.join();
    std::printf("%d loads, %d refused, %d changes of the file\n", loaded, refused, changes.load());
    EXPECT_GT(loaded + refused, 10);
    EXPECT_GT(changes.load(), 10);

    // Once the file holds still, it loads exactly.
    writeBytes(path, big);
    ASSERT_TRUE(loadSampleFile(path.c_str(), slot));
    ASSERT_EQ(slot.length, 200000);
    EXPECT_EQ(slot.left[123456], static_cast<std::int16_t>(123456 & 0xffff));
}

} // namespace
