// The list of what can be recorded, on the PulseAudio client library (also served by PipeWire):
// a connection of its own that hears of every change of the server's outputs, inputs and
// playback streams and reads them all anew, and one peak-detecting stream per row for its level.
#include "platform/pulse_program.h"
#include "platform/sound_sources.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>

namespace larkspur {
namespace {

constexpr std::uint32_t kLevelRate = 25;  // peaks a second: what a meter needs, next to no CPU

// Where a row's level is measured: a source, or one playback stream on its output's monitor.
struct Target {
    std::string device;
    std::optional<std::uint32_t> playback;
    friend bool operator==(const Target&, const Target&) = default;
};

struct Row {
    SoundSource shown;
    std::string key;
    Target target;
};

// What one reading of the server learns.
struct Reading {
    std::string defaultSink;
    struct Sink {
        std::string name, monitor;
    };
    std::map<std::uint32_t, Sink> sinks;  // by index
    struct Input {
        std::string name, description;
    };
    std::vector<Input> inputs;
    struct Playback {
        PlayingProgram program;
        std::uint32_t index = 0, sink = 0;
    };
    std::vector<Playback> playbacks;
};

class PulseSoundSources final : public SoundSources {
public:
    PulseSoundSources() {
        rows_ = {StereoMix({})};
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return;
        pa_threaded_mainloop_set_name(loop_, "larkspur-sources");
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Larkspur");
        if (!context_) return;
        pa_context_set_state_callback(context_, ContextState, this);
        // Without a server the list stays as it is: the window still shows "Stereo Mix".
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
        pa_threaded_mainloop_start(loop_);
    }

    ~PulseSoundSources() override {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        for (auto& [key, peak] : peaks_) Drop(*peak);
        peaks_.clear();
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    std::vector<SoundSource> Now() const override {
        const std::lock_guard lock(mutex_);
        std::vector<SoundSource> now;
        for (const Row& row : rows_) {
            now.push_back(row.shown);
            const auto level = levels_.find(row.key);
            now.back().level = level != levels_.end() ? level->second : 0;
        }
        return now;
    }

private:
    struct Peak {
        PulseSoundSources* owner;
        std::string key;
        Target target;
        pa_stream* stream = nullptr;
    };

    static Row StereoMix(const std::string& monitor) {
        return {{{CaptureSource::Kind::DefaultOutputMonitor, {}}, "Stereo Mix", {}, 0}, "mix", {monitor, {}}};
    }

    static void ContextState(pa_context* c, void* data) {
        auto* self = static_cast<PulseSoundSources*>(data);
        if (pa_context_get_state(c) != PA_CONTEXT_READY) return;
        pa_context_set_subscribe_callback(
            c, [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) { static_cast<PulseSoundSources*>(self)->Read(); },
            self);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK |
                                                 PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT);
        if (pa_operation* op = pa_context_subscribe(c, mask, nullptr, nullptr)) pa_operation_unref(op);
        self->Read();
    }

