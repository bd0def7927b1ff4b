#include "audio/pulse_capture.h"

#include "audio/capture_timeline.h"
#include "audio/capture_writer.h"
#include "audio/default_output_follower.h"
#include "audio/mixed_source.h"
#include "audio/program_follower.h"
#include "audio/pulse_connection.h"
#include "audio/record_stream.h"
#include "audio/wave_file.h"
#include "platform/capture_source.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <strings.h>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using Clock = CaptureTimeline::Clock;
using Micros = CaptureTimeline::Micros;

constexpr auto kDrainMargin = 500ms;   // beyond the stream's latency, for the last samples
constexpr auto kFirstDataTimeout = 2s; // a new stream's source may take this long to deliver
constexpr auto kResumeTimingTimeout = 200ms;  // a resume asks the server for the stream's latency
constexpr pa_usec_t kAbsenceTick = 250000;  // silence for a source that delivers nothing
constexpr auto kRetryGone = 1s;          // an input gone from a mix is asked for again this often
constexpr auto kDefaultsSettle = 1s;   // a move this close to a change of defaults is the server's

std::atomic<std::uint16_t> lastDeviceId{0};

std::uint16_t NextDeviceId() {
    std::uint16_t id;
    do id = ++lastDeviceId;
    while (id == 0);
    return id;
}

}  // namespace

// The stream and the six operations, over the connection, the default-output follower and the
// timeline. Unless a field says otherwise, it is touched by the loop's thread (in callbacks) and
// by the thread that owns the device (in the operations) with the loop locked.
struct PulseCapture::Impl {
    Impl()
        : connection({[this](pa_context_state_t state) { ConnectionChanged(state); },
                      [this] {
                          defaultsChanged = Clock::now();
                          follower.LookUp();
                      },
                      [this](pa_subscription_event_type_t type, std::uint32_t index) {
                          PlaybackChanged(type, index);
                      }}),
          follower(connection, [this] { DefaultOutputChanged(); }),
          choiceWatch(WatchCaptureSourceChoice([this] { Chosen(); })) {}

    PulseConnection connection;
    DefaultOutputFollower follower;
    pa_stream* stream = nullptr;
    bool live = false;            // opened: faults from now on are recording faults

    GrowingWaveFile file;   // written by the writer's thread; touched here only once drained
    CaptureWriter writer{file};
    WaveFormat format;
    CaptureSource source;
    std::string followedMonitor;  // the monitor of the default output, when that is recorded
    // The source the stream was connected or moved to by us: a move elsewhere was someone else's.
    std::string requestedDevice;
    // Recording a program: the playback stream the stream monitors, and the search for one.
    std::optional<std::uint32_t> programInput;
    ProgramFollower program{connection, [this](const ProgramFollower::Playback& p) { ProgramFound(p); }};
    bool opening = false;  // Open waits for the program's stream
    pa_time_event* absenceTicker = nullptr;
    Clock::time_point defaultsChanged{};  // the server's default output or input changed then
    // Recording the default output's monitor, the stream is somewhere else (the server moved it
    // to a microphone, or there is no output): silence is kept in place of what it delivers.
    bool offOutput = false;
    // Made anew at every open; it makes its stream part anew with every stream.
    std::optional<CaptureTimeline> timeline;
    // Several sources chosen: the first is recorded by the stream above, on whose clock the
    // recording runs, and the others are mixed into it.
    std::optional<SourceMix> mix;
    std::vector<std::unique_ptr<MixedSource>> others;
    std::vector<std::uint8_t> mixed;
    Clock::time_point retryAt{};  // the recording's own input went, in a mix: asked for again then

    mutable std::mutex descriptionLock;  // any thread, under descriptionLock
    std::string description;
    std::string ownWords;  // the first source's part of it

    // Any thread.
    std::atomic<std::uint32_t> fault{0};
    std::atomic<std::uint32_t> bytesPerSecond{kDefaultWaveFormat.BytesPerSecond()};
    // Last: no choice reaches a capture that is going.
    std::shared_ptr<void> choiceWatch;

