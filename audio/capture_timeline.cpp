#include "audio/capture_timeline.h"

#include <algorithm>

namespace larkspur {
namespace {

using namespace std::chrono_literals;

CaptureTimeline::Micros DurationOf(std::uint64_t bytes, std::uint32_t bytesPerSecond) {
    return CaptureTimeline::Micros(std::int64_t(bytes * 1000000 / bytesPerSecond));
}

}  // namespace

CaptureTimeline::Micros CaptureTimeline::Arrivals::Arrived(std::uint64_t bytes, std::uint32_t bytesPerSecond,
                                                           TimePoint now) {
    const std::optional<TimePoint> known = Origin();
    bytes_ += bytes;
    const TimePoint origin = now - DurationOf(bytes_, bytesPerSecond);
    if (now - windowStart_ > 1s) {
        previous_ = current_;
        current_.reset();
        windowStart_ = now;
    }
    if (!current_ || origin < *current_) current_ = origin;
    if (!since_) since_ = now;

    // A burst that catches up brings the origin back at once; a hole keeps it late.
    if (!known || origin <= *known + kHoleThreshold) {
        suspectSince_.reset();
        suspectOrigin_.reset();
        return Micros(0);
    }
    if (!suspectSince_) {
        suspectSince_ = now;
        suspectOrigin_ = origin;
    }
    suspectOrigin_ = std::min(*suspectOrigin_, origin);
    if (now - *suspectSince_ < kHoleConfirm) return Micros(0);
    const auto hole = std::chrono::duration_cast<Micros>(*suspectOrigin_ - *known);
    // From here on the origin is the one after the hole.
    previous_.reset();
    current_ = suspectOrigin_;
    windowStart_ = now;
    suspectSince_.reset();
    suspectOrigin_.reset();
    return hole;
}

std::optional<CaptureTimeline::TimePoint> CaptureTimeline::Arrivals::Origin() const {
    if (!current_) return previous_;
    return previous_ ? std::min(*previous_, *current_) : *current_;
}

std::optional<CaptureTimeline::Micros> CaptureTimeline::Arrivals::Unread(TimePoint at,
                                                                         std::uint32_t bytesPerSecond) const {
    const auto origin = Origin();
    if (!since_ || at - *since_ < 1s || !origin) return std::nullopt;
    return std::max(std::chrono::duration_cast<Micros>(at - *origin) - DurationOf(bytes_, bytesPerSecond),
                    Micros(0));
}

CaptureTimeline::CaptureTimeline(std::uint32_t bytesPerSecond, std::uint16_t blockAlign)
    : bytesPerSecond_(bytesPerSecond), blockAlign_(blockAlign) {}

void CaptureTimeline::StreamBegan() { stream_ = Stream{}; }

void CaptureTimeline::Resync(TimePoint now) {
    stream_.arrivals = Arrivals{};
    stream_.resyncUntil = now + kResyncWindow;
    stream_.resyncAwaitsData = true;
}

void CaptureTimeline::TimingReported(TimePoint now) {
    if (now < stream_.resyncUntil) stream_.resyncDue = true;
}

CaptureTimeline::Fragment CaptureTimeline::Arrived(std::uint64_t bytes, TimePoint now, std::uint64_t fileBytes,
                                                   std::optional<Micros> latency) {
    Fragment f;
    // A source that sleeps on after a move or a wake-up settles only once it delivers.
    if (stream_.resyncAwaitsData) {
        stream_.resyncAwaitsData = false;
        stream_.resyncUntil = std::max(stream_.resyncUntil, now + kResyncWindow);
    }
    if (capturing_ && stream_.resyncDue) {
        stream_.resyncDue = false;
        if (const auto unread = UnreadAt(now, now, latency)) f.silence = FillDue(now, *unread, fileBytes);
        // The time before is accounted for: the arrivals that left the hole must not tell of it
        // again.
        if (f.silence) stream_.arrivals = Arrivals{};
    }
    const Micros hole = stream_.arrivals.Arrived(bytes, bytesPerSecond_, now);
    stream_.delivering = true;
    if (!capturing_) return f;
    // Never beyond the clock: a hole the server's own figures filled already is not filled twice.
    if (hole > Micros(0)) f.silence = std::min(BytesFor(hole), FillDue(now, Micros(0), fileBytes));
    f.skip = std::min(bytes, stream_.skip);
    stream_.skip -= f.skip;
    f.keep = bytes - f.skip;
    if (stopAt_) {
        std::uint64_t room = *stopAt_ - std::min(*stopAt_, fileBytes);
        f.silence = std::min(f.silence, room);
        room -= f.silence;
        f.keep = std::min(f.keep, room);
        if (fileBytes + f.silence + f.keep >= *stopAt_) {
            f.stopped = true;
            capturing_ = false;
        }
    }
    return f;
}

void CaptureTimeline::Start(TimePoint press, TimePoint now, std::uint64_t fileBytes, std::optional<Micros> latency) {
    stream_.skip = 0;
    if (stream_.delivering)
        if (const auto before = UnreadAt(press, now, latency)) stream_.skip = BytesFor(*before);
    capturing_ = true;
    stopAt_.reset();
    segmentStart_ = press;
    segmentStartBytes_ = fileBytes;
    // A flowing stream's timeline is the source's own; only one that has not delivered yet is
    // checked against the clock (the capture calls Resync for it).
    stream_.resyncDue = false;
    stream_.resyncUntil = {};
    stream_.resyncAwaitsData = false;
}

CaptureTimeline::StopPlan CaptureTimeline::Stop(TimePoint press, TimePoint now, std::uint64_t fileBytes,
                                                Micros latency) {
    StopPlan plan;
    plan.onItsWay = *UnreadAt(press, now, latency);
    // A stream made anew or moved lately, or not delivering yet, leaves a hole up to the press;
    // a flowing one's length is its source's own, which may run a little fast or slow.
    if (!stream_.delivering || now < stream_.resyncUntil)
        plan.silence = FillDue(now, plan.onItsWay + std::chrono::duration_cast<Micros>(now - press), fileBytes);
    stopAt_ = fileBytes + plan.silence + BytesFor(plan.onItsWay);
    if (*stopAt_ == fileBytes + plan.silence) capturing_ = false;
    return plan;
}

std::uint64_t CaptureTimeline::EndStop(TimePoint press, std::uint64_t fileBytes, bool streamLeft) {
    std::uint64_t silence = 0;
    if (capturing_ && stopAt_) {
        silence = *stopAt_ - std::min(*stopAt_, fileBytes);
    } else if (capturing_ && !streamLeft) {
        silence = FillDue(press, Micros(0), fileBytes);
    }
    Abandon();
    return silence;
}

void CaptureTimeline::Abandon() {
    capturing_ = false;
    stopAt_.reset();
}

std::uint64_t CaptureTimeline::BytesFor(Micros time) const {
    if (time <= Micros(0)) return 0;
    const std::uint64_t frames = std::uint64_t(time.count()) * (bytesPerSecond_ / blockAlign_) / 1000000;
    return frames * blockAlign_;
}

std::optional<CaptureTimeline::Micros> CaptureTimeline::UnreadAt(TimePoint at, TimePoint now,
                                                                 std::optional<Micros> latency) const {
    if (!latency) return std::nullopt;
    // The server's figure as of now, less the time since `at`; the arrivals' where that tells of
    // more (a source whose latency the server does not report).
    const auto reported =
        std::max(*latency - std::chrono::duration_cast<Micros>(now - at), Micros(0));
    const auto arrived = stream_.arrivals.Unread(at, bytesPerSecond_);
    return arrived ? std::max(reported, *arrived) : reported;
}

std::uint64_t CaptureTimeline::FillDue(TimePoint now, Micros onItsWay, std::uint64_t fileBytes) const {
    const Micros due = std::chrono::duration_cast<Micros>(now - segmentStart_) - onItsWay;
    if (due <= kResyncThreshold) return 0;
    const std::uint64_t expected = segmentStartBytes_ + BytesFor(due);
    return expected > fileBytes + BytesFor(kResyncThreshold) ? expected - fileBytes : 0;
}

}  // namespace larkspur
