// Sample files that change or vanish while they load: another thread truncates, rewrites, grows,
// replaces and deletes the file under the loader. Every load must either fail with the slot as it
// was, or fill the slot with arrays of exactly its length; nothing may crash or read out of bounds.
#include "vexla/samples/SampleLoader.h"

#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace vexla;

namespace {

// A 16-bit WAV of `frames` frames whose samples are their own frame number.
std::string wavImage(int frames, int channels = 2) {
    std::vector<int> samples;
    for (int i = 0; i < frames; ++i)
        samples.insert(samples.end(), static_cast<std::size_t>(channels), static_cast<std::int16_t>(i));
    const common::test::Bytes bytes = common::test::wav16(samples, channels);
    return {bytes.begin(), bytes.end()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class LoadFaultTest : public ::testing::Test {
  protected:
    common::test::ScratchDir scratch{"vz-load-fault"};
    const fs::path& dir = scratch.path();
};

TEST_F(LoadFaultTest, FileChangingAndVanishingDuringLoadsNeverBreaksTheSlot) {
    const fs::path path = dir / "moving.wav";
    const std::string big = wavImage(200000);
    const std::string small = wavImage(1000, 1);
    writeFile(path, big);

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
                writeFile(path, small);
                break;
            case 2: // vanishes
                fs::remove(path, ignored);
                break;
            case 3: { // replaced by a rename, as editors save
                const fs::path temp = dir / "moving.tmp";
                writeFile(temp, big);
                fs::rename(temp, path, ignored);
                break;
            }
            case 4: // grows past the header's size
                writeFile(path, big + std::string(100000, '\x7f'));
                break;
            default: // overwritten with junk
                writeFile(path, std::string(5000, '\x55'));
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
    writeFile(path, big);
    ASSERT_TRUE(loadSampleFile(path.c_str(), slot));
    ASSERT_EQ(slot.length, 200000);
    EXPECT_EQ(slot.left[123456], static_cast<std::int16_t>(123456 & 0xffff));
}

} // namespace
