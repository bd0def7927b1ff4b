#include "audio/mixed_source.h"

#include "audio/record_stream.h"

#include <vector>

namespace larkspur {
namespace {
constexpr auto kRetry = std::chrono::seconds(1);  // an input gone is asked for again this often
}

MixedSource::MixedSource(PulseConnection& connection, const WaveFormat& format, SourceMix& mix,
                         CaptureSource source, std::function<void()> described)
    : connection_(connection),
      format_(format),
      mix_(mix),
      source_(std::move(source)),
      key_(KeyOf(source_)),
      described_(std::move(described)),
      program_(connection, [this](const ProgramFollower::Playback& playback) {
          if (!stream_ && playback.program == source_.name) Open(playback.monitor.c_str(), playback.input);
      }) {
    mix_.Input(key_);
    switch (source_.kind) {
    case CaptureSource::Kind::Program:
        words_ = source_.name;
        program_.LookFor(source_.name);
        break;
    case CaptureSource::Kind::DefaultOutputMonitor:
        // Only the recording's own source follows the default output; here it is the one of now.
        words_ = "Stereo Mix";
        Open("@DEFAULT_MONITOR@");
        break;
    case CaptureSource::Kind::Named:
        Open(source_.name.c_str());
        break;
    case CaptureSource::Kind::ServerDefault:
        Open(nullptr);
        break;
    }
}

MixedSource::~MixedSource() {
    if (describing_) {
        pa_operation_cancel(describing_);
        pa_operation_unref(describing_);
    }
    ReleaseRecordStream(stream_);
    mix_.Remove(key_);
}

void MixedSource::Open(const char* device, std::optional<std::uint32_t> monitorInput) {
    stream_ = NewRecordStream(connection_.Context(), format_, monitorInput);
    if (!stream_) return;
    programInput_ = monitorInput;
    pa_stream_set_state_callback(stream_, StreamState, this);
    pa_stream_set_read_callback(stream_, StreamRead, this);
    // An input chosen stays put, as the recording's own does.
    if (!ConnectRecordStream(stream_, format_, device, source_.kind == CaptureSource::Kind::Named)) Lost();
}

void MixedSource::Lost() {
    ReleaseRecordStream(stream_);
    programInput_.reset();
    mix_.Input(key_).Restart();
    retryAt_ = Clock::now() + kRetry;
    if (source_.kind == CaptureSource::Kind::Program) program_.LookFor(source_.name);
}

void MixedSource::Tick(Clock::time_point now) {
    if (stream_ || source_.kind == CaptureSource::Kind::Program || now < retryAt_) return;
    retryAt_ = now + kRetry;
    Open(source_.kind == CaptureSource::Kind::Named ? source_.name.c_str() : nullptr);
}

void MixedSource::PlaybackChanged(pa_subscription_event_type_t type, std::uint32_t index) {
    if (source_.kind != CaptureSource::Kind::Program) return;
    // PipeWire keeps a monitor stream whose program went; it would deliver nothing from now on.
    if (type == PA_SUBSCRIPTION_EVENT_REMOVE && programInput_ == index) return Lost();
    if (!stream_) program_.LookFor(source_.name);
}

void MixedSource::StreamState(pa_stream* s, void* self) {
    auto* mixed = static_cast<MixedSource*>(self);
    switch (pa_stream_get_state(s)) {
    case PA_STREAM_FAILED:
        // Gone (an input unplugged, a program's stream ended) or never there: silence meanwhile.
        mixed->Lost();
        break;
    case PA_STREAM_READY:
        if (mixed->source_.kind == CaptureSource::Kind::Named) {
            if (mixed->describing_) pa_operation_unref(mixed->describing_);
            mixed->describing_ = pa_context_get_source_info_by_index(
                mixed->connection_.Context(), pa_stream_get_device_index(s),
                [](pa_context*, const pa_source_info* info, int, void* self) {
                    if (info && info->description) static_cast<MixedSource*>(self)->Describe(info->description);
                },
                mixed);
        }
        break;
    default:
        break;
    }
    mixed->connection_.Signal();
}

void MixedSource::Describe(std::string words) {
    words_ = std::move(words);
    described_();
}

void MixedSource::StreamRead(pa_stream* s, size_t, void* self) {
    auto* mixed = static_cast<MixedSource*>(self);
    const void* data;
    size_t bytes;
    std::vector<std::uint8_t> hole;
    while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
        // Without data the server tells of a hole in the stream.
        if (!data) hole.assign(bytes, mixed->format_.SilenceByte());
        mixed->mix_.Deliver(mixed->key_, data ? data : hole.data(), bytes, Clock::now());
        pa_stream_drop(s);
    }
}

}  // namespace larkspur
