#pragma once
#include "audio/sample_tap.h"
#include "audio/wave_file.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

// The levels of what a recording keeps, taken from the samples on their way into the file: the
// capture thread folds each fragment into a few atomics, and the window reads them without a
// lock (one reader). Every sample is then handed on to the next tap (the early MP3), if any.
namespace larkspur {

class LevelTap final : public SampleTap {
public:
    static constexpr int kMaxChannels = 2;

    struct Reading {
        // The highest sample of each channel since the last reading, 0 to 1 of full scale.
        std::array<double, kMaxChannels> peak{};
        // A sample of that channel reached full scale since the last reading.
        std::array<bool, kMaxChannels> clipped{};
        // How long the recording has kept nothing but digital silence (exact zeros, 0x80 for
        // 8-bit), up to its end; the whole recording when it never held a sound.
        double silentSeconds = 0;
        bool everSound = false;  // any sample of the recording was not digital silence
        double keptSeconds = 0;  // all the recording kept
    };

    // Peaks, 0 to 1 of full scale, from low (included) up to high.
    struct PeakRange {
        double low = 0;
        double high = 0;
    };

    LevelTap(const WaveFormat& format, std::shared_ptr<SampleTap> next);
    ~LevelTap() override;
    LevelTap(const LevelTap&) = delete;
    LevelTap& operator=(const LevelTap&) = delete;

    void Samples(std::uint64_t offset, const void* data, std::size_t bytes) override;

    // On the window's thread.
    Reading Take();
    int Channels() const { return format_.channels; }

    // While what the window shows holds still, it need not read: the first fragment whose peak
    // leaves a channel's range, or that clips, makes WakeFd() readable, once. -1 where no
    // wake-up can be had; the window then keeps reading.
    int WakeFd() const { return wakeFd_; }
    void WakeWhenOutside(const std::array<PeakRange, kMaxChannels>& ranges);
    void StopWaking() { watching_.store(false, std::memory_order_relaxed); }

private:
    WaveFormat format_;
    std::shared_ptr<SampleTap> next_;
    // Peaks in sample units (0 to 32768), raised by the capture thread, taken by the reader.
    std::array<std::atomic<std::uint32_t>, kMaxChannels> peak_{};
    std::array<std::atomic<bool>, kMaxChannels> clipped_{};
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> lastSoundEnd_{0};  // frames up to and with the last sound
    std::atomic<bool> everSound_{false};
    // The ranges a wake-up waits on, in sample units.
    std::array<std::atomic<std::uint32_t>, kMaxChannels> wakeBelow_{}, wakeFrom_{};
    std::atomic<bool> watching_{false};
    int wakeFd_ = -1;
};

}  // namespace larkspur
