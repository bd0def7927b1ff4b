#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// How the converter reads a wave file: the header, the walk to the "data" chunk and the sample
// data in chunks of 16-bit values. Free of Qt and of the encoder, so it can be fuzzed on its own.
namespace larkspur::wav2mp3 {

// The bytes of a wave file. Nothing is read at or past Size().
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads into.size() bytes at offset; false when they could not all be read.
    virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) = 0;
};

// A wave file on disk, read with pread so that no read goes past its size. Only a regular file
// opens; a FIFO under that name does not hold the constructor.
class WaveFileSource final : public ByteSource {
public:
    explicit WaveFileSource(const std::string& path);
    ~WaveFileSource() override;
    WaveFileSource(const WaveFileSource&) = delete;
    WaveFileSource& operator=(const WaveFileSource&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) override;

private:
    int fd_;
    std::uint64_t size_ = 0;
};

enum class WaveProblem { None, NotWave, Compressed, UnsupportedRate };

// The sample rates the encoder takes: MPEG-1's 32000, 44100 and 48000.
bool IsSupportedRate(std::uint32_t rate);

// An unsigned 8-bit sample as the 16-bit value the encoder gets.
inline std::int16_t Widen8(std::uint8_t sample) {
    return static_cast<std::int16_t>((sample - 128) * 256);
}

struct WaveLayout {
    WaveProblem problem = WaveProblem::None;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSecond = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint64_t dataOffset = 0;
    // The sample bytes present: the data chunk's size, or less where the file ends sooner.
    std::uint64_t dataSize = 0;
};

// Reads the header and walks the chunks up to "data". Bytes 0 to 11 are not examined, except
// that an RF64 file's "ds64" chunk at 12 gives the data size and is stepped over; the chunk at
// 12 (after "ds64") must be "fmt " with PCM at 32000, 44100 or 48000 samples per second. Chunks
// of odd size are followed by a pad byte.
WaveLayout ReadWaveLayout(ByteSource& file);

// The sample data as 16-bit values; 8-bit samples (unsigned) are widened.
class SampleReader {
public:
    SampleReader(ByteSource& file, const WaveLayout& layout);

    // Fills the front of `values` with the next values (as many as fit, fewer at the end) and
    // returns how many; 0 when the data are used up or can no longer be read.
    std::size_t Next(std::span<std::int16_t> values);

    std::uint64_t BytesRead() const { return position_ - layout_.dataOffset; }
    // A read failed before the end of the data.
    bool Failed() const { return failed_; }

private:
    ByteSource& file_;
    WaveLayout layout_;
    std::uint64_t position_;
    bool failed_ = false;
};

}  // namespace larkspur::wav2mp3
