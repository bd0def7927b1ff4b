#pragma once
#include <chrono>
#include <cstdint>
#include <optional>

// The arithmetic of a capture: which of the bytes a stream delivers belong to the recording, where
// a stop ends it, and where silence stands in for time the source delivered nothing, so that the
// file's length keeps to the time recorded. No sound server in here: the capture tells it what
// arrived and when, and the server's latency figure, and writes what it answers. Every method
// takes the present moment, so that tests replay arrival sequences. Not thread-safe: the capture
// calls it under its loop's lock.
//
// What it knows of a stream (arrivals, skip count, resync window) is made anew by StreamBegan;
// nothing of one stream, nor of one recording, reaches the next.
namespace larkspur {

class CaptureTimeline {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Micros = std::chrono::microseconds;

    // A shorter difference between the file and the clock is left alone.
    static constexpr Micros kResyncThreshold{40000};
    // After a move, a wake-up or a start on a silent source, the file is checked against the
    // clock for this long, and as long from the first data on: long enough for the server's
    // latency to settle (PulseAudio overstates it by 0.1-0.7 s while a woken null sink
    // settles), too short for the source's clock to drift apart.
    static constexpr Micros kResyncWindow{3000000};
    // A source that delivers this much less than the clock (the server frozen, a skipping
    // source) for kHoleConfirm of arrivals has left a hole; one that catches up in a burst has
    // not. PipeWire's service falls 100-200 ms behind now and then and catches up within a
    // second.
    static constexpr Micros kHoleThreshold{250000};
    static constexpr Micros kHoleConfirm{1000000};

    CaptureTimeline(std::uint32_t bytesPerSecond, std::uint16_t blockAlign);

    // ---- the stream
    // A stream was made (the first of a recording, or one made anew after the last one went).
    void StreamBegan();
    // The stream moved to another source, its source woke up, or it was made anew during a
    // recording: its timing starts anew and is checked against the clock for a while. The
    // capture asks the server for fresh timing.
    void Resync(TimePoint now);
    // The server's timing report came in.
    void TimingReported(TimePoint now);
    // The stream has delivered data since it began.
    bool Delivering() const { return stream_.delivering; }

    // What to do with a fragment of `bytes` arriving at `now`, the file holding fileBytes:
    // silence to write first, then the fragment's first `skip` bytes dropped and the next
    // `keep` written. `stopped` when the recording's stop mark is reached with it.
    struct Fragment {
        std::uint64_t silence = 0;
        std::uint64_t skip = 0;
        std::uint64_t keep = 0;
        bool stopped = false;
    };
    // latency: the server's figure for the stream now (what was captured and not read yet),
    // needed only where WantsLatency says so.
    bool WantsLatency() const { return capturing_ && stream_.resyncDue; }
    Fragment Arrived(std::uint64_t bytes, TimePoint now, std::uint64_t fileBytes, std::optional<Micros> latency);

    // No stream is there to deliver (the program recorded plays nothing now): the silence due
    // up to now.
    std::uint64_t Absent(TimePoint now, std::uint64_t fileBytes) const {
        return capturing_ && !stopAt_ ? FillDue(now, Micros(0), fileBytes) : 0;
    }

    // ---- the recording
    bool Capturing() const { return capturing_; }
    // A press of Record or of a resume: what the stream delivers next and was captured before
    // the press is dropped. latency is the server's figure as of `now` (nothing where the
    // server did not answer).
    void Start(TimePoint press, TimePoint now, std::uint64_t fileBytes, std::optional<Micros> latency);
    // A press of Stop, with the server's fresh figure: the silence due up to the press, and how
    // much of what was captured before the press is still on its way. The stop mark lies where
    // that ends; the capture waits until Arrived reports it reached (or gives up, EndStop).
    struct StopPlan {
        std::uint64_t silence = 0;
        Micros onItsWay{0};
    };
    StopPlan Stop(TimePoint press, TimePoint now, std::uint64_t fileBytes, Micros latency);
    // The wait is over. What the source never delivered up to the mark (a stream gone, a frozen
    // server that skipped ahead) is silence; with no mark (the server did not answer), the time
    // up to the press is silence only where no stream is left to have delivered it.
    std::uint64_t EndStop(TimePoint press, std::uint64_t fileBytes, bool streamLeft);
    // A fault ended the capture.
    void Abandon();

    std::uint64_t BytesFor(Micros time) const;

private:
    // When the stream's samples were captured, learnt from when they arrive: the last sample of
    // a fragment is read soon after it was captured, never before, so the least of (arrival -
    // the duration delivered so far) seen lately is the moment the stream's first sample was
    // captured, give or take the server's own handling. PipeWire reports no latency of its
    // sources, and with a long graph quantum a fragment may hold samples a whole quantum old.
    // Only the last two seconds count, so that a source whose clock drifts is followed.
    class Arrivals {
    public:
        // Returns the hole the source left, where these arrivals confirm one.
        Micros Arrived(std::uint64_t bytes, std::uint32_t bytesPerSecond, TimePoint now);
        // What was captured up to `at` and is not read yet; nothing before a second of arrivals.
        std::optional<Micros> Unread(TimePoint at, std::uint32_t bytesPerSecond) const;

    private:
        std::optional<TimePoint> Origin() const;

        std::uint64_t bytes_ = 0;
        std::optional<TimePoint> since_, current_, previous_;
        TimePoint windowStart_;
        // Arrivals since suspectSince_ all told of a later origin than the window's.
        std::optional<TimePoint> suspectSince_, suspectOrigin_;
    };

    // Everything of one stream; made anew with it.
    struct Stream {
        Arrivals arrivals;
        bool delivering = false;
        std::uint64_t skip = 0;      // a start drops what was captured before it
        bool resyncDue = false;      // timing is fresh: check the file against the clock
        TimePoint resyncUntil{};     // the file is checked until then
        bool resyncAwaitsData = false;  // the check runs on for kResyncWindow from the first data
    };

    std::optional<Micros> UnreadAt(TimePoint at, TimePoint now, std::optional<Micros> latency) const;
    // Silence up to the time since the press, less what is still on its way.
    std::uint64_t FillDue(TimePoint now, Micros onItsWay, std::uint64_t fileBytes) const;

    std::uint32_t bytesPerSecond_;
    std::uint16_t blockAlign_;
    Stream stream_;
    bool capturing_ = false;
    TimePoint segmentStart_{};          // the last press of Record
    std::uint64_t segmentStartBytes_ = 0;  // the file's data size then
    std::optional<std::uint64_t> stopAt_;  // a stop keeps the file up to this many bytes
};

}  // namespace larkspur
