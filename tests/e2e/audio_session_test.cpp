// One recording device through a session as a person has it: many takes in one run of the
// program, after gaps of 1 s to 30 s, some with pauses, in WAV and in MP3. The output plays a
// signal in which every stretch is found at exactly one place (low-passed noise), and an
// independent recorder keeps what the output played, so each take is checked for which moments it
// kept: from its press to its stop, in order, nothing repeated, each pause seam within a fragment
// of its press.
#include "audio/mp3/early_mp3.h"
#include "audio/media_player.h"
#include "platform/capture_source.h"
#include "tests/support/audio_checks.h"
#include "tests/unit/mp3_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr std::size_t kBlock = 1024;
constexpr double kFragment = 0.025;  // the capture's fragment

// What a server loses for every client when its graph misses a cycle now and then on this
// machine of two cores: one PipeWire quantum (the fixture's least, 2048 frames at 48 kHz); none on
// PulseAudio.
double GraphCycleLost() {
    const char* server = std::getenv("LARKSPUR_TEST_SERVER");
    return server && std::string(server) == "pipewire" ? 2048.0 / 48000 : 0;
}
constexpr WaveFormat kFormat{2, kRate, 16};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Pseudo-random noise low-passed to a few kHz, so that a server that resamples it (PipeWire runs
// its graph at 48 kHz) keeps it alike.
std::vector<std::int16_t> Signal(std::size_t frames) {
    std::vector<std::int16_t> x(frames);
    std::uint32_t state = 20261209;
    double y[4] = {};
    for (auto& v : x) {
        state = state * 1664525u + 1013904223u;
        double in = (state >> 8) / double(1 << 24) * 2 - 1;
        for (double& stage : y) in = stage += 0.3 * (in - stage);
        v = std::int16_t(std::lround(in * 60000));
    }
    return x;
}

// The first channel of 16-bit stereo samples from byte `from` on.
std::vector<std::int16_t> FirstChannel(const mp3test::Bytes& b, std::size_t from) {
    std::vector<std::int16_t> x;
    for (std::size_t at = from; at + 4 <= b.size(); at += 4) x.push_back(std::int16_t(b[at] | b[at + 1] << 8));
    return x;
}

// How alike x[at, at + kBlock) is to r[offset, ...): 1 for the same stretch.
double Likeness(const std::vector<std::int16_t>& x, std::size_t at, const std::vector<std::int16_t>& r,
                long offset) {
    if (offset < 0 || std::size_t(offset) + kBlock > r.size() || at + kBlock > x.size()) return 0;
    double xr = 0, xx = 0, rr = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const double a = x[at + i], b = r[std::size_t(offset) + i];
        xr += a * b;
        xx += a * a;
        rr += b * b;
    }
    // The same silence in both (the player ran dry, for every listener) is alike too.
    const double quiet = double(kBlock) * 16 * 16;
    if (xx < quiet && rr < quiet) return 1;
    return xx > 0 && rr > 0 ? xr / std::sqrt(xx * rr) : 0;
}

// Where x's block at `at` lies in r, searched within `window` samples of `hint`.
std::pair<long, double> Locate(const std::vector<std::int16_t>& x, std::size_t at,
                               const std::vector<std::int16_t>& r, long hint, long window) {
    std::pair<long, double> best{-1, 0};
    for (long o = hint - window; o <= hint + window; ++o)
        if (const double c = Likeness(x, at, r, o); c > best.second) best = {o, c};
    return best;
}

// A stretch of x that follows r continuously: x[at + i] is r[offset + i].
struct Stretch {
    std::size_t at;
    long offset;
    std::size_t length;
};

// x as runs of r, found block by block; a block that matches no run (a seam within it) is skipped
// and counted.
// `hint` says where the next run is looked for: from where the last ended.
std::vector<Stretch> Runs(const std::vector<std::int16_t>& x, const std::vector<std::int16_t>& r, double alike,
                      const std::function<long(std::size_t at, const Stretch* last)>& hint, long window,
                      int& unmatched) {
    std::vector<Stretch> runs;
    unmatched = 0;
    for (std::size_t at = 0; at + kBlock <= x.size(); at += kBlock) {
        if (!runs.empty()) {
            Stretch& last = runs.back();
            if (last.at + last.length == at && Likeness(x, at, r, last.offset + long(last.length)) >= alike) {
                last.length += kBlock;
                continue;
            }
        }
        const auto [offset, likeness] = Locate(x, at, r, hint(at, runs.empty() ? nullptr : &runs.back()), window);
        if (likeness < alike) {
            ++unmatched;
            continue;
        }
        // A block that resampling left less alike than the threshold is no seam.
        if (!runs.empty() && std::abs((offset - long(at)) - (runs.back().offset - long(runs.back().at))) <= 2) {
            runs.back().length = at + kBlock - runs.back().at;
            continue;
        }
        runs.push_back({at, offset, kBlock});
    }
    return runs;
}

