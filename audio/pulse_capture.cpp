#include "audio/pulse_capture.h"

#include "audio/wave_file.h"
#include "platform/capture_source.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <strings.h>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kConnectTimeout = 5s;   // the server accepting us and the stream
constexpr auto kCommandTimeout = 2s;   // any other request to the server
constexpr auto kDrainMargin = 500ms;   // beyond the stream's latency, for the last samples
constexpr auto kFirstDataTimeout = 2s; // a new stream's source may take this long to deliver
constexpr auto kResumeTimingTimeout = 200ms;  // a resume asks the server for the stream's latency
constexpr int kFragmentMs = 25;        // small, so that a stop loses nothing buffered
constexpr auto kResyncThreshold = 40ms;  // a shorter gap in the timeline is left alone
// How long after a move or a start on a silent source the timeline is checked against the clock:
// long enough for the server's latency to settle, too short for the source's clock to drift apart.
constexpr auto kResyncWindow = 3s;

std::atomic<std::uint16_t> lastDeviceId{0};

// When the stream's samples were captured, learnt from when they arrive: the last sample of a
// fragment is read soon after it was captured, never before, so the least of (arrival - the
// duration delivered so far) seen lately is the moment the stream's first sample was captured,
// give or take the server's own handling. PipeWire reports no latency of its sources, and with
// a long graph quantum a fragment may hold samples a whole quantum old. Only the last two
// seconds count, so that a source whose clock jumped is soon followed.
class ArrivalTimeline {
public:
    void Reset() { *this = {}; }
    void Arrived(std::uint64_t bytes, std::uint32_t bytesPerSecond) {
        bytes_ += bytes;
        const auto now = Clock::now();
        const auto origin = now - std::chrono::microseconds(bytes_ * 1000000 / bytesPerSecond);
        if (now - windowStart_ > 1s) {
            previous_ = current_;
            current_.reset();
            windowStart_ = now;
        }
        if (!current_ || origin < *current_) current_ = origin;
        if (!since_) since_ = now;
    }
    // What was captured up to `at` and is not read yet; nothing before a second of arrivals.
    std::optional<std::chrono::microseconds> Unread(Clock::time_point at, std::uint32_t bytesPerSecond) const {
        if (!since_ || at - *since_ < 1s || !current_) return std::nullopt;
        const auto origin = previous_ ? std::min(*previous_, *current_) : *current_;
        const auto read = std::chrono::microseconds(bytes_ * 1000000 / bytesPerSecond);
        return std::max(std::chrono::duration_cast<std::chrono::microseconds>(at - origin) - read,
                        std::chrono::microseconds(0));
    }

private:
    std::uint64_t bytes_ = 0;
    std::optional<Clock::time_point> since_, current_, previous_;
    Clock::time_point windowStart_;
};

std::uint16_t NextDeviceId() {
    std::uint16_t id;
    do id = ++lastDeviceId;
    while (id == 0);
    return id;
}

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

}  // namespace