    void Fail(std::uint32_t code) {
        std::uint32_t none = 0;
        fault.compare_exchange_strong(none, code);
        if (timeline) timeline->Abandon();
        if (stream && pa_stream_get_state(stream) == PA_STREAM_READY)
            if (pa_operation* op = pa_stream_cork(stream, 1, nullptr, nullptr)) pa_operation_unref(op);
        connection.Signal();
    }

    void ConnectionChanged(pa_context_state_t state) {
        if (live && !PA_CONTEXT_IS_GOOD(state)) Fail(kCaptureServerLost);
        if (!PA_CONTEXT_IS_GOOD(state)) follower.Forget();
        if (state == PA_CONTEXT_READY) follower.LookUp();
    }

    void DefaultOutputChanged() {
        if (source.kind != CaptureSource::Kind::DefaultOutputMonitor) return;
        if (follower.Known()) return UseDefaultOutput();
        // No default output, or none with a monitor: the recording goes on in silence until one
        // appears.
        Describe("Stereo Mix: no output");
        if (live) {
            followedMonitor.clear();
            offOutput = true;
        }
    }

    void UseDefaultOutput() {
        followedMonitor = follower.Monitor();
        Describe(follower.Words());
        FollowMonitor();
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
            requestedDevice = device;
            offOutput = false;
            return;
        }
        MoveTo(followedMonitor);
    }

    void MoveTo(const std::string& device) {
        requestedDevice = device;
        pa_operation* op = pa_context_move_source_output_by_name(
            connection.Context(), pa_stream_get_index(stream), device.c_str(),
            [](pa_context*, int success, void* self) {
                auto* impl = static_cast<Impl*>(self);
                if (success || !impl->live) return;
                impl->connection.Trace("moving the recording stream");
                // The default output's monitor is tried again at the output's next change.
                if (impl->source.kind != CaptureSource::Kind::DefaultOutputMonitor) impl->Fail(kCaptureSourceGone);
            },
            this);
        if (op) pa_operation_unref(op);
    }

    // The user chose another source (GUI thread): it applies at once where a recording runs, and
    // otherwise at the next open.
    void Chosen() {
        const CaptureSources chosen = ChosenCaptureSources();
        const CaptureSource next = FirstOf(chosen);
        if (!connection.Exists()) return;
        PulseConnection::Lock lock(connection);
        if (!live || fault != 0) return;
        MixOthers(chosen);
        if (next == source) return Describe(ownWords);
        // A stream that monitors a program cannot move, nor be moved to one.
        const bool movable = stream && pa_stream_get_state(stream) == PA_STREAM_READY &&
                             source.kind != CaptureSource::Kind::Program &&
                             next.kind != CaptureSource::Kind::Program &&
                             next.kind != CaptureSource::Kind::ServerDefault;
        source = next;
        Describe(next.kind == CaptureSource::Kind::Program ? next.name : std::string{});
        if (!movable) {
            // The time until the new stream delivers is filled by its resync.
            DropStream();
            offOutput = false;
            if (!OpenStream()) Fail(kCaptureStreamRefused);
            return;
        }
        if (next.kind == CaptureSource::Kind::Named) return MoveTo(next.name);
        followedMonitor.clear();
        if (follower.Known()) return UseDefaultOutput();
        follower.LookUp();
    }

    // Every source chosen after the first has a stream of its own mixed in; one chosen anew
    // starts in silence and is heard once it has buffered enough.
    void MixOthers(const CaptureSources& chosen) {
        std::vector<std::unique_ptr<MixedSource>> kept;
        for (std::size_t i = 1; i < chosen.size(); ++i) {
            auto same = std::find_if(others.begin(), others.end(),
                                     [&](const auto& other) { return other && other->Source() == chosen[i]; });
            if (same != others.end()) {
                kept.push_back(std::move(*same));
                continue;
            }
            kept.push_back(std::make_unique<MixedSource>(connection, format, *mix, chosen[i],
                                                         [this] { Describe(ownWords); }));
        }
        others = std::move(kept);
        Describe(ownWords);
    }

    // Starts the stream for the chosen source; a program's comes once it is found, and the
    // default output's once it is known. False where the server refused a stream.
    bool OpenStream() {
        switch (source.kind) {
        case CaptureSource::Kind::Program:
            LookForProgram();
            return true;
        case CaptureSource::Kind::DefaultOutputMonitor:
            followedMonitor.clear();
            if (!follower.Known()) {
                follower.LookUp();
                return true;
            }
            followedMonitor = follower.Monitor();
            Describe(follower.Words());
            return CreateStream(followedMonitor.c_str());
        case CaptureSource::Kind::Named:
            return CreateStream(source.name.c_str());
        case CaptureSource::Kind::ServerDefault:
            break;
        }
        return CreateStream(nullptr);
    }

    // ---- one program's sound: a stream on the monitor of the output it plays to, limited to
    // that program's playback stream, made anew whenever that stream went.
    void PlaybackChanged(pa_subscription_event_type_t type, std::uint32_t index) {
        if (!live) return;
        for (const auto& other : others) other->PlaybackChanged(type, index);
        if (source.kind != CaptureSource::Kind::Program) return;
        // PipeWire keeps a monitor stream whose program went; it would deliver nothing from now on.
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE && programInput == index) DropStream();
        if (!stream) LookForProgram();
    }

    void LookForProgram() {
        if (!stream && fault == 0) program.LookFor(source.name);
    }

    void ProgramFound(const ProgramFollower::Playback& playback) {
        const bool wanted = (live || opening) && fault == 0 && !stream &&
                            source.kind == CaptureSource::Kind::Program && playback.program == source.name;
        if (wanted && !CreateStream(playback.monitor.c_str(), playback.input)) Fail(kCaptureStreamRefused);
    }

    // While the first source has no stream (a program that plays nothing, an input gone in a
    // mix, no output left), its silence keeps the file to the clock and the others go on.
    static void AbsenceTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const auto now = Clock::now();
        const bool filled = impl->source.kind == CaptureSource::Kind::Program || !impl->others.empty();
        if (impl->live && !impl->stream && filled && impl->fault == 0) {
            if (const std::uint64_t silence = impl->timeline->Absent(now, impl->writer.Bytes()))
                impl->Keep(nullptr, silence);
            if (impl->source.kind == CaptureSource::Kind::Named && now >= impl->retryAt) {
                impl->retryAt = now + kRetryGone;
                if (!impl->OpenStream()) impl->DropStream();
            }
        }
        for (const auto& other : impl->others) other->Tick(now);
        pa_context_rttime_restart(impl->connection.Context(), event, pa_rtclock_now() + kAbsenceTick);
    }

    bool CreateStream(const char* device, std::optional<std::uint32_t> monitorInput = std::nullopt) {
        stream = NewRecordStream(connection.Context(), format, monitorInput);
        if (!stream) return false;
        requestedDevice = device ? device : "";
        programInput = monitorInput;
        timeline->StreamBegan();
        pa_stream_set_state_callback(stream, StreamState, this);
        pa_stream_set_read_callback(stream, StreamRead, this);
        pa_stream_set_moved_callback(stream, StreamMoved, this);
        pa_stream_set_suspended_callback(stream, StreamSuspended, this);
        pa_stream_set_latency_update_callback(stream, StreamTiming, this);
        // A source chosen by name stays put: the server moves streams to a new default source,
        // and to another source when theirs goes away, which would record something else.
        return ConnectRecordStream(stream, format, device, source.kind == CaptureSource::Kind::Named);
    }

    void DropStream() {
        ReleaseRecordStream(stream);
        programInput.reset();
    }

    static void StreamState(pa_stream* s, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const pa_stream_state_t state = pa_stream_get_state(s);
        const bool recording = impl->live && impl->connection.Good();
        // The server moves a stream whose source goes away to another source; it kills one
        // that may not move (a chosen source) or has nowhere to go. Recording the default
        // output, that is the last output gone: silence until the next one appears.
        if (state == PA_STREAM_FAILED && recording) {
            impl->connection.Trace("the recording stream");
            if (impl->source.kind == CaptureSource::Kind::Program) {
                // The program's stream ended: silence until it plays again.
                impl->DropStream();
                impl->LookForProgram();
            } else if (impl->source.kind != CaptureSource::Kind::DefaultOutputMonitor && !impl->others.empty()) {
                // In a mix the others go on, with silence in its place until it is back.
                impl->DropStream();
                impl->retryAt = Clock::now() + kRetryGone;
            } else if (impl->source.kind != CaptureSource::Kind::DefaultOutputMonitor) {
                impl->Fail(kCaptureSourceGone);
            } else {
                impl->DropStream();
                impl->offOutput = true;
                impl->follower.LookUp();
            }
        }
        // A stream made anew after the last output went fills the time without one.
        if (state == PA_STREAM_READY && recording) impl->RequestResync();
        if (state == PA_STREAM_READY) impl->DescribeSource();
        impl->connection.Signal();
    }

    void Describe(std::string words) {
        ownWords = std::move(words);
        std::string all = ownWords;
        for (const auto& other : others)
            if (!other->Words().empty()) all += (all.empty() ? "" : " + ") + other->Words();
        const std::lock_guard lock(descriptionLock);
        description = std::move(all);
    }

    // A source chosen by name, or the server's default, is told by its own description; the
    // default output's is told by the output's.
    void DescribeSource() {
        if (source.kind == CaptureSource::Kind::DefaultOutputMonitor ||
            source.kind == CaptureSource::Kind::Program || !stream)
            return;
        const char* name = pa_stream_get_device_name(stream);
        pa_operation* op = name ? pa_context_get_source_info_by_name(
                                      connection.Context(), name,
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
        const char* device = pa_stream_get_device_name(s);
        const std::string to = device ? device : "";
        if (to == impl->requestedDevice || impl->requestedDevice.empty()) {
            // Ours, or the server's own for a stream that records its default.
            impl->requestedDevice = to;
            impl->offOutput = false;
            return impl->DescribeSource();
        }
        // Someone else's: nothing of it is kept until it is known whose.
        impl->offOutput = true;
        impl->CheckMove(to);
    }

    // A move we did not ask for is the user's choice (a mixer, pactl), which is kept and becomes
    // the selection; or the server's own: the rescue of a stream whose source went away, or
    // PipeWire's policy following a new default. Those are told apart by whether the source
    // left is still there and the defaults stayed as they were. After the server's own move,
    // the default output's capture goes back to the output's monitor; a source gone is a fault.
    void CheckMove(const std::string& to) {
        struct Check {
            Impl* impl;
            std::string to;
            bool fromLeft = true;
        };
        auto* check = new Check{this, to};
        pa_operation* op = pa_context_get_source_info_by_name(
            connection.Context(), requestedDevice.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* check = static_cast<Check*>(data);
                if (eol == 0) {
                    if (info) check->fromLeft = false;
                    return;
                }
                const std::unique_ptr<Check> done(check);
                Impl& impl = *check->impl;
                const char* device = impl.stream ? pa_stream_get_device_name(impl.stream) : nullptr;
                // A later move has a check of its own.
                if (!impl.live || !device || check->to != device || check->to == impl.requestedDevice) return;
                const bool defaultsStayed = Clock::now() - impl.defaultsChanged > kDefaultsSettle;
                if (!check->fromLeft && defaultsStayed) return impl.AdoptMove(check->to);
                if (impl.source.kind == CaptureSource::Kind::DefaultOutputMonitor) return impl.follower.LookUp();
                if (!check->fromLeft) return impl.MoveTo(impl.requestedDevice);
                impl.Fail(kCaptureSourceGone);
            },
            check);
        if (op) return pa_operation_unref(op);
        delete check;
    }

    void AdoptMove(const std::string& to) {
        source = {CaptureSource::Kind::Named, to};
        CaptureSources chosen{source};
        for (const auto& other : others) chosen.push_back(other->Source());
        requestedDevice = to;
        followedMonitor.clear();
        offOutput = false;
        SetChosenCaptureSources(chosen);
        DescribeSource();
    }

    static void StreamSuspended(pa_stream* s, void* self) {
        if (!pa_stream_is_suspended(s)) static_cast<Impl*>(self)->RequestResync();
    }

    // After a move, a source waking up or a start on a silent source, the file is checked
    // against the clock at each fresh timing report for a while.
    void RequestResync() {
        if (!timeline) return;
        timeline->Resync(Clock::now());
        if (!stream) return;
        if (pa_operation* op = pa_stream_update_timing_info(stream, nullptr, nullptr)) pa_operation_unref(op);
    }

    static void StreamTiming(pa_stream*, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->timeline) impl->timeline->TimingReported(Clock::now());
    }

    // The stream's latency: what was captured but has not been read yet, plus the source's own
    // (the one at the server's last answer, interpolated since).
    std::optional<Micros> Latency() const {
        pa_usec_t latency = 0;
        int negative = 0;
        if (!stream || pa_stream_get_latency(stream, &latency, &negative) < 0) return std::nullopt;
        return Micros(negative ? 0 : latency);
    }

    static void StreamRead(pa_stream* s, size_t, void* self) {
        auto* impl = static_cast<Impl*>(self);
        CaptureTimeline& timeline = *impl->timeline;
        const void* data;
        size_t bytes;
        // A write that failed on the writer's thread ends the capture here.
        if (const std::uint32_t code = impl->writer.Fault(); code != 0 && impl->fault == 0) impl->Fail(code);
        while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
            const bool first = !timeline.Delivering();
            const auto f = timeline.Arrived(bytes, Clock::now(), impl->writer.Bytes(),
                                            timeline.WantsLatency() ? impl->Latency() : std::nullopt);
            if (first) impl->connection.Signal();
            if (f.silence) impl->Keep(nullptr, f.silence);
            // Without data the server tells of a hole in the stream.
            const bool kept = f.keep && impl->fault == 0;
            if (kept)
                impl->Keep(impl->offOutput || !data ? nullptr : static_cast<const char*>(data) + f.skip, f.keep);
            impl->Pass(bytes - (kept ? f.keep : 0));
            if (f.stopped) impl->connection.Signal();
            pa_stream_drop(s);
        }
    }

    // Appends samples, or without data a hole of silence.
    void Keep(const void* data, std::uint64_t bytes) {
        if (!others.empty()) {
            mix->Mix(data, bytes, mixed, Clock::now());
            return writer.Append(mixed.data(), bytes);
        }
        if (data) return writer.Append(data, bytes);
        writer.AppendSilence(bytes);
    }

    // The first source delivered what the recording does not keep: the others pass as much by.
    void Pass(std::uint64_t bytes) {
        if (!others.empty()) mix->Pass(bytes, Clock::now());
    }

    // Ends the recording; the connection stays for the next one.
    void Release() {
        if (connection.Exists()) {
            PulseConnection::Lock lock(connection);
            live = false;
            if (timeline) timeline->Abandon();
            DropStream();
            if (absenceTicker) connection.Api()->time_free(absenceTicker);
            absenceTicker = nullptr;
            program.Forget();
            others.clear();
            mix.reset();
            // Between recordings the default output's changes only update what is known of it.
            source = {};
        }
        writer.Drain();
        file.Close();
    }
};