// Each segment of a take against what played, a witness of it: every segment found in order,
// each starting where the witness stood at its press, each pause seam skipping the paused time.
// The first take sets the witness's anchor. Returns what failed, empty when nothing did.
std::string CheckTake(const std::vector<std::int16_t>& kept, const std::vector<std::pair<double, double>>& segments,
                      const std::vector<std::int16_t>& witness, std::optional<long>& atSession, double& worstSeam) {
    // A seam is looked for up to 2.5 s on (a pause), and 0.5 s back (a repeat).
    const auto hint = [&](std::size_t at, const Stretch* last) -> long {
        if (last) return last->offset + long(at - last->at) + kRate;
        // Every witness starts with the session.
        return atSession.value_or(0) + long(segments[0].first * kRate);
    };
    int unmatched = 0;
    const auto runs = Runs(kept, witness, 0.95, hint, 3 * kRate / 2, unmatched);
    std::ostringstream failed;
    if (runs.size() != segments.size()) {
        failed << " a segment is missing, or silence or a repeat split one:";
        for (const Stretch& run : runs) failed << " [" << run.at << ", +" << run.length << ") at " << run.offset;
        failed << "; " << unmatched << " blocks unmatched";
        return failed.str();
    }
    // A block across each seam, and on a resampling server a few of little energy.
    if (unmatched > int(segments.size()) - 1 + int(kept.size() / kBlock / 50))
        failed << " " << unmatched << " blocks of something else than what played;";
    if (!atSession) atSession = runs[0].offset - long(segments[0].first * kRate);
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const auto [press, stop] = segments[s];
        // Where the run begins against where the witness was at the press.
        const double early = (double(runs[s].offset) - (*atSession + press * kRate)) / kRate;
        if (std::abs(early) >= 2 * kFragment + GraphCycleLost()) failed << " segment " << s + 1 << " starts " << early << " s off its press;";
        if (s == 0) continue;
        // A seam: what played skipped by the time between the pause and the resume.
        const double jump = double((runs[s].offset - long(runs[s].at)) - (runs[s - 1].offset - long(runs[s - 1].at))) / kRate;
        const double seam = jump - (press - segments[s - 1].second);
        worstSeam = std::max(worstSeam, std::abs(seam));
        if (std::abs(seam) >= kFragment + GraphCycleLost()) failed << " seam " << s << " off by " << seam << " s;";
    }
    return failed.str();
}