// Everything below runs with the main loop locked: the UI thread takes the lock, the loop's
// own thread holds it while it runs the callbacks.
struct PulseCapture::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    bool live = false;            // opened: faults from now on are recording faults

    GrowingWaveFile file;
    WaveFormat format;
    CaptureSource source;
    std::string followedMonitor;  // the monitor of the default output, when that is recorded
    bool sinkLookupFailed = false;
    // The default output as last looked up, kept current between recordings (the connection
    // hears of every change), so that Record need not ask.
    bool defaultKnown = false;
    std::string defaultMonitor;
    std::string defaultWords;
    // Recording the default output's monitor, the stream is somewhere else (the server moved it
    // to a microphone, or there is no output): silence is kept in place of what it delivers.
    bool offOutput = false;

    bool delivering = false;               // the stream has delivered its first data
    bool capturing = false;                // samples arriving now are kept
    std::optional<std::uint64_t> stopAt;   // a stop keeps the file up to this many bytes
    std::uint64_t skipBytes = 0;           // a resume drops what was captured before it
    ArrivalTimeline arrivals;
    bool resyncDue = false;                // timing is fresh: check the timeline
    Clock::time_point resyncUntil;         // the timeline is checked until then
    Clock::time_point segmentStart;        // the last Start
    std::uint64_t segmentStartBytes = 0;   // the file's data size then
    std::uint64_t syncedBytes = 0;         // the data size the header last told

    mutable std::mutex descriptionLock;  // the description is read from the window's thread
    std::string description;

    std::atomic<std::uint32_t> fault{0};
    std::atomic<std::uint64_t> keptBytes{0};
    std::atomic<std::uint32_t> bytesPerSecond{kDefaultWaveFormat.BytesPerSecond()};

    // Waits on the loop until done() holds, the server connection fails or the time is up.
    bool WaitFor(const std::function<bool()>& done, std::chrono::microseconds timeout) {
        bool expired = false;
        struct Alarm {
            pa_threaded_mainloop* loop;
            bool* expired;
        } alarm{loop, &expired};
        pa_time_event* event = pa_context_rttime_new(
            context, pa_rtclock_now() + timeout.count(),
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
                auto* a = static_cast<Alarm*>(data);
                *a->expired = true;
                pa_threaded_mainloop_signal(a->loop, 0);
            },
            &alarm);
        while (!done() && !expired && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_threaded_mainloop_wait(loop);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        api->time_free(event);
        return done();
    }

    // Runs a request to the server and waits for its answer. False on timeout or failure.
    bool Complete(pa_operation* op, std::chrono::microseconds timeout = kCommandTimeout) {
        if (!op) return false;
        pa_operation_set_state_callback(op, [](pa_operation*, void* self) { Signal(self); }, this);
        const bool done = WaitFor(
            [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeout);
        if (!done) pa_operation_cancel(op);
        const bool ok = done && pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        return ok;
    }

    static void Signal(void* self) {
        pa_threaded_mainloop_signal(static_cast<Impl*>(self)->loop, 0);
    }

    void Fail(std::uint32_t code) {
        std::uint32_t none = 0;
        fault.compare_exchange_strong(none, code);
        capturing = false;
        stopAt.reset();
        if (file.Begun()) file.SyncHeader();
        if (stream && pa_stream_get_state(stream) == PA_STREAM_READY)
            if (pa_operation* op = pa_stream_cork(stream, 1, nullptr, nullptr))
                pa_operation_unref(op);
        pa_threaded_mainloop_signal(loop, 0);
    }

    // Starts connecting without waiting: the loop's thread completes it. The connection is made
    // ahead of Record and kept between recordings; it holds no stream, so nothing is recorded
    // and no device is kept awake.
    bool BeginConnect() {
        loop = pa_threaded_mainloop_new();
        if (!loop) return false;
        pa_threaded_mainloop_set_name(loop, "larkspur-capture");
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Larkspur");
        if (!context) return false;
        pa_context_set_state_callback(context, ContextState, this);
        return pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
               pa_threaded_mainloop_start(loop) >= 0;
    }

    // A ready connection: the one made ahead, or a new one where that failed since (the server
    // went away or restarted).
    std::uint32_t Connect() {
        if (loop) {
            bool good;
            {
                LoopLock lock(loop);
                good = PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
            }
            if (!good) Disconnect();
        }
        if (!loop && !BeginConnect()) {
            Disconnect();
            return kCaptureNoServer;
        }
        LoopLock lock(loop);
        const bool ready = WaitFor(
            [this] { return pa_context_get_state(context) == PA_CONTEXT_READY; },
            kConnectTimeout);
        if (ready) return kCaptureOk;
        return PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ? kCaptureServerTimeout
                                                                 : kCaptureNoServer;
    }

    static void ContextState(pa_context* c, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const pa_context_state_t state = pa_context_get_state(c);
        if (impl->live && !PA_CONTEXT_IS_GOOD(state)) impl->Fail(kCaptureServerLost);
        if (!PA_CONTEXT_IS_GOOD(state)) impl->defaultKnown = false;
        // Every change of the default output is heard of from now on.
        if (state == PA_CONTEXT_READY) {
            pa_context_set_subscribe_callback(c, ServerEvent, self);
            if (pa_operation* op = pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
                pa_operation_unref(op);
            impl->LookUpDefaultOutput();
        }
        Signal(self);
    }

    // The default output and its monitor; a stream that records the old monitor is moved.
    void LookUpDefaultOutput() {
        if (pa_operation* op = pa_context_get_server_info(context, ServerInfo, this))
            pa_operation_unref(op);
    }

    static void ServerInfo(pa_context* c, const pa_server_info* info, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const char* sink = info ? info->default_sink_name : nullptr;
        pa_operation* op = sink ? pa_context_get_sink_info_by_name(c, sink, SinkInfo, self)
                                : nullptr;
        if (op) {
            pa_operation_unref(op);
        } else {
            impl->SinkLookupFailed();
        }
    }

    static void SinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (eol < 0) impl->SinkLookupFailed();
        if (!info) return;
        // An output without a monitor has nothing to record.
        if (!info->monitor_source_name || !*info->monitor_source_name) return impl->SinkLookupFailed();
        impl->defaultMonitor = info->monitor_source_name;
        impl->defaultWords = std::string("Stereo Mix: ") + (info->description ? info->description : info->name);
        impl->defaultKnown = true;
        if (impl->source.kind == CaptureSource::Kind::DefaultOutputMonitor) impl->UseDefaultOutput();
        Signal(self);
    }

    void UseDefaultOutput() {
        followedMonitor = defaultMonitor;
        Describe(defaultWords);
        FollowMonitor();
    }

    // No default output, or none with a monitor: the recording goes on in silence until one
    // appears.
    void SinkLookupFailed() {
        sinkLookupFailed = true;
        defaultKnown = false;
        if (source.kind != CaptureSource::Kind::DefaultOutputMonitor) return;
        Describe("Stereo Mix: no output");
        if (live) {
            followedMonitor.clear();
            offOutput = true;
        }
        pa_threaded_mainloop_signal(loop, 0);
    }

    void FollowMonitor() {
        if (!live) return;
        if (!stream) {
            // The stream went with the last output; a new one records the new output's monitor.
            if (!CreateStream(followedMonitor.c_str())) return Fail(kCaptureStreamRefused);
            offOutput = false;
            return;
        }
        if (pa_stream_get_state(stream) != PA_STREAM_READY) return;
        const char* device = pa_stream_get_device_name(stream);
        if (device && followedMonitor == device) {
            offOutput = false;
            return;
        }
        pa_operation* op = pa_context_move_source_output_by_name(
            context, pa_stream_get_index(stream), followedMonitor.c_str(), nullptr, nullptr);
        if (op) pa_operation_unref(op);
    }

    static void ServerEvent(pa_context*, pa_subscription_event_type_t type, uint32_t, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
        impl->defaultKnown = false;
        impl->LookUpDefaultOutput();
    }

    bool CreateStream(const char* device) {
        pa_sample_spec sampleSpec{};
        sampleSpec.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
        sampleSpec.rate = format.sampleRate;
        sampleSpec.channels = std::uint8_t(format.channels);
        // PipeWire mixes stereo down to mono at +3 dB, clipping loud audio; normalised, it keeps
        // the level as PulseAudio does (which ignores the property).
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, "channelmix.normalize", "true");
        stream = pa_stream_new_with_proplist(context, "Recording", &sampleSpec, nullptr, properties);
        pa_proplist_free(properties);
        if (!stream) return false;
        pa_stream_set_state_callback(stream, StreamState, this);
        pa_stream_set_read_callback(stream, StreamRead, this);
        pa_stream_set_moved_callback(stream, StreamMoved, this);
        pa_stream_set_suspended_callback(stream, StreamSuspended, this);
        pa_stream_set_latency_update_callback(stream, StreamTiming, this);
        pa_buffer_attr attr;
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = attr.prebuf = attr.minreq = std::uint32_t(-1);
        attr.fragsize = format.BytesPerSecond() * kFragmentMs / 1000 / format.BlockAlign() *
                        format.BlockAlign();
        // The stream runs from the open on and a stop only stops keeping what arrives: a corked
        // stream would deliver its first data late after every start and resume.
        auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING);
        // A source chosen by name stays put: the server moves streams to a new default source,
        // and to another source when theirs goes away, which would record something else.
        if (source.kind == CaptureSource::Kind::Named)
            flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
        return pa_stream_connect_record(stream, device, &attr, flags) == 0;
    }

    void DropStream() {
        if (!stream) return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_moved_callback(stream, nullptr, nullptr);
        pa_stream_set_suspended_callback(stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    static void StreamState(pa_stream* s, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const pa_stream_state_t state = pa_stream_get_state(s);
        const bool recording = impl->live && PA_CONTEXT_IS_GOOD(pa_context_get_state(impl->context));
        // The server moves a stream whose source goes away to another source; it kills one
        // that may not move (a chosen source) or has nowhere to go. Recording the default
        // output, that is the last output gone: silence until the next one appears.
        if (state == PA_STREAM_FAILED && recording) {
            if (impl->source.kind != CaptureSource::Kind::DefaultOutputMonitor) {
                impl->Fail(kCaptureSourceGone);
            } else {
                impl->DropStream();
                impl->offOutput = true;
                impl->LookUpDefaultOutput();
            }
        }
        // A stream made anew after the last output went fills the time without one.
        if (state == PA_STREAM_READY && recording) impl->RequestResync();
        if (state == PA_STREAM_READY) impl->DescribeSource();
        Signal(self);
    }

    void Describe(std::string words) {
        const std::lock_guard lock(descriptionLock);
        description = std::move(words);
    }

    // A source chosen by name, or the server's default, is told by its own description; the
    // default output's is told by the output's.
    void DescribeSource() {
        if (source.kind == CaptureSource::Kind::DefaultOutputMonitor || !stream) return;
        const char* name = pa_stream_get_device_name(stream);
        pa_operation* op = name ? pa_context_get_source_info_by_name(
                                      context, name,
                                      [](pa_context*, const pa_source_info* info, int, void* self) {
                                          if (info && info->description)
                                              static_cast<Impl*>(self)->Describe(info->description);
                                      },
                                      this)
                                : nullptr;
        if (op) pa_operation_unref(op);
    }

    static void StreamMoved(pa_stream* s, void* self) {
        auto* impl = static_cast<Impl*>(self);
        impl->RequestResync();
        impl->DescribeSource();
        // The server moves a stream to its default source when that changes, or when its source
        // goes away; recording the default output, nothing but that output's monitor is kept,
        // and the capture goes back to it.
        const char* device = pa_stream_get_device_name(s);
        if (impl->source.kind != CaptureSource::Kind::DefaultOutputMonitor) return;
        impl->offOutput = !(device && impl->followedMonitor == device);
        if (impl->offOutput) impl->LookUpDefaultOutput();
    }

    static void StreamSuspended(pa_stream* s, void* self) {
        if (!pa_stream_is_suspended(s)) static_cast<Impl*>(self)->RequestResync();
    }

    // After a move, a source waking up or a start on a silent source, the timeline is checked
    // at each fresh timing report for a while.
    void RequestResync() {
        arrivals.Reset();
        if (!stream) return;
        resyncUntil = Clock::now() + kResyncWindow;
        if (pa_operation* op = pa_stream_update_timing_info(stream, nullptr, nullptr))
            pa_operation_unref(op);
    }

    static void StreamTiming(pa_stream*, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (Clock::now() < impl->resyncUntil) impl->resyncDue = true;
    }

    // The stream's latency: what was captured but has not been read yet, plus the source's own.
    std::optional<std::chrono::microseconds> Latency() {
        pa_usec_t latency = 0;
        int negative = 0;
        if (!stream || pa_stream_get_latency(stream, &latency, &negative) < 0) return std::nullopt;
        return std::chrono::microseconds(negative ? 0 : latency);
    }

    // What was captured up to `at` (a press, a moment ago) and has not been read yet: the
    // server's latency (the one at its last answer, interpolated where none came) less the time
    // since, or the arrivals' figure where that tells of more.
    std::optional<std::chrono::microseconds> UnreadAt(Clock::time_point at) {
        const auto latency = Latency();
        if (!latency) return std::nullopt;
        const auto reported = std::max(
            *latency - std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - at),
            std::chrono::microseconds(0));
        const auto arrived = arrivals.Unread(at, format.BytesPerSecond());
        return arrived ? std::max(reported, *arrived) : reported;
    }

    std::uint64_t BytesFor(std::chrono::microseconds time) const {
        const std::uint64_t frames =
            std::uint64_t(time.count()) * format.sampleRate / 1000000;
        return frames * format.BlockAlign();
    }

    // The moments the source delivered nothing (a move, a sleeping source) are filled with
    // silence, so that the file's length keeps to the time recorded.
    void Resync() {
        resyncDue = false;
        if (const auto latency = Latency()) FillUpTo(*latency);
    }

    // Silence up to the time since the last start, less what is still on its way.
    void FillUpTo(std::chrono::microseconds onItsWay) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
            Clock::now() - segmentStart);
        const std::chrono::microseconds due = elapsed - onItsWay;
        if (due <= kResyncThreshold) return;
        const std::uint64_t expected = segmentStartBytes + BytesFor(due);
        const std::uint64_t have = file.DataBytes();
        if (expected > have + BytesFor(kResyncThreshold)) Keep(nullptr, expected - have);
    }

    static void StreamRead(pa_stream* s, size_t, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const void* data;
        size_t bytes;
        while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
            impl->arrivals.Arrived(bytes, impl->format.BytesPerSecond());
            if (!impl->delivering) {
                impl->delivering = true;
                pa_threaded_mainloop_signal(impl->loop, 0);
            }
            if (impl->capturing) {
                if (impl->resyncDue) impl->Resync();
                const auto skipped = std::min<std::uint64_t>(bytes, impl->skipBytes);
                impl->skipBytes -= skipped;
                if (impl->capturing && skipped < bytes)
                    impl->Keep(impl->offOutput ? nullptr : static_cast<const char*>(data) + skipped,
                               bytes - skipped);
            }
            pa_stream_drop(s);
        }
    }

    // Appends samples (or, without data, a hole of silence) up to a pending stop's mark.
    void Keep(const void* data, std::uint64_t bytes) {
        if (stopAt) bytes = std::min(bytes, *stopAt - std::min(*stopAt, file.DataBytes()));
        const std::uint32_t code = data ? file.Append(data, bytes) : file.AppendSilence(bytes);
        keptBytes = file.DataBytes();
        if (code != 0) return Fail(code);
        if (file.DataBytes() - syncedBytes >= format.BytesPerSecond() / 2) {
            file.SyncHeader();
            syncedBytes = file.DataBytes();
        }
        if (stopAt && file.DataBytes() >= *stopAt) {
            capturing = false;
            pa_threaded_mainloop_signal(loop, 0);
        }
    }

    // Ends the recording; the connection stays for the next one.
    void Release() {
        if (loop) {
            LoopLock lock(loop);
            live = false;
            capturing = false;
            DropStream();
            // Between recordings the default output's changes only update what is known of it.
            source = {};
        }
        file.Close();
        stopAt.reset();
    }

    // After Release: the recording has ended.
    void Disconnect() {
        if (!loop) return;
        {
            LoopLock lock(loop);
            defaultKnown = false;
            if (context) {
                pa_context_set_state_callback(context, nullptr, nullptr);
                pa_context_set_subscribe_callback(context, nullptr, nullptr);
                pa_context_disconnect(context);
                pa_context_unref(context);
                context = nullptr;
            }
        }
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
};

