// The capture's arithmetic replayed without a sound server: a source captures 48 kHz stereo 16-bit
// frames on a steady clock and delivers them in fragments read a little after each ends; every
// take must keep exactly the frames captured from its press to its stop.
#include "audio/capture_timeline.h"

#include <gtest/gtest.h>

#include <vector>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using TimePoint = CaptureTimeline::TimePoint;
using Micros = CaptureTimeline::Micros;

constexpr std::uint64_t kFramesPerMs = 48;
constexpr std::uint16_t kAlign = 4;

std::uint64_t FramesIn(Micros t) { return std::uint64_t(t.count()) * kFramesPerMs / 1000; }

// One recording device over a run of streams, with the file it writes as runs of silence and of
// stream frames.
class Replay {
public:
    struct Run {
        int stream = -1;  // -1: silence
        std::uint64_t first = 0;
        std::uint64_t frames = 0;
    };

    std::uint64_t fragmentFrames = 1200;  // 25 ms
    Micros lag = 3ms;                     // from a fragment's last frame to its arrival
    bool reportsLatency = true;           // PipeWire tells no latency of its sources
    double ppm = 0;                       // how much faster the source's clock runs
    CaptureTimeline timeline{48000 * kAlign, kAlign};
    std::vector<Run> file;

    TimePoint At(Micros since) const { return TimePoint{} + 1h + since; }

    // The open makes a stream; its frames are captured from `at` on.
    void NewStream(TimePoint at) {
        timeline.StreamBegan();
        ++stream_;
        origin_ = at;
        delivered_ = 0;
    }

    // Runs the source up to `to`; a burst from `burstAt` on delivers at once what fell due before.
    void RunUntil(TimePoint to, std::optional<TimePoint> burstAt = std::nullopt) {
        while (Due(delivered_ + fragmentFrames) + lag <= to) {
            TimePoint at = Due(delivered_ + fragmentFrames) + lag;
            if (burstAt && at < *burstAt) at = *burstAt;
            Deliver(at);
        }
    }

    // The source stops capturing at `from` and takes up again at `to` (a sleeping source, or a
    // frozen server that skipped ahead); its frames go on being counted from where they stopped.
    void Gap(TimePoint from, TimePoint to) {
        while (Due(delivered_ + fragmentFrames) <= from) Deliver(Due(delivered_ + fragmentFrames) + lag);
        origin_ += to - Due(delivered_);
    }

    void Press(TimePoint at) {
        RunUntil(at);
        timeline.Start(at, at, Bytes(), Latency(at));
        if (!timeline.Delivering()) timeline.Resync(at);
    }

    void Stop(TimePoint at) {
        RunUntil(at);
        const auto plan = timeline.Stop(at, at, Bytes(), *Latency(at));
        Silence(plan.silence);
        const TimePoint until = at + plan.onItsWay + 525ms;
        while (timeline.Capturing() && Due(delivered_ + fragmentFrames) + lag <= until)
            Deliver(Due(delivered_ + fragmentFrames) + lag);
        Silence(timeline.EndStop(at, Bytes(), true));
    }

    std::uint64_t Frames() const { return Bytes() / kAlign; }
    std::uint64_t SilentFrames() const {
        std::uint64_t n = 0;
        for (const Run& r : file) n += r.stream < 0 ? r.frames : 0;
        return n;
    }
    // The stream frames kept from the file's run `from` on, in the order written, as runs of
    // consecutive frames.
    std::vector<Run> Kept(std::size_t from = 0) const {
        std::vector<Run> kept;
        for (const Run& r : std::vector<Run>(file.begin() + long(from), file.end())) {
            if (r.stream < 0) continue;
            if (!kept.empty() && kept.back().stream == r.stream && kept.back().first + kept.back().frames == r.first)
                kept.back().frames += r.frames;
            else
                kept.push_back(r);
        }
        return kept;
    }

private:
    TimePoint Due(std::uint64_t frames) const {
        return origin_ + Micros(std::int64_t(double(frames) * 1000 / kFramesPerMs / (1 + ppm * 1e-6)));
    }
    std::optional<Micros> Latency(TimePoint at) const {
        if (!reportsLatency) return Micros(0);
        return std::max(std::chrono::duration_cast<Micros>(at - Due(delivered_)), Micros(0));
    }
    std::uint64_t Bytes() const {
        std::uint64_t n = 0;
        for (const Run& r : file) n += r.frames * kAlign;
        return n;
    }
    void Silence(std::uint64_t bytes) {
        if (bytes) file.push_back({-1, 0, bytes / kAlign});
    }
    void Deliver(TimePoint at) {
        const auto f = timeline.Arrived(fragmentFrames * kAlign, at, Bytes(),
                                        timeline.WantsLatency() ? Latency(at) : std::nullopt);
        Silence(f.silence);
        if (f.keep) file.push_back({stream_, delivered_ + f.skip / kAlign, f.keep / kAlign});
        delivered_ += fragmentFrames;
    }

