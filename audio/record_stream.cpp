#include "audio/record_stream.h"

namespace larkspur {
pa_stream* NewRecordStream(pa_context* context, const WaveFormat& format, std::optional<std::uint32_t> monitorInput) {
    pa_sample_spec sampleSpec{};
    sampleSpec.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleSpec.rate = format.sampleRate;
    sampleSpec.channels = std::uint8_t(format.channels);
    // PipeWire mixes stereo down to mono at +3 dB, clipping loud audio; normalised, it keeps
    // the level as PulseAudio does (which ignores the property).
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, "channelmix.normalize", "true");
    pa_stream* stream = pa_stream_new_with_proplist(context, "Recording", &sampleSpec, nullptr, properties);
    pa_proplist_free(properties);
    if (stream && monitorInput) pa_stream_set_monitor_stream(stream, *monitorInput);
    return stream;
}

bool ConnectRecordStream(pa_stream* stream, const WaveFormat& format, const char* device, bool stay) {
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = attr.prebuf = attr.minreq = std::uint32_t(-1);
    attr.fragsize = format.BytesPerSecond() * kRecordFragmentMs / 1000 / format.BlockAlign() * format.BlockAlign();
    // The stream runs from the open on and a stop only stops keeping what arrives: a corked
    // stream would deliver its first data late after every start and resume.
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                   PA_STREAM_INTERPOLATE_TIMING);
    if (stay) flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
    return pa_stream_connect_record(stream, device, &attr, flags) == 0;
}

void ReleaseRecordStream(pa_stream*& stream) {
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

}  // namespace larkspur