PulseCapture::PulseCapture() : impl_(std::make_unique<Impl>()) {
    // Record then opens only its stream; a server that is not there yet is tried again then.
    if (!impl_->BeginConnect()) impl_->Disconnect();
}

PulseCapture::~PulseCapture() {
    impl_->Release();
    impl_->Disconnect();
}

std::uint32_t PulseCapture::Open(const CaptureOpenRequest& request, std::uint16_t& deviceId) {
    Impl& d = *impl_;
    d.Release();
    d.fault = 0;
    d.keptBytes = 0;
    WaveFormat format = kDefaultWaveFormat;
    if (request.element) {
        if (const std::uint32_t code = ReadWaveFormat(*request.element, format)) return code;
        if (const std::uint32_t code = d.file.OpenElement(*request.element, format)) return code;
    } else if (strcasecmp(request.deviceType.c_str(), "WaveAudio") == 0) {
        if (const std::uint32_t code = d.file.OpenAnonymous(format)) return code;
    } else {
        return kCaptureUnknownDeviceType;
    }
    d.file.SetTap(request.tap);
    d.format = format;
    d.bytesPerSecond = format.BytesPerSecond();
    const CaptureSource source = ChosenCaptureSource();
    d.syncedBytes = 0;

    if (const std::uint32_t code = d.Connect()) {
        d.Release();
        return code;
    }
    std::uint32_t code = kCaptureOk;
    {
        LoopLock lock(d.loop);
        // The loop's thread reads it when the default output changes.
        d.source = source;
        d.Describe({});
        const char* device = nullptr;
        if (d.source.kind == CaptureSource::Kind::Named) {
            device = d.source.name.c_str();
        } else if (d.source.kind == CaptureSource::Kind::DefaultOutputMonitor) {
            d.followedMonitor.clear();
            d.sinkLookupFailed = false;
            if (d.defaultKnown) {
                d.UseDefaultOutput();
            } else {
                d.LookUpDefaultOutput();
                if (!d.WaitFor([&d] { return !d.followedMonitor.empty() || d.sinkLookupFailed; },
                               kCommandTimeout))
                    code = d.sinkLookupFailed ? kCaptureNoSuchSource : kCaptureServerTimeout;
            }
            device = d.followedMonitor.c_str();
        }
        if (code == kCaptureOk && !d.CreateStream(device)) code = kCaptureStreamRefused;
        if (code == kCaptureOk) {
            const bool ready = d.WaitFor(
                [&d] { return pa_stream_get_state(d.stream) != PA_STREAM_CREATING; },
                kConnectTimeout);
            if (!ready) {
                code = kCaptureServerTimeout;
            } else if (pa_stream_get_state(d.stream) != PA_STREAM_READY) {
                code = pa_context_errno(d.context) == PA_ERR_NOENTITY ? kCaptureNoSuchSource
                                                                      : kCaptureStreamRefused;
            }
        }
        // A source may deliver its first data long after the stream is ready; waiting for it
        // here lets a recording start on a flowing stream instead of on a hole.
        if (code == kCaptureOk) {
            d.delivering = false;
            d.WaitFor([&d] { return d.delivering || !PA_STREAM_IS_GOOD(pa_stream_get_state(d.stream)); },
                      kFirstDataTimeout);
        }
        if (code == kCaptureOk && !PA_CONTEXT_IS_GOOD(pa_context_get_state(d.context)))
            code = kCaptureServerLost;
        // A stream that failed while the open waited for its first data recorded nothing.
        if (code == kCaptureOk && pa_stream_get_state(d.stream) != PA_STREAM_READY)
            code = kCaptureSourceGone;
        d.offOutput = false;
        d.live = code == kCaptureOk;
    }
    if (code != kCaptureOk) {
        d.Release();
        return code;
    }
    deviceId = NextDeviceId();
    return kCaptureOk;
}

