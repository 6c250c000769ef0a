// Sample loader: decodes with libsndfile, then swaps the arrays into a slot under the engine's lock.
#include "vexla/samples/SampleLoader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexla {

namespace {

LoadResult fail(std::string reason) {
    return LoadResult{false, std::move(reason)};
}

std::int16_t roundInt32To16(int v) {
    // libsndfile hands integer PCM left-justified in 32 bits; round to the nearest 16-bit value.
    const std::int64_t rounded = (static_cast<std::int64_t>(v) + 0x8000) >> 16;
    return static_cast<std::int16_t>(std::min<std::int64_t>(rounded, 32767));
}

std::int16_t floatTo16(float v) {
    if (!(v == v))
        return 0; // NaN
    const float scaled = std::nearbyint(v * 32768.0f);
    if (scaled >= 32767.0f)
        return 32767;
    if (scaled <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(scaled);
}

// A growable 16-bit array that reports allocation failure instead of throwing.
struct Channel {
    std::unique_ptr<std::int16_t[]> data;
    std::int64_t capacity = 0;

    bool reserve(std::int64_t frames) {
        if (frames <= capacity)
            return true;
        std::unique_ptr<std::int16_t[]> bigger(new (std::nothrow)
                                                   std::int16_t[static_cast<std::size_t>(frames)]);
        if (!bigger)
            return false;
        if (capacity > 0)
            std::memcpy(bigger.get(), data.get(), static_cast<std::size_t>(capacity) * 2);
        data = std::move(bigger);
        capacity = frames;
        return true;
    }

    bool shrinkTo(std::int64_t frames) {
        if (frames == capacity)
            return true;
        std::unique_ptr<std::int16_t[]> exact(new (std::nothrow)
                                                  std::int16_t[static_cast<std::size_t>(frames)]);
        if (!exact)
            return false;
        std::memcpy(exact.get(), data.get(), static_cast<std::size_t>(frames) * 2);
        data = std::move(exact);
        capacity = frames;
        return true;
    }
};

std::int32_t clampToInt32(std::uint64_t v) {
    return static_cast<std::int32_t>(std::min<std::uint64_t>(v, INT32_MAX));
}

// libsndfile quietly shortens a data chunk that runs past the end of the file and notes it in its
// log as "data : <declared> (should be <present>)"; such a file lost part of its sound.
bool dataChunkCutShort(SNDFILE* file) {
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log - 1);
    for (const char* line = log; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::size_t length = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
        const std::string text(line, length);
        if ((text.rfind("data :", 0) == 0 || text.rfind("SSND :", 0) == 0) &&
            text.find("(should be") != std::string::npos)
            return true;
        line += length + (end ? 1 : 0);
    }
    return false;
}

/// Whether a WAV or AIFF file's data chunk claims more bytes than the file holds after it. libsndfile
/// then quietly loads what is there and says so only in its log, which it cuts off after 2 KiB (a
/// hundred small chunks ahead of the data fill it): so the chunk headers are read here.
/// `readAt(offset, buffer, bytes)` reads exactly `bytes` or returns false.
template <class ReadAt> bool declaredDataRunsPastTheEnd(ReadAt&& readAt, std::uint64_t fileSize) {
    unsigned char header[12];
    if (fileSize < 12 || !readAt(0, header, 12))
        return false;
    const bool riff = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0;
    const bool aiff = std::memcmp(header, "FORM", 4) == 0 &&
                      (std::memcmp(header + 8, "AIFF", 4) == 0 || std::memcmp(header + 8, "AIFC", 4) == 0);
    if (!riff && !aiff)
        return false;
    constexpr int kMostChunks = 100000; // a bound on a hostile file's walk
    std::uint64_t at = 12;
    for (int chunks = 0; chunks < kMostChunks && at + 8 <= fileSize; ++chunks) {
        unsigned char chunk[8];
        if (!readAt(at, chunk, 8))
            return false;
        const std::uint32_t size = riff ? std::uint32_t{chunk[4]} | std::uint32_t{chunk[5]} << 8 |
                                              std::uint32_t{chunk[6]} << 16 | std::uint32_t{chunk[7]} << 24
                                        : std::uint32_t{chunk[7]} | std::uint32_t{chunk[6]} << 8 |
                                              std::uint32_t{chunk[5]} << 16 | std::uint32_t{chunk[4]} << 24;
        if (std::memcmp(chunk, riff ? "data" : "SSND", 4) == 0)
            // 0 and 0xFFFFFFFF are what writers that stream leave when they never learn the length.
            return size != 0 && size != 0xFFFFFFFFu && at + 8 + size > fileSize;
        at += 8 + std::uint64_t{size} + (size & 1u);
    }
    return false;
}

/// The file's first sample loop as the file states it, or none.
void readFirstLoop(SNDFILE* file, const SF_INFO& info, DecodedSample& out) {
    out.loopStart = out.loopEnd = out.hasLoop = 0;
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE ||
        instrument.loop_count <= 0)
        return;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    std::uint64_t end = instrument.loops[0].end;
    // libsndfile reports a WAV "smpl" loop end one past the value the file holds; the slot keeps
    // the file's own value.
    if ((major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64) && end > 0)
        --end;
    out.loopStart = clampToInt32(instrument.loops[0].start);
    out.loopEnd = clampToInt32(end);
    out.hasLoop = 1;
}

