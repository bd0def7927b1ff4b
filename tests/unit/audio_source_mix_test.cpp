// The mix replayed without a sound server: a source whose clock runs off the recording's delivers
// a tone in fragments that arrive a little late and out of phase with the recording's own; the
// tone in the mix must run on without a jump and at a constant offset for ten minutes.
#include "audio/source_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using Clock = MixInput::Clock;

constexpr std::uint32_t kRate = 44100;
constexpr double kTone = 1010;  // a fragment dropped or repeated shifts its phase
constexpr std::size_t kFragment = 1102;  // 25 ms, for both sides

struct Replay {
    double ppm = 0;            // how much faster the source's clock runs
    Clock::duration away{};    // the source delivers nothing for this long...
    Clock::duration awayAt{};  // ...from then
    MixInput input{kRate, 1};
    std::vector<float> mix;    // what the recording's own source got added, at its clock

    void Run(Clock::duration length) {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> jitter(0, 0.004);
        const Clock::time_point origin{1h};
        const double sourceRate = kRate * (1 + ppm * 1e-6);
        std::uint64_t produced = 0;  // source frames
        std::uint64_t mixed = 0;     // recording frames
        std::vector<float> fragment(kFragment);
        const double seconds = std::chrono::duration<double>(length).count();
        // The source's fragments end a third of a fragment after the recording's.
        double nextSource = (kFragment + kFragment / 3.0) / sourceRate;
        double nextOwn = double(kFragment) / kRate;
        while (nextOwn < seconds) {
            const bool sourceFirst = nextSource < nextOwn;
            const double t = sourceFirst ? nextSource : nextOwn;
            const auto now = origin + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(t + jitter(random)));
            if (sourceFirst) {
                for (std::size_t i = 0; i < kFragment; ++i)
                    fragment[i] = float(0.5 * std::sin(2 * std::numbers::pi * kTone * double(produced + i) / kRate));
                produced += kFragment;
                const auto since = std::chrono::duration<double>(t) - awayAt;
                if (since < 0s || since >= away) input.Deliver(fragment.data(), kFragment, now);
                nextSource += kFragment / sourceRate;
            } else {
                mix.resize(mixed + kFragment);
                input.Take(mix.data() + mixed, kFragment, now);
                mixed += kFragment;
                nextOwn += double(kFragment) / kRate;
            }
        }
    }

    // The tone's phase against one of the source's clock, every 10 ms from `from` to `to`
    // (seconds), unwrapped, as the time it lags (seconds).
    std::vector<double> Lag(double from, double to) const {
        const double frequency = kTone * (1 + ppm * 1e-6);
        const std::size_t block = kRate / 100;
        std::vector<double> lags;
        double previous = 0;
        for (auto at = std::size_t(from * kRate); at + block <= std::size_t(to * kRate); at += block) {
            std::complex<double> sum;
            for (std::size_t i = at; i < at + block; ++i)
                sum += double(mix[i]) * std::polar(1.0, -2 * std::numbers::pi * frequency * double(i) / kRate);
            double phase = -std::arg(sum);
            if (!lags.empty()) phase = previous + std::remainder(phase - previous, 2 * std::numbers::pi);
            previous = phase;
            lags.push_back(phase / (2 * std::numbers::pi * frequency));
        }
        return lags;
    }
};

// No step of the lag larger than a tenth of a millisecond between 10 ms blocks: nothing dropped
// or repeated, no phase jump; its spread over the whole take is how far the offset moved.
void ExpectSteady(const std::vector<double>& lags, double spread) {
    ASSERT_FALSE(lags.empty());
    double low = lags[0], high = lags[0];
    for (std::size_t i = 1; i < lags.size(); ++i) {
        ASSERT_LT(std::abs(lags[i] - lags[i - 1]), 1e-4) << "a jump at block " << i;
        low = std::min(low, lags[i]);
        high = std::max(high, lags[i]);
    }
    EXPECT_LT(high - low, spread);
}

TEST(SourceMix, ASourceFastOrSlowStaysInStepForTenMinutes) {
    for (const double ppm : {500.0, -500.0}) {
        SCOPED_TRACE(ppm);
        Replay replay;
        replay.ppm = ppm;
        replay.Run(600s);
        EXPECT_EQ(replay.input.Underruns(), 0);
        EXPECT_EQ(replay.input.Overruns(), 0);
        // The ratio settled on the clocks' difference.
        EXPECT_NEAR(replay.input.Ratio(), 1 + ppm * 1e-6, 50e-6);
        ExpectSteady(replay.Lag(1, 599), 0.005);
    }
}

TEST(SourceMix, ASourceThatGoesAwayIsSilentThenPlaysOnInStep) {
    Replay replay;
    replay.ppm = 300;
    replay.away = 3s;
    replay.awayAt = 20s;
    replay.Run(60s);
    EXPECT_EQ(replay.input.Underruns(), 1);
    EXPECT_EQ(replay.input.Overruns(), 0);
    // Silent while away (after what it had buffered), the tone again once it is back.
    double energy = 0;
    for (std::size_t i = 21 * kRate; i < 23 * kRate; ++i) energy += replay.mix[i] * replay.mix[i];
    EXPECT_EQ(energy, 0);
    ExpectSteady(replay.Lag(1, 19.9), 0.005);
    ExpectSteady(replay.Lag(24, 59), 0.005);
}

TEST(SourceMix, TheRecordingsOwnSamplesComeThroughUnchanged) {
    for (const WaveFormat format : {WaveFormat{1, 11025, 8}, WaveFormat{2, 44100, 16}}) {
        SourceMix mix(format);
        mix.Input("quiet");  // one that has delivered nothing yet
        std::vector<std::uint8_t> own(format.BlockAlign() * 1000);
        for (std::size_t i = 0; i < own.size(); ++i) own[i] = std::uint8_t(i * 37 + 11);
        std::vector<std::uint8_t> out;
        mix.Mix(own.data(), own.size(), out, Clock::now());
        EXPECT_EQ(out, own);
        // Silence of the recording's own is the format's silence.
        mix.Mix(nullptr, 8, out, Clock::now());
        EXPECT_EQ(out, std::vector<std::uint8_t>(8, format.SilenceByte()));
    }
}

}  // namespace
}  // namespace larkspur