std::uint32_t PulseCapture::Start() {
    Impl& d = *impl_;
    if (!d.loop) return kCaptureNotOpen;
    LoopLock lock(d.loop);
    // The connection outlives the device's open.
    if (!d.live) return kCaptureNotOpen;
    if (d.fault != 0) return d.fault;
    if (d.capturing) return kCaptureOk;
    // From here on every failure is the recording's fault, told like one that comes later.
    const bool resumed = d.file.Begun();
    if (!resumed) {
        if (const std::uint32_t code = d.file.Begin()) {
            d.Fail(code);
            return code;
        }
        d.syncedBytes = 0;
    }
    // Without a stream only while the default output's monitor is recorded and no output is left.
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(d.context)) ||
        (d.stream ? !PA_STREAM_IS_GOOD(pa_stream_get_state(d.stream))
                  : d.source.kind != CaptureSource::Kind::DefaultOutputMonitor)) {
        d.Fail(kCaptureServerLost);
        return kCaptureServerLost;
    }
    const auto pressed = Clock::now();
    // What a flowing stream delivers next was captured up to its latency before the press: a
    // resume drops it, as a stop keeps what is still on its way.
    d.skipBytes = 0;
    if (d.delivering && d.stream && pa_stream_get_state(d.stream) == PA_STREAM_READY) {
        d.Complete(pa_stream_update_timing_info(d.stream, nullptr, nullptr), kResumeTimingTimeout);
        if (const auto before = d.stream ? d.UnreadAt(pressed) : std::nullopt)
            d.skipBytes = d.BytesFor(*before);
    }
    d.capturing = true;
    d.segmentStart = pressed;
    d.segmentStartBytes = d.file.DataBytes();
    d.resyncDue = false;
    d.resyncUntil = {};
    // A flowing stream's timeline is the source's own; only a source that has not delivered
    // yet is checked against the clock.
    if (!d.delivering) d.RequestResync();
    return kCaptureOk;
}