    int stream_ = -1;
    TimePoint origin_;
    std::uint64_t delivered_ = 0;
};

// A take as the device makes it: a new stream at the open, Record once it delivers, Stop.
void Take(Replay& r, Micros openAt, Micros length) {
    r.NewStream(r.At(openAt));
    r.Press(r.At(openAt + 40ms));
    r.Stop(r.At(openAt + 40ms + length));
}

TEST(CaptureTimeline, EveryTakeOfASessionKeepsExactlyFromItsPressToItsStop) {
    Replay r;
    Micros at = 0ms;
    std::size_t takes = 0;
    // The first take, then later ones after gaps since the last stop, as a person leaves them.
    for (const Micros gap : {0ms, 100ms, 1000ms, 10000ms, 600000ms}) {
        at += gap;
        const std::size_t before = r.file.size();
        Take(r, at, 4000ms);
        at += 4040ms;
        ++takes;
        EXPECT_EQ(r.SilentFrames(), 0u) << "take " << takes;
        const auto runs = r.Kept(before);
        ASSERT_EQ(runs.size(), 1u) << "take " << takes << " has a seam";
        EXPECT_EQ(runs[0].first, FramesIn(40ms)) << "take " << takes << " begins at its press";
        EXPECT_EQ(runs[0].frames, FramesIn(4000ms)) << "take " << takes << " ends at its stop";
    }
}

TEST(CaptureTimeline, PausesKeepNeitherThePausedTimeNorAFrameTwice) {
    for (const bool pipewire : {false, true}) {
        Replay r;
        // PipeWire's graph delivers in quanta and tells no latency of its sources.
        if (pipewire) {
            r.fragmentFrames = 9600;  // 200 ms
            r.lag = 0ms;
            r.reportsLatency = false;
        }
        r.NewStream(r.At(0ms));
        // The first second teaches the arrivals; then 2 s, a pause of 1.5 s, 1 s, one of 0.3 s, 0.7 s.
        r.Press(r.At(1000ms));
        r.Stop(r.At(3000ms));
        r.Press(r.At(4500ms));
        r.Stop(r.At(5500ms));
        r.Press(r.At(5800ms));
        r.Stop(r.At(6500ms));
        const auto kept = r.Kept();
        ASSERT_EQ(kept.size(), 3u) << (pipewire ? "quanta" : "fragments");
        EXPECT_EQ(r.SilentFrames(), 0u);
        EXPECT_EQ(kept[0].first, FramesIn(1000ms));
        EXPECT_EQ(kept[0].frames, FramesIn(2000ms));
        EXPECT_EQ(kept[1].first, FramesIn(4500ms));
        EXPECT_EQ(kept[1].frames, FramesIn(1000ms));
        EXPECT_EQ(kept[2].first, FramesIn(5800ms));
        EXPECT_EQ(kept[2].frames, FramesIn(700ms));
    }
}

