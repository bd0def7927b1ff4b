// libFuzzer target: the converter's reading of a wave file (header, chunk walk, sample data in
// encoder-sized chunks with 8-bit widening), on arbitrary bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/mp3/wav2mp3_input.h"

namespace {

class Memory final : public larkspur::wav2mp3::ByteSource {
public:
    Memory(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) override {
        if (offset > size_ || into.size() > size_ - offset) return false;
        std::memcpy(into.data(), data_ + offset, into.size());
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace larkspur::wav2mp3;
    Memory file(data, size);
    const WaveLayout layout = ReadWaveLayout(file);
    if (layout.problem != WaveProblem::None) return 0;
    if (layout.dataOffset + layout.dataSize > size) std::abort();

    // The converter's chunk: one frame of 1152 values per channel.
    std::vector<std::int16_t> chunk(layout.channels == 1 ? 1152 : 2304);
    SampleReader reader(file, layout);
    std::uint64_t values = 0;
    while (const std::size_t n = reader.Next(chunk)) {
        if (n > chunk.size()) std::abort();
        values += n;
    }
    const std::uint64_t width = layout.bitsPerSample == 8 ? 1 : 2;
    if (reader.Failed() || values != layout.dataSize / width) std::abort();
    return 0;
}
