// Several sources in one recording, on a real sound server: what the computer plays (the test
// sink, on the server's clock) beside inputs with clocks of their own (pipe sources paced 500 ppm
// fast and slow), kept in step for ten minutes (LARKSPUR_MIX_MINUTES to change), through a pause
// and an input unplugged and plugged back (see tests/fixtures).
#include "audio/media_player.h"
#include "platform/capture_source.h"
#include "tests/support/audio_checks.h"
#include "tests/support/test_folder.h"
#include "tests/support/two_clocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::MarkedTone;

constexpr double kComputer = 1010, kFast = 2530, kSlow = 4010;  // Hz; none a whole number of cycles in 25 ms

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class MixTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("PULSE_SERVER")) << "run inside with-fixtures.sh";
        ASSERT_TRUE(computer.Started());
        ASSERT_TRUE(fast.Loaded());
    }
    void TearDown() override { SetChosenCaptureSource({}); }

    void Open(TMediaPlayer& player) {
        test::WriteWaveTemplate(element, {2, 44100, 16});
        player.SetDeviceType(dtAutoSelect);
        player.SetFileName(element);
        player.Open();
        ASSERT_EQ(player.LastError(), 0u);
    }

    // Records for `seconds` of wall time; returns the time from the press of Record to the stop.
    static double Take(TMediaPlayer& player, double seconds, const std::function<void(double)>& during = {}) {
        const auto start = Clock::now();
        player.Record();
        for (double at = 1; during && at < seconds; ++at) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
            during(at);
        }
        std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds));
        const double wall = Seconds(Clock::now() - start);
        player.Stop();
        EXPECT_EQ(player.LastError(), 0u);
        return wall;
    }

    test::TestFolder folder{"larkspur-mix"};
    std::string element = (folder.Path() / "mix.wav").string();
    test::MarkedPlayback computer{test::TestSink(), MarkedTone{kComputer}};
    test::PacedSource fast{"fast_mic", 1.0005, MarkedTone{kFast}};
};

// Each tone runs on without a dropout, a repeat or a phase jump, and its marks keep their offset
// from the computer's within 10 ms from the first to the last.
TEST_F(MixTest, TwoClocksStayInStepForTheWholeRecording) {
    test::PacedSource slow{"slow_mic", 0.9995, MarkedTone{kSlow}};
    ASSERT_TRUE(slow.Loaded());
    const char* minutes = std::getenv("LARKSPUR_MIX_MINUTES");
    const double length = 60 * (minutes ? std::atof(minutes) : 10);
    SetChosenCaptureSources({{CaptureSource::Kind::DefaultOutputMonitor, {}},
                             {CaptureSource::Kind::Named, "fast_mic"},
                             {CaptureSource::Kind::Named, "slow_mic"}});
    TMediaPlayer player;
    Open(player);
    const double wall = Take(player, length);
    player.Save();
    player.Close();
    EXPECT_FALSE(player.Fault());

    int rate = 0;
    const std::vector<float> mono = test::ReadMono(element, rate);
    ASSERT_GT(rate, 0);
    const double recorded = double(mono.size()) / rate;
    EXPECT_NEAR(recorded, wall, 0.020);
    // The others are heard once they have buffered, a little after the press.
    const test::ToneTrack own = test::TrackTone(mono, rate, kComputer, 0.5, recorded - 0.1);
    EXPECT_TRUE(own.faults.empty()) << own.faults.size() << " faults, the first at " << own.faults.front() << " s";
    for (const double frequency : {kFast, kSlow}) {
        SCOPED_TRACE(frequency);
        const test::ToneTrack other = test::TrackTone(mono, rate, frequency, 0.5, recorded - 0.1);
        EXPECT_TRUE(other.faults.empty()) << other.faults.size() << " faults, the first at " << other.faults.front() << " s";
        const std::vector<double> offsets = test::MarkOffsets(own, other);
        ASSERT_GE(offsets.size(), std::size_t(length / 10) - 1);
        const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
        EXPECT_LT(*high - *low, 0.010);
        std::printf("%g Hz: offset %.1f ms at the start, %.1f ms at the end, %.1f ms apart at most\n", frequency,
                    offsets.front() * 1000, offsets.back() * 1000, (*high - *low) * 1000);
    }
}

// A pause joins the two takes without a gap, and an input unplugged is silence while the
// computer's sound goes on; plugged back, it is heard again.
TEST_F(MixTest, APauseAndAnInputUnpluggedAndBack) {
    SetChosenCaptureSources({{CaptureSource::Kind::DefaultOutputMonitor, {}}, {CaptureSource::Kind::Named, "fast_mic"}});
    TMediaPlayer player;
    Open(player);
    double wall = Take(player, 4);
    std::this_thread::sleep_for(2s);
    wall += Take(player, 8, [&](double at) {
        if (at == 2) fast.Unload();
        if (at == 4) fast.Load();
    });
    player.Save();
    player.Close();
    EXPECT_FALSE(player.Fault());
    const auto info = test::ReadSoxInfo(element);
    ASSERT_GT(info.rate, 0);
    EXPECT_NEAR(double(info.samples) / info.rate, wall, 0.15);

    // In quarter seconds: the fast input's tone is recorded at its own pitch, which the steering
    // moves by a few hundred parts per million while it settles.
    constexpr double kLevel = -10.46;  // a tone at 0.3 of full scale
    const auto expectLevel = [&](double frequency, double from, double to, bool heard) {
        for (double at = from; at + 0.25 <= to; at += 0.25) {
            const double db = test::ToneLevelDb(element, at, 0.25, frequency);
            if (heard)
                EXPECT_NEAR(db, kLevel, 3.0) << frequency << " Hz at " << at << " s";
            else
                EXPECT_LT(db, kLevel - 50) << frequency << " Hz at " << at << " s";
        }
    };
    for (const auto& [from, to] : {std::pair{0.5, 3.8}, {4.3, 11.8}}) expectLevel(kComputer, from, to, true);
    expectLevel(kFast, 0.5, 3.8, true);
    expectLevel(kFast, 4.3, 5.8, true);
    expectLevel(kFast, 6.3, 7.9, false);  // unplugged from 6 s (the second take's 2 s) to 8 s
    expectLevel(kFast, 9.5, 11.8, true);  // asked for again within a second
    // The computer's tone runs on across the unplugging; the pause's join is the one step.
    int rate = 0;
    const std::vector<float> mono = test::ReadMono(element, rate);
    const test::ToneTrack own = test::TrackTone(mono, rate, kComputer, 0.5, 11.8);
    for (const double fault : own.faults) EXPECT_NEAR(fault, 4.0, 0.1);
}

}  // namespace
}  // namespace larkspur