TEST(CaptureTimeline, ASourceThatSleptIsSilenceForTheTimeItSlept) {
    Replay r;
    r.NewStream(r.At(0ms));
    r.Press(r.At(500ms));
    // The server tells of the wake-up and then of fresh timing.
    r.Gap(r.At(1500ms), r.At(3500ms));
    r.timeline.Resync(r.At(3500ms));
    r.timeline.TimingReported(r.At(3510ms));
    r.Stop(r.At(5000ms));
    EXPECT_EQ(r.Frames(), FramesIn(4500ms));
    EXPECT_EQ(r.SilentFrames(), FramesIn(2000ms));

    // Moved to an output that has just come back, whose monitor delivers once and then sleeps:
    // the fresh timing fills the sleep, and the arrivals that then tell of the same hole must not
    // fill it again.
    Replay moved;
    moved.NewStream(moved.At(0ms));
    moved.Press(moved.At(500ms));
    moved.RunUntil(moved.At(1500ms));
    moved.timeline.Resync(moved.At(1500ms));
    moved.timeline.TimingReported(moved.At(1510ms));
    moved.Gap(moved.At(1600ms), moved.At(3600ms));
    moved.timeline.TimingReported(moved.At(2500ms));
    moved.Stop(moved.At(6000ms));
    EXPECT_EQ(moved.Frames(), FramesIn(5500ms));
    EXPECT_EQ(moved.SilentFrames(), FramesIn(2000ms));
}

TEST(CaptureTimeline, AMoveOnAFlowingSourceAddsNothing) {
    Replay r;
    r.NewStream(r.At(0ms));
    r.Press(r.At(1000ms));
    r.RunUntil(r.At(2000ms));
    r.timeline.Resync(r.At(2000ms));
    r.timeline.TimingReported(r.At(2020ms));
    r.Stop(r.At(4000ms));
    EXPECT_EQ(r.SilentFrames(), 0u);
    ASSERT_EQ(r.Kept().size(), 1u);
    EXPECT_EQ(r.Kept()[0].frames, FramesIn(3000ms));
}

TEST(CaptureTimeline, AFrozenServerLeavesSilenceWhereItSkippedAndNoneWhereItCaughtUp) {
    {
        Replay skipped;
        skipped.NewStream(skipped.At(0ms));
        skipped.Press(skipped.At(1000ms));
        skipped.Gap(skipped.At(3000ms), skipped.At(6000ms));
        skipped.Stop(skipped.At(8000ms));
        EXPECT_EQ(skipped.Frames(), FramesIn(7000ms)) << "the file keeps to the time recorded";
        EXPECT_EQ(skipped.SilentFrames(), FramesIn(3000ms));
        ASSERT_EQ(skipped.Kept().size(), 1u) << "every frame that came is kept, in order";
        EXPECT_EQ(skipped.Kept()[0].frames, FramesIn(4000ms));
    }
    {
        Replay caughtUp;
        caughtUp.NewStream(caughtUp.At(0ms));
        caughtUp.Press(caughtUp.At(1000ms));
        caughtUp.RunUntil(caughtUp.At(3000ms));
        caughtUp.RunUntil(caughtUp.At(6000ms), caughtUp.At(6000ms));
        caughtUp.Stop(caughtUp.At(8000ms));
        EXPECT_EQ(caughtUp.SilentFrames(), 0u);
        ASSERT_EQ(caughtUp.Kept().size(), 1u);
        EXPECT_EQ(caughtUp.Kept()[0].frames, FramesIn(7000ms));
    }
}

TEST(CaptureTimeline, ASourceOnAClockOfItsOwnIsNeitherPaddedNorCut) {
    for (const double ppm : {-500.0, 500.0}) {
        Replay r;
        r.ppm = ppm;
        r.NewStream(r.At(0ms));
        r.Press(r.At(1000ms));
        r.Stop(r.At(601000ms));
        EXPECT_EQ(r.SilentFrames(), 0u) << ppm << " ppm";
        EXPECT_EQ(r.Kept().size(), 1u) << ppm << " ppm";
    }
}

TEST(CaptureTimeline, AStopWithNothingLeftToComeIsSilenceUpToThePress) {
    Replay r;
    r.NewStream(r.At(0ms));
    r.Press(r.At(1000ms));
    r.RunUntil(r.At(2000ms));
    // The stream went with the last output; no new one came before the stop.
    r.file.push_back({-1, 0, r.timeline.EndStop(r.At(3000ms), r.Frames() * kAlign, false) / kAlign});
    EXPECT_EQ(r.Frames(), FramesIn(2000ms));
}

}  // namespace
}  // namespace larkspur