    // Reads everything anew; a change heard of while a reading runs starts another after it.
    void Read() {
        if (pending_ > 0) {
            readAgain_ = true;
            return;
        }
        readAgain_ = false;
        reading_ = {};
        pending_ = 4;
        Run(pa_context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* self = static_cast<PulseSoundSources*>(data);
                if (info && info->default_sink_name) self->reading_.defaultSink = info->default_sink_name;
                self->Answered();
            },
            this));
        Run(pa_context_get_sink_info_list(
            context_,
            [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                auto* self = static_cast<PulseSoundSources*>(data);
                if (eol) return self->Answered();
                if (info->name && info->monitor_source_name)
                    self->reading_.sinks[info->index] = {info->name, info->monitor_source_name};
            },
            this));
        Run(pa_context_get_source_info_list(
            context_,
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* self = static_cast<PulseSoundSources*>(data);
                if (eol) return self->Answered();
                self->reading_.inputs.push_back(
                    {info->name ? info->name : "", info->description ? info->description : info->name});
            },
            this));
        Run(pa_context_get_sink_input_info_list(
            context_,
            [](pa_context*, const pa_sink_input_info* info, int eol, void* data) {
                auto* self = static_cast<PulseSoundSources*>(data);
                if (eol) return self->Answered();
                self->reading_.playbacks.push_back({ProgramOf(info->proplist), info->index, info->sink});
            },
            this));
    }

    void Run(pa_operation* op) {
        if (op) return pa_operation_unref(op);
        Answered();
    }

    void Answered() {
        if (--pending_ > 0) return;
        Publish();
        if (readAgain_) Read();
    }

    // The server's answers, all in: the rows in order, and a level stream for each.
    void Publish() {
        std::string defaultMonitor;
        for (const auto& [index, sink] : reading_.sinks)
            if (sink.name == reading_.defaultSink) defaultMonitor = sink.monitor;
        std::vector<Row> rows{StereoMix(defaultMonitor)};
        for (const auto& input : reading_.inputs)
            if (input.name != defaultMonitor)
                rows.push_back({{{CaptureSource::Kind::Named, input.name}, input.description, {}, 0},
                                "input:" + input.name,
                                {input.name, {}}});
        for (const auto& playback : reading_.playbacks) {
            const std::string& name = playback.program.name;
            const std::string key = "program:" + name;
            const auto sink = reading_.sinks.find(playback.sink);
            if (name.empty() || sink == reading_.sinks.end() ||
                std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.key == key; }))
                continue;
            rows.push_back({{{CaptureSource::Kind::Program, name}, name, playback.program.icon, 0},
                            key,
                            {sink->second.monitor, playback.index}});
        }
        MeasureLevels(rows);
        const std::lock_guard lock(mutex_);
        rows_ = std::move(rows);
    }

    void MeasureLevels(const std::vector<Row>& rows) {
        for (auto it = peaks_.begin(); it != peaks_.end();) {
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.key == it->first; });
            if (row != rows.end() && row->target == it->second->target) {
                ++it;
                continue;
            }
            Drop(*it->second);
            it = peaks_.erase(it);
        }
        for (const Row& row : rows) {
            if (row.target.device.empty() || peaks_.contains(row.key)) continue;
            auto peak = std::make_unique<Peak>(Peak{this, row.key, row.target});
            if (Measure(*peak)) peaks_.emplace(row.key, std::move(peak));
        }
    }

    bool Measure(Peak& peak) {
        const pa_sample_spec levelFormat{PA_SAMPLE_FLOAT32NE, kLevelRate, 1};
        pa_proplist* properties = pa_proplist_new();
        // Mixers leave their own level streams out of their lists by this id.
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.larkspur.levels");
        peak.stream = pa_stream_new_with_proplist(context_, "Level", &levelFormat, nullptr, properties);
        pa_proplist_free(properties);
        if (!peak.stream) return false;
        if (peak.target.playback) pa_stream_set_monitor_stream(peak.stream, *peak.target.playback);
        pa_stream_set_read_callback(peak.stream, PeakRead, &peak);
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.fragsize = sizeof(float);
        const auto flags = pa_stream_flags_t(PA_STREAM_PEAK_DETECT | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(peak.stream, peak.target.device.c_str(), &attr, flags) == 0) return true;
        Drop(peak);
        return false;
    }

    static void PeakRead(pa_stream* s, size_t, void* data) {
        auto* peak = static_cast<Peak*>(data);
        const void* samples;
        size_t bytes;
        float level = 0;
        while (pa_stream_peek(s, &samples, &bytes) == 0 && bytes > 0) {
            if (samples)
                for (size_t i = 0; i < bytes / sizeof(float); ++i)
                    level = std::max(level, std::fabs(static_cast<const float*>(samples)[i]));
            pa_stream_drop(s);
        }
        const std::lock_guard lock(peak->owner->mutex_);
        peak->owner->levels_[peak->key] = std::min(1.0f, level);
    }

    void Drop(Peak& peak) {
        if (!peak.stream) return;
        pa_stream_set_read_callback(peak.stream, nullptr, nullptr);
        pa_stream_disconnect(peak.stream);
        pa_stream_unref(peak.stream);
        peak.stream = nullptr;
        const std::lock_guard lock(mutex_);
        levels_.erase(peak.key);
    }

    // The loop's thread only (callbacks), or with the loop locked.
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    int pending_ = 0;
    bool readAgain_ = false;
    Reading reading_;
    std::map<std::string, std::unique_ptr<Peak>> peaks_;

    // Any thread.
    mutable std::mutex mutex_;
    std::vector<Row> rows_;
    std::map<std::string, float> levels_;
};

}  // namespace

std::unique_ptr<SoundSources> WatchSoundSources() { return std::make_unique<PulseSoundSources>(); }

}  // namespace larkspur