LoadResult decodeOpened(SNDFILE* file, const SF_INFO& info, DecodedSample& out, std::int64_t maxFrames,
                        bool dataRunsPastTheEnd) {
    if (info.channels < 1)
        return fail("not a sound file");
    if (dataRunsPastTheEnd || dataChunkCutShort(file))
        return fail("file is truncated");
    if (info.frames == 0)
        return fail("file is empty");
    const int channels = info.channels;
    const bool stereo = channels >= 2;
    // The declared length is a hint only: compressed formats can claim anything. Arrays grow with
    // what is actually decoded and never beyond maxFrames.
    const bool declared = info.frames > 0 && info.frames < SF_COUNT_MAX;
    if (declared && info.frames > maxFrames)
        return fail("too large to load");

    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool isFloat = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE ||
                         subtype == SF_FORMAT_VORBIS || subtype == SF_FORMAT_OPUS;
    const std::int64_t chunkFrames = std::max(1, 16384 / channels);
    std::vector<int> ints;
    std::vector<float> floats;
    try {
        if (isFloat)
            floats.resize(static_cast<std::size_t>(chunkFrames * channels));
        else
            ints.resize(static_cast<std::size_t>(chunkFrames * channels));
    } catch (const std::bad_alloc&) {
        return fail("not enough memory to load");
    }

    Channel left, right;
    std::int64_t initial = declared ? info.frames : chunkFrames;
    initial = std::min(initial, maxFrames);
    if (!left.reserve(initial) || (stereo && !right.reserve(initial)))
        return fail("not enough memory to load");

    std::int64_t total = 0;
    for (;;) {
        const sf_count_t got = isFloat ? sf_readf_float(file, floats.data(), chunkFrames)
                                       : sf_readf_int(file, ints.data(), chunkFrames);
        if (got <= 0)
            break;
        if (total + got > maxFrames)
            return fail("too large to load");
        if (total + got > left.capacity) {
            const std::int64_t wanted = std::min(std::max(total + got, left.capacity * 2), maxFrames);
            if (!left.reserve(wanted) || (stereo && !right.reserve(wanted)))
                return fail("not enough memory to load");
        }
        for (sf_count_t i = 0; i < got; ++i) {
            const std::size_t at = static_cast<std::size_t>(i * channels);
            if (isFloat) {
                left.data[total + i] = floatTo16(floats[at]);
                if (stereo)
                    right.data[total + i] = floatTo16(floats[at + 1]);
            } else {
                left.data[total + i] = roundInt32To16(ints[at]);
                if (stereo)
                    right.data[total + i] = roundInt32To16(ints[at + 1]);
            }
        }
        total += got;
    }
    if (sf_error(file) != SF_ERR_NO_ERROR)
        return fail("damaged sound file: " + std::string(sf_strerror(file)));
    if (total == 0)
        return fail(declared ? "file is truncated" : "file is empty");
    if (declared && total < info.frames)
        return fail("file is truncated");
    if (!left.shrinkTo(total) || (stereo && !right.shrinkTo(total)))
        return fail("not enough memory to load");

    out.left = std::move(left.data);
    out.right = stereo ? std::move(right.data) : nullptr;
    out.stereo = stereo;
    out.length = static_cast<std::int32_t>(total);
    readFirstLoop(file, info, out);
    return LoadResult{true, {}};
}

