// The system mixer on the PulseAudio client library. Open connects and takes a snapshot of the
// server's sources; the later calls work on that snapshot, so item positions stay stable between
// reading the names and writing the values.
#include "platform/capture_source.h"
#include "platform/mixer.h"

#include <algorithm>

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>

namespace larkspur {
namespace {

using Clock = std::chrono::steady_clock;
// A server that doesn't answer within this time counts as absent: start-up must not hang.
constexpr auto kTimeout = std::chrono::milliseconds(1500);
constexpr std::uint32_t kLineId = 0;
constexpr std::uint32_t kControlId = 0;
constexpr std::uint32_t kLineChannels = 2;

struct Source {
    std::string name;
    std::string description;
};

// What Open learns from the server.
struct Snapshot {
    std::string default_sink;
    std::string default_source;
    std::string monitor;  // the default output's monitor source
    std::vector<Source> sources;
    bool failed = false;
};

class PulseMixer final : public Mixer {
public:
    ~PulseMixer() override { Close(); }

    bool Open(unsigned device) override {
        if (device != 0 || loop_) return false;
        loop_ = pa_mainloop_new();
        context_ = loop_ ? pa_context_new(pa_mainloop_get_api(loop_), "Larkspur") : nullptr;
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            !Wait([&] {
                const pa_context_state_t state = pa_context_get_state(context_);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            }) ||
            pa_context_get_state(context_) != PA_CONTEXT_READY || !TakeSnapshot()) {
            Close();
            return false;
        }
        return true;
    }

    bool LineInfoByComponentType(std::uint32_t component_type, MixerLine& line) override {
        if (!context_ || component_type != mixer::kComponentTypeDstWaveIn) return false;
        line = {kLineId, kLineChannels, 1};
        return true;
    }

    bool LineControls(std::uint32_t line_id, std::uint32_t count,
                      std::vector<MixerControl>& controls) override {
        if (!context_ || line_id != kLineId || count != 1) return false;
        controls = {{kControlId, mixer::kControlTypeMux,
                     mixer::kControlFlagUniform | mixer::kControlFlagMultiple,
                     static_cast<std::uint32_t>(snapshot_.sources.size()), "Recording Source"}};
        return true;
    }

    bool ListTexts(const MixerDetails& details, std::vector<std::string>& names) override {
        if (!Fits(details)) return false;
        names.clear();
        for (std::uint32_t c = 0; c < details.channels; ++c)
            for (const Source& s : snapshot_.sources)
                names.push_back(s.name == snapshot_.monitor ? "Stereo Mix" : s.description);
        return true;
    }

    bool Values(const MixerDetails& details, std::vector<std::uint32_t>& values) override {
        if (!Fits(details)) return false;
        const CaptureSources chosen = ChosenCaptureSources();
        // A program chosen is none of the sources.
        std::vector<std::string> current;
        for (const CaptureSource& source : chosen)
            if (source.kind == CaptureSource::Kind::Named) current.push_back(source.name);
            else if (source.kind == CaptureSource::Kind::DefaultOutputMonitor) current.push_back(snapshot_.monitor);
        if (chosen.empty()) current.push_back(snapshot_.default_source);
        values.clear();
        for (std::uint32_t c = 0; c < details.channels; ++c)
            for (const Source& s : snapshot_.sources)
                values.push_back(std::find(current.begin(), current.end(), s.name) != current.end() ? 1 : 0);
        return true;
    }

    bool SetValues(const MixerDetails& details, const std::vector<std::uint32_t>& values) override {
        if (!Fits(details) || values.size() != std::size_t{details.channels} * details.items)
            return false;
        // Every item switched on in any channel is recorded, mixed; "Stereo Mix" first, as the
        // recording runs on the clock of the first.
        CaptureSources chosen;
        for (std::uint32_t i = 0; i < details.items; ++i) {
            for (std::uint32_t c = 0; c < details.channels; ++c) {
                if (values[c * details.items + i] == 0) continue;
                const std::string& name = snapshot_.sources[i].name;
                if (name == snapshot_.monitor)
                    chosen.insert(chosen.begin(), {CaptureSource::Kind::DefaultOutputMonitor, {}});
                else
                    chosen.push_back({CaptureSource::Kind::Named, name});
                break;
            }
        }
        SetChosenCaptureSources(chosen);
        return true;
    }

    void Close() override {
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_) {
            pa_mainloop_free(loop_);
            loop_ = nullptr;
        }
        snapshot_ = {};
    }

private:
    bool Fits(const MixerDetails& details) const {
        return context_ && details.control_id == kControlId && details.channels >= 1 &&
               details.channels <= kLineChannels && details.items == snapshot_.sources.size();
    }

    // Runs the main loop until done() holds; false when the time is up or the loop fails.
    bool Wait(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + kTimeout;
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0 || pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0)
                return false;
        }
        return true;
    }

    // Waits for an operation to finish; false when it failed or timed out.
    bool Await(pa_operation* op) {
        if (!op) return false;
        const bool finished = Wait([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        const bool done = finished && pa_operation_get_state(op) == PA_OPERATION_DONE;
        if (!finished) pa_operation_cancel(op);
        pa_operation_unref(op);
        return done && !snapshot_.failed;
    }

    bool TakeSnapshot() {
        snapshot_ = {};
        auto on_server = [](pa_context*, const pa_server_info* info, void* data) {
            auto* s = static_cast<Snapshot*>(data);
            if (!info) {
                s->failed = true;
                return;
            }
            s->default_sink = info->default_sink_name ? info->default_sink_name : "";
            s->default_source = info->default_source_name ? info->default_source_name : "";
        };
        if (!Await(pa_context_get_server_info(context_, on_server, &snapshot_))) return false;

        auto on_sink = [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            if (eol == 0 && info && info->monitor_source_name)
                static_cast<Snapshot*>(data)->monitor = info->monitor_source_name;
        };
        // Without a default output there is no "Stereo Mix"; that is no failure.
        if (!snapshot_.default_sink.empty() &&
            !Await(pa_context_get_sink_info_by_name(context_, snapshot_.default_sink.c_str(),
                                                    on_sink, &snapshot_)))
            return false;

        auto on_source = [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* s = static_cast<Snapshot*>(data);
            if (eol < 0) s->failed = true;
            if (eol == 0 && info)
                s->sources.push_back({info->name ? info->name : "",
                                      info->description ? info->description : ""});
        };
        return Await(pa_context_get_source_info_list(context_, on_source, &snapshot_));
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    Snapshot snapshot_;
};

}  // namespace

std::unique_ptr<Mixer> CreateSystemMixer() { return std::make_unique<PulseMixer>(); }

}  // namespace larkspur
