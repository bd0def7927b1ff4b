#include "audio/level_tap.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sys/eventfd.h>
#include <unistd.h>

namespace larkspur {

namespace {

constexpr std::uint32_t kFullScale = 32768;

// The greatest magnitude of each of the first channels of every frame, in 16-bit units (0 to
// 32768). The channel count is fixed at compile time so that the loop stays a plain reduction.
template <int Channels, bool EightBit>
void Peaks(const unsigned char* p, std::size_t frames, std::size_t block, std::uint32_t* peak) {
    std::array<int, Channels> m{};
    for (std::size_t f = 0; f < frames; ++f, p += block)
        for (int c = 0; c < Channels; ++c)
            m[c] = std::max(m[c], EightBit ? std::abs(int(p[c]) - 0x80) << 8
                                           : std::abs(int(std::int16_t(std::uint16_t(
                                                 p[2 * c] | p[2 * c + 1] << 8)))));
    std::copy(m.begin(), m.end(), peak);
}

// Frames up to and with the last one holding anything but digital silence.
std::size_t SoundEnd(const unsigned char* data, std::size_t frames, std::size_t block, unsigned char silence) {
    for (std::size_t f = frames; f > 0; --f) {
        const unsigned char* q = data + (f - 1) * block;
        if (std::any_of(q, q + block, [silence](unsigned char b) { return b != silence; })) return f;
    }
    return 0;
}

void RaiseTo(std::atomic<std::uint32_t>& peak, std::uint32_t value) {
    std::uint32_t seen = peak.load(std::memory_order_relaxed);
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

// A threshold in sample units: a peak p lies below the level when p < SampleUnits(level).
std::uint32_t SampleUnits(double level) {
    return std::uint32_t(std::clamp(std::ceil(level * kFullScale), 0.0, double(kFullScale) + 1));
}

}  // namespace

LevelTap::LevelTap(const WaveFormat& format, std::shared_ptr<SampleTap> next)
    : format_(format), next_(std::move(next)), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

LevelTap::~LevelTap() {
    if (wakeFd_ >= 0) close(wakeFd_);
}

void LevelTap::Samples(std::uint64_t offset, const void* data, std::size_t bytes) {
    const std::size_t block = format_.BlockAlign();
    const int channels = std::min<int>(format_.channels, kMaxChannels);
    const bool eightBit = format_.bitsPerSample == 8;
    const std::size_t frames = bytes / block;
    const auto* p = static_cast<const unsigned char*>(data);
    std::array<std::uint32_t, kMaxChannels> peak{};
    if (channels == 1) {
        eightBit ? Peaks<1, true>(p, frames, block, peak.data()) : Peaks<1, false>(p, frames, block, peak.data());
    } else {
        eightBit ? Peaks<2, true>(p, frames, block, peak.data()) : Peaks<2, false>(p, frames, block, peak.data());
    }
    // Full scale: 32767 or -32768, 255 or 0 for 8-bit.
    const std::uint32_t clipsAt = eightBit ? 127u << 8 : 32767u;
    const bool watching = watching_.load(std::memory_order_acquire);
    bool moved = false;
    for (int c = 0; c < channels; ++c) {
        RaiseTo(peak_[c], peak[c]);
        const bool clipped = peak[c] >= clipsAt;
        if (clipped) clipped_[c].store(true, std::memory_order_relaxed);
        if (watching)
            moved = moved || clipped || peak[c] < wakeBelow_[c].load(std::memory_order_relaxed) ||
                    peak[c] >= wakeFrom_[c].load(std::memory_order_relaxed);
    }
    const std::uint64_t before = frames_.load(std::memory_order_relaxed);
    // Only a fragment with sound holds a last sound (the peaks tell, where they cover every
    // channel); most end on it.
    if (format_.channels > kMaxChannels ||
        std::any_of(peak.begin(), peak.begin() + channels, [](std::uint32_t v) { return v != 0; })) {
        if (const std::size_t end = SoundEnd(p, frames, block, eightBit ? 0x80 : 0)) {
            lastSoundEnd_.store(before + end, std::memory_order_relaxed);
            everSound_.store(true, std::memory_order_relaxed);
        }
    }
    frames_.store(before + frames, std::memory_order_release);
    if (moved && watching_.exchange(false, std::memory_order_relaxed)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
    }
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

void LevelTap::WakeWhenOutside(const std::array<PeakRange, kMaxChannels>& ranges) {
    if (wakeFd_ < 0) return;
    for (int c = 0; c < kMaxChannels; ++c) {
        wakeBelow_[c].store(SampleUnits(ranges[c].low), std::memory_order_relaxed);
        wakeFrom_[c].store(SampleUnits(ranges[c].high), std::memory_order_relaxed);
    }
    watching_.store(true, std::memory_order_release);
}

}  // namespace larkspur
