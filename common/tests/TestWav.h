// WAV files for tests: made byte by byte (so that a test controls every header field, even wrong ones) or
// through libsndfile (any container and encoding), and read back the same two ways.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace common::test {

using Bytes = std::vector<unsigned char>;

/// `value` as `count` little-endian bytes.
inline void put(Bytes& b, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        b.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

/// A four-character code.
inline void put(Bytes& b, const char* id) {
    // Byte by byte: g++ 12 takes a range insert into an empty vector for an overflow (-Wstringop-overflow).
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(id[i]));
}

/// A chunk: its code, its size and its body, padded to an even length.
inline Bytes chunk(const char* id, const Bytes& body) {
    Bytes c;
    put(c, id);
    put(c, static_cast<std::uint32_t>(body.size()), 4);
    c.insert(c.end(), body.begin(), body.end());
    if (body.size() & 1)
        c.push_back(0);
    return c;
}

/// The body of a "fmt " chunk; format tag 1 is integer PCM, 3 is float.
inline Bytes fmtBody(int formatTag, int channels, int bits, int rate = 44100) {
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

/// A RIFF/WAVE file around the given chunks.
inline Bytes riff(const std::vector<Bytes>& chunks) {
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

/// 16-bit samples as they lie in a data chunk.
inline Bytes pcm16(const std::vector<int>& samples) {
    Bytes b;
    for (int s : samples)
        put(b, static_cast<std::uint16_t>(s), 2);
    return b;
}

/// The canonical 44-byte-header 16-bit PCM WAV of the interleaved samples.
inline Bytes wav16(const std::vector<int>& interleaved, int channels = 2, int rate = 44100) {
    return riff({chunk("fmt ", fmtBody(1, channels, 16, rate)), chunk("data", pcm16(interleaved))});
}

inline bool writeBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    // An empty file is written too; fwrite must not see the empty vector's null data.
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

/// The whole file; empty when it cannot be read.
inline Bytes readBytes(const std::string& path) {
    Bytes bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    unsigned char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

/// The little-endian field at byte `at`: unsigned 32 bits, signed 16 bits.
inline std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::int16_t le16s(const Bytes& b, std::size_t at) {
    return static_cast<std::int16_t>(b[at] | (b[at + 1] << 8));
}

/// Writes a sound file through libsndfile: `shape(frame, channel)` in −1..1, `format` a full SF_FORMAT_*
/// (container | encoding). False when libsndfile refuses.
template <class Shape>
bool writeSound(const std::string& path, int format, int channels, int frames, Shape shape,
                int rate = 44100) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    std::vector<double> data(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            data[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels) +
                 static_cast<std::size_t>(c)] = shape(i, c);
    const bool written = sf_writef_double(file, data.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

/// Reads a sound file back through libsndfile, as any audio program would: interleaved 16-bit samples,
/// and the file's description in `info`. Empty, with `info` zero, when libsndfile cannot open it.
inline std::vector<short> readSound(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr)
        return {};
    std::vector<short> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_short(f, samples.data(), info.frames);
    sf_close(f);
    return samples;
}

} // namespace common::test
