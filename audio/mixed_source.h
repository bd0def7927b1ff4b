#pragma once
#include "audio/program_follower.h"
#include "audio/pulse_connection.h"
#include "audio/source_mix.h"
#include "platform/capture_source.h"

#include <chrono>
#include <functional>
#include <string>

// One more source mixed into a recording where several are chosen: a stream of its own whose
// samples go to the mix, which resamples them to the recording's clock. A source that goes away
// is silence until it is back, while the others go on: an input is asked for again every
// second, a program is followed across its streams as the recording's own program is.
//
// Threads: everything here runs with the connection's loop locked.
namespace larkspur {

class MixedSource {
public:
    using Clock = std::chrono::steady_clock;

    // described runs when Words() changed.
    MixedSource(PulseConnection& connection, const WaveFormat& format, SourceMix& mix, CaptureSource source,
                std::function<void()> described);
    ~MixedSource();
    MixedSource(const MixedSource&) = delete;
    MixedSource& operator=(const MixedSource&) = delete;

    const CaptureSource& Source() const { return source_; }
    // The source in the server's words for a person.
    const std::string& Words() const { return words_; }

    void PlaybackChanged(pa_subscription_event_type_t type, std::uint32_t index);
    // Asks again for a source that went.
    void Tick(Clock::time_point now);

private:
    static void StreamState(pa_stream* s, void* self);
    static void StreamRead(pa_stream* s, size_t, void* self);
    void Open(const char* device, std::optional<std::uint32_t> monitorInput = std::nullopt);
    void Lost();
    void Describe(std::string words);

    PulseConnection& connection_;
    WaveFormat format_;
    SourceMix& mix_;
    CaptureSource source_;
    std::string key_;  // its input in the mix
    std::function<void()> described_;
    pa_stream* stream_ = nullptr;
    std::optional<std::uint32_t> programInput_;
    ProgramFollower program_;
    Clock::time_point retryAt_{};
    std::string words_;
    pa_operation* describing_ = nullptr;  // cancelled when the source goes first
};

}  // namespace larkspur
