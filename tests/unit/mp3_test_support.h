#pragma once
// Wave files made by code, and MP3 files taken apart by a real decoder (libmpg123), for the tests
// of the converter.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mp3test {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
    std::string id;
    Bytes body;  // an odd size gets its pad byte
};

struct WaveParts {
    // The first 12 bytes; empty for "RIFF", size, "WAVE".
    std::string head;
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    Bytes fmtExtra;  // fmt bytes beyond the first 16 (an odd size gets its pad byte)
    std::vector<Chunk> before;  // chunks between fmt and data
    bool withData = true;
    Bytes data;
    std::optional<std::uint32_t> declaredDataSize;  // the data size field, if not data.size()
};

Bytes BuildWave(const WaveParts& parts);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// A sine of `hz` at `amplitude` (of full scale) per channel, `frames` sample frames, as the data
// bytes of a file with `bits` 8 (unsigned) or 16 (signed little-endian) and channels interleaved.
Bytes Tone(const std::vector<double>& amplitude, double hz, std::uint32_t rate, std::size_t frames,
           int bits);

// Encoder delay and padding as libmp3lame reports them for `frames` sample frames at the
// converter's settings.
struct DelayPadding {
    int delay;
    int padding;
};
DelayPadding LameDelayPadding(std::uint32_t rate, int channels, std::size_t frames);

struct FrameHeader {
    int version;  // mpg123_version
    int layer;
    long rate;
    int mode;  // mpg123_mode
    int modeExtension;
    int flags;  // mpg123_flags: CRC, copyright, private, original
    int emphasis;
    int bitrate;
    int vbr;  // mpg123_vbr
    int framesize;
};

struct DecodedMp3 {
    Bytes file;
    std::vector<FrameHeader> frames;  // every frame as the decoder saw it
    long rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::size_t Frames() const { return channels ? samples.size() / channels : 0; }
};

// Decodes every frame (no gapless trimming, an info frame would count as audio). Fails the
// running test if the decoder reports an error.
DecodedMp3 Decode(const std::string& path);

// Channel `channel` of interleaved samples, from frame `from` for `count` frames.
std::vector<double> Channel(const std::vector<std::int16_t>& samples, int channels, int channel,
                            std::size_t from, std::size_t count);
double Rms(const std::vector<double>& x);
// Frequency from the rising zero crossings (interpolated between samples).
double Frequency(const std::vector<double>& x, double rate);

}  // namespace mp3test