struct Take {
    double gap;               // seconds since the last stop
    bool mp3;
    std::vector<double> run;  // recording, pause, recording... seconds
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("PULSE_SERVER")) << "run inside with-fixtures.sh --pulseaudio";
        ASSERT_TRUE(test::WaitUntilAwake(test::TestSink()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_ = std::filesystem::temp_directory_path() / ("larkspur-session-" + std::to_string(::getpid()));
};

TEST_F(SessionTest, EveryTakeKeepsWhatPlayedFromItsPressToItsStop) {
    const std::vector<Take> takes = {
        {0, false, {3}},   {1, true, {3}},           {5, false, {2, 1.5, 2, 1, 1.5}},
        {30, true, {3}},   {2, false, {3}},          {10, true, {2, 1, 2}},
        {1, false, {2.5}}, {3, true, {2}},           {1, false, {1.5, 0.5, 1.5}},
        {2, true, {2}},
    };
    {
        mp3test::WaveParts wave;
        for (const std::int16_t v : Signal(std::size_t(kRate * 130)))
            for (int channel = 0; channel < 2; ++channel) wave.data.insert(wave.data.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
        mp3test::WriteFile(Path("signal.wav"), mp3test::BuildWave(wave));
    }
    // What played is what an independent recorder of the output heard: a server that resamples
    // or glitches does so for it as well.
    const int heardFd = ::open(Path("heard.raw").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(heardFd, 0);
    auto heardBy = std::make_unique<test::Child>(
        std::vector<std::string>{"parec", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                                 "--latency-msec=20", "-d", test::TestSink() + ".monitor"},
        std::vector<std::string>{}, heardFd);
    ::close(heardFd);
    const auto session = Clock::now();
    test::Child player({"paplay", "--latency-msec=100", "-d", test::TestSink(), Path("signal.wav")});
    std::this_thread::sleep_for(300ms);

    // What the program chooses at every start.
    SetChosenCaptureSource({CaptureSource::Kind::DefaultOutputMonitor, {}});
    const std::shared_ptr<void> chosen(nullptr, [](void*) { SetChosenCaptureSource({}); });
    TMediaPlayer device;  // one for the whole session, as the program has it
    struct Recorded {
        std::vector<std::int16_t> kept;
        // Each recording segment's press and stop, seconds since the session began.
        std::vector<std::pair<double, double>> segments;
    };
    std::vector<Recorded> recorded;
    for (std::size_t k = 0; k < takes.size(); ++k) {
        const Take& take = takes[k];
        SCOPED_TRACE(::testing::Message() << "take " << k + 1);
        std::this_thread::sleep_for(std::chrono::duration<double>(take.gap));
        const std::string element = Path("~temp.wav"), early = Path("~temp.mp3");
        test::WriteWaveTemplate(element, kFormat);
        const auto mp3 = take.mp3 ? std::make_shared<EarlyMp3>(early, kFormat) : nullptr;
        device.SetSampleTap(mp3);
        device.SetDeviceType(dtAutoSelect);
        device.SetFileName(element);
        device.Open();
        ASSERT_EQ(device.LastError(), 0u);
        Recorded r;
        for (std::size_t s = 0; s < take.run.size(); ++s) {
            const auto from = Clock::now();
            if (s % 2 == 0) device.Record();
            const auto until = from + std::chrono::duration<double>(take.run[s]);
            std::this_thread::sleep_until(until);
            if (s % 2 == 1) continue;
            const auto stop = Clock::now();
            device.Stop();
            r.segments.emplace_back(Seconds(from - session), Seconds(stop - session));
        }
        device.Save();
        device.Close();
        EXPECT_FALSE(device.Fault());
        r.kept = FirstChannel(mp3test::ReadFile(element), kWaveHeaderSize);
        recorded.push_back(r);
        if (!mp3) continue;
        // The MP3 holds the same moments as the wave file, after the coder's delay.
        ASSERT_TRUE(mp3->Finish(element));
        const auto decoded = mp3test::Decode(early);
        ASSERT_EQ(decoded.channels, 2);
        std::vector<std::int16_t> left;
        for (std::size_t i = 0; i < decoded.samples.size(); i += 2) left.push_back(decoded.samples[i]);
        int mp3Unmatched = 0;
        const auto mp3Runs = Runs(left, r.kept, 0.9, [](std::size_t at, const Stretch* last) {
            return last ? last->offset + long(at - last->at) : long(at) - 1600; }, 1600, mp3Unmatched);
        ASSERT_FALSE(mp3Runs.empty());
        EXPECT_EQ(mp3Runs.size(), 1u) << "the MP3 is continuous";
        EXPECT_GE(mp3Runs[0].length + 2 * kBlock, r.kept.size()) << "the MP3 holds the whole recording";
    }
    heardBy.reset();
    const auto heard = FirstChannel(mp3test::ReadFile(Path("heard.raw")), 0);
    const auto signal = Signal(std::size_t(kRate * 130));
    // Two witnesses of what played: the independent recording, and the signal itself on the
    // player's clock. On a machine of two cores either may lose time now and then (the
    // recording drops a stretch, the graph stalls the player); every take must keep to at least
    // one of them, from its first take's anchor on.
    std::optional<long> heardAtSession, signalAtSession;  // where each stood when the session began
    double worstSeam = 0;
    for (std::size_t k = 0; k < recorded.size(); ++k) {
        SCOPED_TRACE(::testing::Message() << "take " << k + 1);
        const auto& [kept, segments] = recorded[k];
        double byHeardSeam = 0, bySignalSeam = 0;
        const auto byHeard = CheckTake(kept, segments, heard, heardAtSession, byHeardSeam);
        const auto bySignal = CheckTake(kept, segments, signal, signalAtSession, bySignalSeam);
        if (!byHeard.empty() && !bySignal.empty())
            ADD_FAILURE() << "against the independent recording:" << byHeard
                          << "\nagainst the signal on the player's clock:" << bySignal;
        else if (!byHeard.empty() || !bySignal.empty())
            std::printf("take %zu disagrees with %s:%s\n", k + 1,
                        byHeard.empty() ? "the signal on the player's clock" : "the independent recording",
                        (byHeard.empty() ? bySignal : byHeard).c_str());
        worstSeam = std::max(worstSeam, byHeard.empty() ? byHeardSeam : bySignalSeam);
        double played = 0;
        for (const auto& [press, stop] : segments) played += stop - press;
        std::printf("take %zu (%s, after %.0f s): %zu samples kept, %ld played, %zu pause(s)\n", k + 1,
                    takes[k].mp3 ? "MP3" : "WAV", takes[k].gap, kept.size(), std::lround(played * kRate),
                    segments.size() - 1);
        EXPECT_NEAR(double(kept.size()) / kRate, played, kFragment * double(segments.size()) + 0.010 + GraphCycleLost());
    }
    std::printf("largest seam error: %.1f ms (%ld samples)\n", worstSeam * 1000, std::lround(worstSeam * kRate));
}

}  // namespace
}  // namespace larkspur
