// The levels taken from the samples a recording keeps, and what the strip's meter makes of them.
#include "app/level_meter.h"
#include "audio/level_tap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <unistd.h>
#include <vector>

namespace larkspur {
namespace {

using std::chrono::milliseconds;

// Interleaved 16-bit frames, each channel at its own constant value.
std::vector<std::int16_t> Frames16(std::size_t frames, std::vector<std::int16_t> values) {
    std::vector<std::int16_t> out;
    for (std::size_t f = 0; f < frames; ++f) out.insert(out.end(), values.begin(), values.end());
    return out;
}

struct CountingTap : SampleTap {
    void Samples(std::uint64_t, const void*, std::size_t bytes) override { this->bytes += bytes; }
    std::size_t bytes = 0;
};

TEST(LevelTap, PeaksClippingAndSilenceComeFromTheSamplesAndAreHandedOn) {
    auto next = std::make_shared<CountingTap>();
    LevelTap tap({2, 1000, 16}, next);
    const auto half = Frames16(100, {-16384, 0});  // left at -6 dBFS, right silent
    tap.Samples(0, half.data(), half.size() * 2);
    auto r = tap.Take();
    EXPECT_DOUBLE_EQ(r.peak[0], 0.5);
    EXPECT_DOUBLE_EQ(r.peak[1], 0);
    EXPECT_FALSE(r.clipped[0]);
    EXPECT_TRUE(r.everSound);
    EXPECT_EQ(next->bytes, half.size() * 2);
    // A reading takes the peaks: the next starts afresh.
    EXPECT_DOUBLE_EQ(tap.Take().peak[0], 0);

    const auto full = Frames16(10, {0, 32767});
    tap.Samples(0, full.data(), full.size() * 2);
    r = tap.Take();
    EXPECT_FALSE(r.clipped[0]);
    EXPECT_TRUE(r.clipped[1]);

    const auto zeros = Frames16(3500, {0, 0});
    tap.Samples(0, zeros.data(), zeros.size() * 2);
    r = tap.Take();
    EXPECT_DOUBLE_EQ(r.silentSeconds, 3.5);
    EXPECT_DOUBLE_EQ(r.keptSeconds, 3.61);
}

TEST(LevelTap, EightBitSilenceIsTheMiddleByteAndOneStepOffIsSound) {
    LevelTap tap({1, 1000, 8}, nullptr);
    std::vector<std::uint8_t> silence(2000, 0x80);
    tap.Samples(0, silence.data(), silence.size());
    auto r = tap.Take();
    EXPECT_FALSE(r.everSound);
    EXPECT_DOUBLE_EQ(r.silentSeconds, 2.0);
    silence[1999] = 0x7F;
    tap.Samples(0, silence.data(), silence.size());
    r = tap.Take();
    EXPECT_TRUE(r.everSound);
    EXPECT_DOUBLE_EQ(r.silentSeconds, 0);
    EXPECT_GT(r.peak[0], 0);
    std::vector<std::uint8_t> loud(10, 0);
    tap.Samples(0, loud.data(), loud.size());
    r = tap.Take();
    EXPECT_TRUE(r.clipped[0]);
    EXPECT_DOUBLE_EQ(r.peak[0], 1.0);
}

LevelTap::Reading Reading(double left, double right, double silentSeconds = 0, bool clipLeft = false) {
    LevelTap::Reading r;
    r.peak = {left, right};
    r.clipped = {clipLeft, false};
    r.silentSeconds = silentSeconds;
    r.everSound = silentSeconds == 0;
    return r;
}

TEST(LevelMeter, BarsHoldTheirPeakAndClipMarkForAWhileAndRestWhilePaused) {
    EXPECT_NEAR(LevelMeter::Db(0.5), -6.02, 0.01);
    EXPECT_EQ(LevelMeter::Db(0), LevelMeter::kFloorDb);
    LevelMeter meter(2);
    EXPECT_TRUE(meter.Update(Reading(0.5, 0.1, 0, true), milliseconds(0), false));
    EXPECT_EQ(meter.Current().bars[0].db, -6.0);
    EXPECT_EQ(meter.Current().bars[1].db, -20.0);
    EXPECT_TRUE(meter.Current().bars[0].clipped);
    EXPECT_FALSE(meter.Current().bars[1].clipped);
    // The same again changes nothing shown: no repaint.
    EXPECT_FALSE(meter.Update(Reading(0.5, 0.1), milliseconds(40), false));
    // Falling levels keep the hold until it expires; the clip mark lasts longer.
    meter.Update(Reading(0.01, 0.01), milliseconds(1000), false);
    EXPECT_EQ(meter.Current().bars[0].db, -40.0);
    EXPECT_EQ(meter.Current().bars[0].holdDb, -6.0);
    meter.Update(Reading(0.01, 0.01), milliseconds(1600), false);
    EXPECT_EQ(meter.Current().bars[0].holdDb, -40.0);
    EXPECT_TRUE(meter.Current().bars[0].clipped);
    meter.Update(Reading(0.01, 0.01), milliseconds(2100), false);
    EXPECT_FALSE(meter.Current().bars[0].clipped);
    // Paused, the bars rest at the floor and hold nothing.
    EXPECT_TRUE(meter.Update(Reading(0.5, 0.5), milliseconds(2200), true));
    EXPECT_EQ(meter.Current().bars[0], LevelMeter::Bar{});
}

TEST(LevelMeter, SilenceIsToldAfterThreeSecondsUntilSoundComes) {
    LevelMeter meter(1);
    meter.Update(Reading(0, 0, 2.9), milliseconds(0), false);
    EXPECT_FALSE(meter.Current().silent);
    EXPECT_TRUE(meter.Update(Reading(0, 0, 3.0), milliseconds(100), false));
    EXPECT_TRUE(meter.Current().silent);
    EXPECT_EQ(meter.Current().bars.size(), 1u);
    meter.Update(Reading(0.3, 0, 0), milliseconds(200), false);
    EXPECT_FALSE(meter.Current().silent);
    // While paused nothing is coming in by choice: no warning.
    meter.Update(Reading(0, 0, 5), milliseconds(300), true);
    EXPECT_FALSE(meter.Current().silent);
}

// A meter that held still rests and hands the tap the peaks that keep it so: a fragment beyond
// them, or one that clips, wakes the window once; one within them, or silence under a floor
// meter, does not.
TEST(LevelMeter, ARestingMeterIsWokenByTheFirstFragmentThatShowsDifferently) {
    LevelTap tap({2, 1000, 16}, nullptr);
    ASSERT_GE(tap.WakeFd(), 0);
    const auto fed = [&](std::vector<std::int16_t> values) {
        const auto frames = Frames16(10, std::move(values));
        tap.Samples(0, frames.data(), frames.size() * 2);
        std::uint64_t count = 0;
        return read(tap.WakeFd(), &count, sizeof count) == sizeof count;
    };
    LevelMeter meter(2);
    auto now = milliseconds(0);
    const auto feedAndRead = [&](std::vector<std::int16_t> values) {
        fed(std::move(values));
        meter.Update(tap.Take(), now += milliseconds(40), false);
    };
    const auto readUntilRest = [&](std::vector<std::int16_t> values) {
        for (int i = 0; i == 0 || (i < 1000 && !meter.MayRest()); ++i) feedAndRead(values);
        ASSERT_TRUE(meter.MayRest());
        tap.WakeWhenOutside(meter.PeakRanges());
    };
    // A clip mark and a falling bar's hold run out before the meter rests.
    feedAndRead({32767, 8192});
    for (int i = 0; i < LevelMeter::kSteadyReadings; ++i) feedAndRead({16384, 8192});
    EXPECT_FALSE(meter.MayRest());
    readUntilRest({16384, 8192});
    EXPECT_GT(now, LevelMeter::kClipHold);
    EXPECT_EQ(meter.Current().bars[0].db, -6.0);

    EXPECT_FALSE(fed({16384, 8192}));
    EXPECT_FALSE(fed({15800, 8400}));  // within a fraction of a decibel
    EXPECT_TRUE(fed({16384, 4096}));   // the right channel 6 dB down
    EXPECT_FALSE(fed({16384, 4096}));  // once
    tap.WakeWhenOutside(meter.PeakRanges());
    EXPECT_TRUE(fed({16384, 16384}));  // up
    tap.WakeWhenOutside(meter.PeakRanges());
    tap.StopWaking();
    EXPECT_FALSE(fed({0, 0}));
    // Woken, it reads on for a while.
    meter.Woken();
    EXPECT_FALSE(meter.MayRest());

    // Silence comes to rest only once it is told; then it keeps resting, and sound wakes it.
    readUntilRest({0, 0});
    EXPECT_TRUE(meter.Current().silent);
    EXPECT_EQ(meter.Current().bars[1].db, LevelMeter::kFloorDb);
    EXPECT_FALSE(fed({0, 0}));
    EXPECT_TRUE(fed({0, 330}));
    // Just under full scale, only a clip wakes it.
    readUntilRest({32000, 32000});
    EXPECT_EQ(meter.Current().bars[0].db, 0.0);
    EXPECT_FALSE(fed({32600, 32000}));
    EXPECT_TRUE(fed({32000, -32768}));
}

}  // namespace
}  // namespace larkspur