std::uint32_t PulseCapture::Stop() {
    Impl& d = *impl_;
    if (!d.loop) return kCaptureNotOpen;
    LoopLock lock(d.loop);
    // The connection outlives the device's open.
    if (!d.live) return kCaptureNotOpen;
    // A fault that ended the capture is this command's result: the recording stopped there.
    if (!d.capturing) return d.fault;
    // Everything up to the press is either read already or still on its way: wait for it.
    // The latency comes fresh from the server: interpolated, it goes stale while a source
    // delivers in bursts. A server that does not answer gets no further requests.
    const auto pressed = Clock::now();
    const bool answers = d.stream && pa_stream_get_state(d.stream) == PA_STREAM_READY &&
                         d.Complete(pa_stream_update_timing_info(d.stream, nullptr, nullptr),
                                    kDrainMargin);
    if (const auto unread = answers ? d.UnreadAt(pressed) : std::nullopt) {
        // A stream that has not delivered since it was made anew leaves a hole up to here.
        d.FillUpTo(*unread + std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - pressed));
        d.stopAt = d.file.DataBytes() + d.BytesFor(*unread);
        d.WaitFor([&d] { return !d.capturing; },
                  *unread + std::chrono::milliseconds(kFragmentMs) + kDrainMargin);
    }
    // With no output left the time up to the stop is silence.
    if (!d.stream && d.capturing && d.live) d.FillUpTo(std::chrono::microseconds(0));
    // Nothing captured while stopped is kept: what arrives from now on is dropped.
    d.capturing = false;
    d.stopAt.reset();
    const std::uint32_t code =
        answers || !d.stream || !PA_CONTEXT_IS_GOOD(pa_context_get_state(d.context))
            ? kCaptureOk
            : kCaptureServerTimeout;
    if (d.file.Begun()) d.file.SyncHeader();
    d.syncedBytes = d.file.DataBytes();
    return d.fault != 0 ? std::uint32_t(d.fault) : code;
}

std::uint32_t PulseCapture::Save(const std::string& path) {
    Impl& d = *impl_;
    if (!d.loop) return kCaptureNotOpen;
    LoopLock lock(d.loop);
    // The connection outlives the device's open.
    if (!d.live) return kCaptureNotOpen;
    return d.file.SaveTo(path);
}

std::uint32_t PulseCapture::Close() {
    // A close during a recording keeps everything up to it, as a stop would; Stop looks under
    // the loop's lock whether one is under way.
    if (impl_->loop) Stop();
    impl_->Release();
    return kCaptureOk;
}

std::optional<std::string> PulseCapture::ErrorText(std::uint32_t code) const {
    return CaptureErrorText(code);
}

std::string PulseCapture::SourceDescription() const {
    const std::lock_guard lock(impl_->descriptionLock);
    return impl_->description;
}

CaptureReport PulseCapture::Report() const {
    const Impl& d = *impl_;
    return {d.fault, std::chrono::milliseconds(d.keptBytes * 1000 / d.bytesPerSecond)};
}

}  // namespace larkspur