LoadResult openFailure(SNDFILE* file) {
    switch (sf_error(file)) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return fail("not a sound file");
    case SF_ERR_MALFORMED_FILE:
        return fail("damaged sound file");
    case SF_ERR_UNSUPPORTED_ENCODING:
        return fail("unsupported sound format");
    default:
        return fail(std::string("cannot read the sound file: ") + sf_strerror(file));
    }
}

struct MemoryFile {
    const unsigned char* data;
    sf_count_t size;
    sf_count_t position;
};

sf_count_t memoryLength(void* user) {
    return static_cast<MemoryFile*>(user)->size;
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : m->size;
    if (offset > 0 && base > SF_COUNT_MAX - offset)
        return -1;
    const sf_count_t target = base + offset;
    if (target < 0)
        return -1;
    m->position = target; // past the end is allowed, as for a file; reads there return nothing
    return target;
}

sf_count_t memoryRead(void* to, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    if (count <= 0 || m->position >= m->size)
        return 0;
    const sf_count_t n = std::min(count, m->size - m->position);
    std::memcpy(to, m->data + m->position, static_cast<std::size_t>(n));
    m->position += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t memoryTell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

} // namespace

LoadResult decodeSampleFile(const char* path, DecodedSample& out, std::int64_t maxFrames) {
    if (path == nullptr || path[0] == '\0')
        return fail("no file chosen");
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer, freezing the window.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return fail("file not found");
        if (errno == EACCES || errno == EPERM)
            return fail("no permission to read the file");
        return fail(std::string("cannot open the file: ") + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // Devices, pipes and folders are not sound files (and a pipe would block the window).
        ::close(fd);
        return fail("not a sound file");
    }
    if (st.st_size == 0) {
        ::close(fd);
        return fail("file is empty");
    }
    SF_INFO info{};
    // The descriptor stays ours whatever libsndfile does, so it is closed exactly once.
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (file == nullptr) {
        LoadResult result = openFailure(nullptr);
        ::close(fd);
        return result;
    }
    const bool runsPast = declaredDataRunsPastTheEnd(
        [fd](std::uint64_t offset, unsigned char* buffer, std::size_t bytes) {
            return ::pread(fd, buffer, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
        },
        static_cast<std::uint64_t>(st.st_size));
    LoadResult result = decodeOpened(file, info, out, maxFrames, runsPast);
    sf_close(file);
    ::close(fd);
    return result;
}

LoadResult decodeSampleMemory(const void* data, std::size_t size, DecodedSample& out,
                              std::int64_t maxFrames) {
    if (size == 0)
        return fail("file is empty");
    MemoryFile memory{static_cast<const unsigned char*>(data), static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (file == nullptr)
        return openFailure(nullptr);
    const auto* bytes = static_cast<const unsigned char*>(data);
    const bool runsPast = declaredDataRunsPastTheEnd(
        [bytes, size](std::uint64_t offset, unsigned char* buffer, std::size_t count) {
            if (offset > size || count > size - offset)
                return false;
            std::memcpy(buffer, bytes + offset, count);
            return true;
        },
        size);
    LoadResult result = decodeOpened(file, info, out, maxFrames, runsPast);
    sf_close(file);
    return result;
}

void setSlotName(SampleSlot& slot, const char* path) {
    std::memset(slot.name, 0, sizeof slot.name);
    if (path == nullptr)
        return;
    const std::size_t length = std::strlen(path);
    constexpr std::size_t room = kSlotNameBytes - 1;
    if (length <= room) {
        std::memcpy(slot.name, path, length);
        return;
    }
    // Keep the end, where the file's own name is; never start inside a UTF-8 sequence.
    std::size_t from = length - (room - 3);
    while (from < length && (static_cast<unsigned char>(path[from]) & 0xC0) == 0x80)
        ++from;
    std::memcpy(slot.name, "...", 3);
    std::memcpy(slot.name + 3, path + from, length - from);
}

LoadResult loadSampleFile(const char* path, SampleSlot& slot) {
    DecodedSample decoded;
    LoadResult result = decodeSampleFile(path, decoded);
    if (!result)
        return result;
    // `decoded` takes the old arrays, freed when it goes out of scope.
    std::swap(slot.left, decoded.left);
    std::swap(slot.right, decoded.right);
    slot.stereo = decoded.stereo;
    slot.length = decoded.length;
    slot.loopStart = decoded.loopStart;
    slot.loopEnd = decoded.loopEnd;
    slot.hasLoop = decoded.hasLoop;
    setSlotName(slot, path);
    return result;
}

} // namespace vexla
