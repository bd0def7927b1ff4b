#include "audio/level_tap.h"

#include <algorithm>
#include <cstdlib>

namespace larkspur {

namespace {

constexpr std::uint32_t kFullScale = 32768;

// Sample units, 0 to 32768, and whether the value is at either end of the scale.
struct Magnitude {
    std::uint32_t value;
    bool clipped;
};

Magnitude Of16(const unsigned char* p) {
    const auto s = std::int16_t(std::uint16_t(p[0] | p[1] << 8));
    return {std::uint32_t(std::abs(int(s))), s == 32767 || s == -32768};
}

Magnitude Of8(const unsigned char* p) {
    const int s = int(*p) - 0x80;
    return {std::uint32_t(std::abs(s)) << 8, *p == 0 || *p == 255};
}

void RaiseTo(std::atomic<std::uint32_t>& peak, std::uint32_t value) {
    std::uint32_t seen = peak.load(std::memory_order_relaxed);
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

}  // namespace

LevelTap::LevelTap(const WaveFormat& format, std::shared_ptr<SampleTap> next)
    : format_(format), next_(std::move(next)) {}

void LevelTap::Samples(std::uint64_t offset, const void* data, std::size_t bytes) {
    const std::size_t block = format_.BlockAlign();
    const int channels = std::min<int>(format_.channels, kMaxChannels);
    const std::size_t frames = bytes / block;
    const auto* p = static_cast<const unsigned char*>(data);
    std::array<std::uint32_t, kMaxChannels> peak{};
    std::array<bool, kMaxChannels> clipped{};
    std::size_t lastSound = 0;  // frames up to and with the last sound in this fragment
    for (std::size_t f = 0; f < frames; ++f, p += block) {
        for (int c = 0; c < channels; ++c) {
            const Magnitude m = format_.bitsPerSample == 8 ? Of8(p + c) : Of16(p + 2 * c);
            peak[c] = std::max(peak[c], m.value);
            clipped[c] = clipped[c] || m.clipped;
            if (m.value != 0) lastSound = f + 1;
        }
    }
    for (int c = 0; c < channels; ++c) {
        RaiseTo(peak_[c], peak[c]);
        if (clipped[c]) clipped_[c].store(true, std::memory_order_relaxed);
    }
    const std::uint64_t before = frames_.load(std::memory_order_relaxed);
    if (lastSound > 0) {
        lastSoundEnd_.store(before + lastSound, std::memory_order_relaxed);
        everSound_.store(true, std::memory_order_relaxed);
    }
    frames_.store(before + frames, std::memory_order_release);
    if (next_) next_->Samples(offset, data, bytes);
}

LevelTap::Reading LevelTap::Take() {
    Reading r;
    const double rate = format_.sampleRate;
    const std::uint64_t frames = frames_.load(std::memory_order_acquire);
    for (int c = 0; c < std::min<int>(format_.channels, kMaxChannels); ++c) {
        r.peak[c] = std::min(1.0, peak_[c].exchange(0, std::memory_order_relaxed) / double(kFullScale));
        r.clipped[c] = clipped_[c].exchange(false, std::memory_order_relaxed);
    }
    const std::uint64_t soundEnd = std::min(frames, lastSoundEnd_.load(std::memory_order_relaxed));
    r.silentSeconds = (frames - soundEnd) / rate;
    r.everSound = everSound_.load(std::memory_order_relaxed);
    r.keptSeconds = frames / rate;
    return r;
}

}  // namespace larkspur