PulseCapture::PulseCapture() : impl_(std::make_unique<Impl>()) {
    // Record then opens only its stream; a server that is not there yet is tried again then.
    impl_->connection.BeginConnect();
}

PulseCapture::~PulseCapture() {
    impl_->Release();
    impl_->connection.Disconnect();
}

std::uint32_t PulseCapture::Open(const CaptureOpenRequest& request, std::uint16_t& deviceId) {
    Impl& d = *impl_;
    d.Release();
    d.fault = 0;
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
    d.writer.Restart(format.BytesPerSecond());
    const CaptureSources chosen = ChosenCaptureSources();
    const CaptureSource source = FirstOf(chosen);

    if (const std::uint32_t code = d.connection.Connect()) {
        d.Release();
        return code;
    }
    std::uint32_t code = kCaptureOk;
    {
        PulseConnection::Lock lock(d.connection);
        d.timeline.emplace(format.BytesPerSecond(), format.BlockAlign());
        // The loop's thread reads it when the default output changes.
        d.source = source;
        d.ownWords.clear();
        d.mix.emplace(format);
        // The others start now, so that they have buffered by the time Record is pressed.
        d.MixOthers(chosen);
        const char* device = nullptr;
        const bool program = d.source.kind == CaptureSource::Kind::Program;
        if (program) {
            // A program that plays nothing now is recorded as silence until it plays.
            d.opening = true;
            d.Describe(d.source.name);
            d.LookForProgram();
            d.connection.WaitFor(
                [&d] {
                    return d.stream ? pa_stream_get_state(d.stream) != PA_STREAM_CREATING : !d.program.Looking();
                },
                PulseConnection::kConnectTimeout);
            d.opening = false;
        } else if (d.source.kind == CaptureSource::Kind::Named) {
            device = d.source.name.c_str();
        } else if (d.source.kind == CaptureSource::Kind::DefaultOutputMonitor) {
            d.followedMonitor.clear();
            if (d.follower.Known()) {
                d.UseDefaultOutput();
            } else {
                d.follower.LookUp();
                if (!d.connection.WaitFor([&d] { return !d.followedMonitor.empty() || d.follower.Failed(); },
                                          PulseConnection::kCommandTimeout))
                    code = kCaptureServerTimeout;
                else if (d.followedMonitor.empty())
                    code = kCaptureNoSuchSource;
            }
            device = d.followedMonitor.c_str();
        }
        if (code == kCaptureOk && !program && !d.CreateStream(device)) code = kCaptureStreamRefused;
        if (code == kCaptureOk && d.fault != 0) code = d.fault;
        if (code == kCaptureOk && d.stream) {
            const bool ready = d.connection.WaitFor(
                [&d] { return pa_stream_get_state(d.stream) != PA_STREAM_CREATING; }, PulseConnection::kConnectTimeout);
            if (!ready) {
                code = kCaptureServerTimeout;
            } else if (pa_stream_get_state(d.stream) != PA_STREAM_READY) {
                d.connection.Trace("opening the recording stream");
                code = pa_context_errno(d.connection.Context()) == PA_ERR_NOENTITY ? kCaptureNoSuchSource
                                                                                  : kCaptureStreamRefused;
            }
        }
        // A source may deliver its first data long after the stream is ready; waiting for it
        // here lets a recording start on a flowing stream instead of on a hole.
        if (code == kCaptureOk && d.stream)
            d.connection.WaitFor(
                [&d] { return d.timeline->Delivering() || !PA_STREAM_IS_GOOD(pa_stream_get_state(d.stream)); },
                kFirstDataTimeout);
        if (code == kCaptureOk && !d.connection.Good()) code = kCaptureServerLost;
        // A stream that failed while the open waited for its first data recorded nothing.
        if (code == kCaptureOk && d.stream && pa_stream_get_state(d.stream) != PA_STREAM_READY)
            code = kCaptureSourceGone;
        d.offOutput = false;
        d.live = code == kCaptureOk;
        if (d.live)
            d.absenceTicker = pa_context_rttime_new(d.connection.Context(), pa_rtclock_now() + kAbsenceTick,
                                                    Impl::AbsenceTick, &d);
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
    if (!d.connection.Exists()) return kCaptureNotOpen;
    PulseConnection::Lock lock(d.connection);
    // The connection outlives the device's open.
    if (!d.live) return kCaptureNotOpen;
    if (d.fault != 0) return d.fault;
    if (d.timeline->Capturing()) return kCaptureOk;
    // From here on every failure is the recording's fault, told like one that comes later.
    if (!d.file.Begun()) {
        if (const std::uint32_t code = d.file.Begin()) {
            d.Fail(code);
            return code;
        }
    }
    // Without a stream only while the default output's monitor is recorded and no output is
    // left, a program that plays nothing, or a source gone from a mix.
    if (!d.connection.Good() || (d.stream ? !PA_STREAM_IS_GOOD(pa_stream_get_state(d.stream))
                                          : d.source.kind != CaptureSource::Kind::DefaultOutputMonitor &&
                                                d.source.kind != CaptureSource::Kind::Program && d.others.empty())) {
        d.Fail(kCaptureServerLost);
        return kCaptureServerLost;
    }
    const auto pressed = Clock::now();
    // What a flowing stream delivers next was captured up to its latency before the press: a
    // resume drops it, as a stop keeps what is still on its way.
    std::optional<Micros> latency;
    if (d.timeline->Delivering() && d.stream && pa_stream_get_state(d.stream) == PA_STREAM_READY) {
        d.connection.Complete(pa_stream_update_timing_info(d.stream, nullptr, nullptr), kResumeTimingTimeout);
        latency = d.Latency();
    }
    d.timeline->Start(pressed, Clock::now(), d.writer.Bytes(), latency);
    // Only a source that has not delivered yet is checked against the clock.
    if (!d.timeline->Delivering()) d.RequestResync();
    return kCaptureOk;
}

std::uint32_t PulseCapture::Stop() {
    Impl& d = *impl_;
    if (!d.connection.Exists()) return kCaptureNotOpen;
    std::uint32_t code = kCaptureOk;
    {
        PulseConnection::Lock lock(d.connection);
        // The connection outlives the device's open.
        if (!d.live) return kCaptureNotOpen;
        // A fault that ended the capture is this command's result: the recording stopped there.
        if (!d.timeline->Capturing()) return d.fault;
        // Everything up to the press is either read already or still on its way: wait for it.
        // The latency comes fresh from the server: interpolated, it goes stale while a source
        // delivers in bursts. A server that does not answer gets no further requests.
        const auto pressed = Clock::now();
        const bool answers = d.stream && pa_stream_get_state(d.stream) == PA_STREAM_READY &&
                             d.connection.Complete(pa_stream_update_timing_info(d.stream, nullptr, nullptr),
                                                   kDrainMargin);
        if (const auto latency = answers ? d.Latency() : std::nullopt) {
            const auto plan = d.timeline->Stop(pressed, Clock::now(), d.writer.Bytes(), *latency);
            if (plan.silence) d.Keep(nullptr, plan.silence);
            d.connection.WaitFor([&d] { return !d.timeline->Capturing(); },
                                 plan.onItsWay + std::chrono::milliseconds(kRecordFragmentMs) + kDrainMargin);
        }
        // What never came up to the press is silence; what comes from now on is dropped.
        if (const std::uint64_t silence = d.timeline->EndStop(pressed, d.writer.Bytes(), d.stream != nullptr))
            d.Keep(nullptr, silence);
        if (!answers && d.stream && d.connection.Good()) code = kCaptureServerTimeout;
    }
    // The disk is waited for without the lock, so that the server's thread goes on meanwhile.
    d.writer.Drain();
    std::uint32_t none = 0;
    d.fault.compare_exchange_strong(none, d.writer.Fault());
    return d.fault != 0 ? std::uint32_t(d.fault) : code;
}

std::uint32_t PulseCapture::Save(const std::string& path) {
    Impl& d = *impl_;
    if (!d.connection.Exists()) return kCaptureNotOpen;
    PulseConnection::Lock lock(d.connection);
    // The connection outlives the device's open.
    if (!d.live) return kCaptureNotOpen;
    // After a Stop there is nothing left to write.
    d.writer.Drain();
    return d.file.SaveTo(path);
}

std::uint32_t PulseCapture::Close() {
    // A close during a recording keeps everything up to it, as a stop would; Stop looks under
    // the loop's lock whether one is under way.
    if (impl_->connection.Exists()) Stop();
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
    const std::uint32_t fault = d.fault != 0 ? std::uint32_t(d.fault) : d.writer.Fault();
    return {fault, std::chrono::milliseconds(d.writer.Written() * 1000 / d.bytesPerSecond)};
}

}  // namespace larkspur
