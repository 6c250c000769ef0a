// Loading a 100 MB 16-bit stereo WAV (about 9½ minutes of sound) into a slot, the old arrays freed
// each time as a replaced sample's are. The file is written once and read from the page cache.
#include "vexla/samples/SampleLoader.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kDataBytes = 100u * 1000 * 1000;

void put(std::string& bytes, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

std::string writeLargeWav() {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vz-large-" + std::to_string(::getpid()) + ".wav"))
            .string();
    std::string header = "RIFF";
    put(header, 36 + kDataBytes, 4);
    header += "WAVEfmt ";
    put(header, 16, 4);
    put(header, 1, 2);
    put(header, 2, 2);
    put(header, 44100, 4);
    put(header, 176400, 4);
    put(header, 4, 2);
    put(header, 16, 2);
    header += "data";
    put(header, kDataBytes, 4);
    std::ofstream out(path, std::ios::binary);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    std::vector<char> piece(1 << 20);
    std::uint32_t state = 1;
    for (std::uint32_t written = 0; written < kDataBytes;
         written += static_cast<std::uint32_t>(piece.size())) {
        for (char& c : piece) {
            state = state * 214013u + 2531011u;
            c = static_cast<char>(state >> 16);
        }
        out.write(piece.data(), static_cast<std::streamsize>(std::min<std::uint32_t>(
                                    static_cast<std::uint32_t>(piece.size()), kDataBytes - written)));
    }
    return path;
}

void BM_Load100MegabyteSample(benchmark::State& state) {
    const std::string path = writeLargeWav();
    vexla::SampleSlot slot;
    vexla::initSlot(slot);
    for (auto _ : state) {
        const vexla::LoadResult result = vexla::loadSampleFile(path.c_str(), slot);
        if (!result || slot.length != static_cast<std::int32_t>(kDataBytes / 4))
            state.SkipWithError("the large sample did not load whole");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDataBytes));
    std::remove(path.c_str());
}
BENCHMARK(BM_Load100MegabyteSample)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
