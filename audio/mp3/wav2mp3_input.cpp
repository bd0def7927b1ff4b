#include "audio/mp3/wav2mp3_input.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspur::wav2mp3 {
namespace {

// Sample values are handed over in the machine's order, which must be the file's.
static_assert(std::endian::native == std::endian::little);

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsId(const std::uint8_t* p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

// A chunk's body with the pad byte RIFF puts after an odd size.
std::uint64_t Padded(std::uint32_t size) { return std::uint64_t{size} + (size & 1u); }

std::size_t BytesPerValue(const WaveLayout& layout) { return layout.bitsPerSample == 8 ? 1 : 2; }

}  // namespace

WaveFileSource::WaveFileSource(const std::string& path)
    // O_NONBLOCK: a FIFO under that name must not hold the call in open().
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        size_ = static_cast<std::uint64_t>(st.st_size);
    } else if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

WaveFileSource::~WaveFileSource() {
    if (fd_ >= 0) ::close(fd_);
}

bool WaveFileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) {
    if (fd_ < 0 || offset > size_ || into.size() > size_ - offset) return false;
    while (!into.empty()) {
        const ssize_t got = ::pread(fd_, into.data(), into.size(), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        into = into.subspan(static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool IsSupportedRate(std::uint32_t rate) { return rate == 32000 || rate == 44100 || rate == 48000; }

WaveLayout ReadWaveLayout(ByteSource& file) {
    WaveLayout layout;
    // An RF64 file (past 4 GiB) tells its 64-bit sizes in a "ds64" chunk at 12, and the format
    // follows it.
    std::uint64_t at = 12;
    std::optional<std::uint64_t> dataSize64;
    std::array<std::uint8_t, 24> ds64;
    std::array<std::uint8_t, 4> magic;
    if (file.ReadAt(0, magic) && IsId(magic.data(), "RF64") && file.ReadAt(12, ds64) && IsId(ds64.data(), "ds64") &&
        U32(&ds64[4]) >= 16) {
        dataSize64 = U32(&ds64[16]) | std::uint64_t(U32(&ds64[20])) << 32;
        at = 20 + Padded(U32(&ds64[4]));
    }
    // From `at`: chunk id, chunk size and the 16 bytes of the PCM format.
    std::array<std::uint8_t, 24> fmt;
    if (!file.ReadAt(at, fmt) || !IsId(fmt.data(), "fmt ")) {
        layout.problem = WaveProblem::NotWave;
        return layout;
    }
    if (U16(&fmt[8]) != 1) {
        layout.problem = WaveProblem::Compressed;
        return layout;
    }
    layout.channels = U16(&fmt[10]);
    layout.samplesPerSecond = U32(&fmt[12]);
    layout.bitsPerSample = U16(&fmt[22]);
    if (!IsSupportedRate(layout.samplesPerSecond)) {
        layout.problem = WaveProblem::UnsupportedRate;
        return layout;
    }

    // The 16 format bytes are read whatever the size says; the rest of the chunk is skipped.
    std::uint64_t next = at + 8 + std::max<std::uint64_t>(Padded(U32(&fmt[4])), 16);
    // Each step moves on by at least 8 bytes and stops at the end of the file, so a size field
    // can neither send the walk past the end nor keep it going.
    std::array<std::uint8_t, 8> header;
    while (file.ReadAt(next, header)) {
        const std::uint32_t size = U32(&header[4]);
        if (IsId(header.data(), "data")) {
            layout.dataOffset = next + header.size();
            const std::uint64_t told = dataSize64 && size == 0xFFFFFFFF ? *dataSize64 : size;
            layout.dataSize = std::min<std::uint64_t>(told, file.Size() - layout.dataOffset);
            return layout;
        }
        next += header.size() + Padded(size);
    }
    layout.problem = WaveProblem::NotWave;
    return layout;
}

SampleReader::SampleReader(ByteSource& file, const WaveLayout& layout)
    : file_(file), layout_(layout), position_(layout.dataOffset) {}

std::size_t SampleReader::Next(std::span<std::int16_t> values) {
    const std::size_t width = BytesPerValue(layout_);
    const std::uint64_t left = (layout_.dataOffset + layout_.dataSize - position_) / width;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(values.size(), left));
    if (count == 0 || failed_) return 0;

    auto* bytes = reinterpret_cast<std::uint8_t*>(values.data());
    if (width == 2) {
        failed_ = !file_.ReadAt(position_, {bytes, count * 2});
    } else {
        // 8-bit samples go into the back half of the room for `count` values and are widened
        // front to back, which never overwrites a byte still to be read.
        std::uint8_t* raw = bytes + count;
        failed_ = !file_.ReadAt(position_, {raw, count});
        if (!failed_) {
            for (std::size_t i = 0; i < count; ++i) {
                values[i] = Widen8(raw[i]);
            }
        }
    }
    if (failed_) return 0;
    position_ += count * width;
    return count;
}

}  // namespace larkspur::wav2mp3
