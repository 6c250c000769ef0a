// Fuzz target for the sample loader: any bytes must decode or be refused, never crash, leak or read
// outside the file's data.
#include "vexla/samples/SampleLoader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Keeps the fuzzer fast: a few bytes of a compressed format can claim minutes of sound.
constexpr std::int64_t kFuzzMaxFrames = std::int64_t{1} << 20;

// Reads every stored sample, so that an array shorter than `length` shows up as an out-of-bounds read.
int touchAll(const std::int16_t* left, const std::int16_t* right, std::int32_t length) {
    int sum = 0;
    for (std::int32_t i = 0; i < length; ++i)
        sum += left[i] + (right ? right[i] : 0);
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vexla::DecodedSample decoded;
    const vexla::LoadResult result = vexla::decodeSampleMemory(data, size, decoded, kFuzzMaxFrames);
    if (result) {
        if (decoded.length <= 0 || decoded.left == nullptr || decoded.stereo != (decoded.right != nullptr))
            __builtin_trap();
        volatile int sink = touchAll(decoded.left.get(), decoded.right.get(), decoded.length);
        (void)sink;
    } else if (result.reason.empty()) {
        __builtin_trap(); // a refusal always says why
    }

    // The file path, through a memory-backed file, into a slot that already holds a sample.
    static vexla::SampleSlot slot;
    const int fd = ::memfd_create("fuzz-sample", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const std::int32_t lengthBefore = slot.length;
        const vexla::LoadResult loaded = vexla::loadSampleFile(path.c_str(), slot);
        if (!loaded && slot.length != lengthBefore)
            __builtin_trap();
        if (slot.length > 0) {
            volatile int sink =
                touchAll(slot.left.get(), slot.stereo ? slot.right.get() : nullptr, slot.length);
            (void)sink;
        }
    }
    ::close(fd);
    return 0;
}
