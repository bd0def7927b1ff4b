#pragma once
#include <cstddef>
#include <cstdint>

namespace larkspur {

// Receives the samples a recording file keeps, in file order, as they are written: what the
// file's data chunk holds, no more (a cut write hands over only the whole frames kept).
class SampleTap {
public:
    virtual ~SampleTap() = default;
    // offset: where the bytes start within the data chunk. Called on the capture thread, which
    // must never wait on the tap.
    virtual void Samples(std::uint64_t offset, const void* data, std::size_t bytes) = 0;
};

}  // namespace larkspur
