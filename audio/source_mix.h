#pragma once
#include "audio/wave_file.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Several sources in one recording. The recording runs on one source's clock (the capture's
// stream, which the timeline keeps to the wall clock); every other source is resampled to it
// continuously. No two devices run at exactly the same rate, so each other source's resampling
// ratio is steered from how much of it is buffered: a buffer that grows means the source runs
// fast, one that shrinks that it runs slow. Nothing is dropped or repeated while the buffer stays
// between empty and its ceiling, and the offset between the sources stays what it was at the
// start. No sound server in here: the capture hands over what arrives, with the moment it arrived.
//
// Not thread-safe: the capture calls it under its loop's lock.
namespace larkspur {

class MixInput {
public:
    using Clock = std::chrono::steady_clock;

    // What is kept buffered: enough to ride out the fragments of two streams arriving out of
    // phase and a busy server's late cycle, or more for a source that delivers in bursts (a
    // pipe on PipeWire waits up to 200 ms): half as much again as the longest wait between its
    // deliveries. The source is heard this much later than the one whose clock the recording
    // runs on.
    static constexpr std::chrono::milliseconds kBuffered{80};
    static constexpr std::chrono::milliseconds kMostBuffered{1000};
    // This much beyond that a source has run ahead (the recording's own source stalled): the
    // excess is dropped rather than played late.
    static constexpr std::chrono::milliseconds kCeiling{1500};
    // The steering never changes the rate by more than this: clocks differ by a few hundred
    // parts per million, and more would be heard as pitch.
    static constexpr double kMaxCorrection = 0.005;

    MixInput(std::uint32_t sampleRate, std::uint16_t channels);
    ~MixInput();
    MixInput(const MixInput&) = delete;
    MixInput& operator=(const MixInput&) = delete;

    // Frames as the source delivered them (interleaved, -1..1), arriving at `now`.
    void Deliver(const float* samples, std::size_t frames, Clock::time_point now);
    // Adds the next `frames` of the source to `mix`, or nothing where the source has no sound
    // (it has not delivered enough since it began or came back). Without `mix` they are passed by.
    void Take(float* mix, std::size_t frames, Clock::time_point now);
    // The source went: whatever it delivers next starts it anew, at a new offset.
    void Restart();

    // in/out: above 1 the source runs fast and is slowed down.
    double Ratio() const { return 1 + correction_; }
    // Times the buffer ran empty or over its ceiling since the input began.
    int Underruns() const { return underruns_; }
    int Overruns() const { return overruns_; }

private:
    void Steer(double buffered);
    // What is kept buffered, in frames.
    std::size_t Target() const;
    // Plays again once primed, at the offset it then has.
    void Rebase();
    void Resample(const float* samples, std::size_t frames);

    std::uint32_t rate_;
    std::uint16_t channels_;
    struct Resampler;
    std::unique_ptr<Resampler> resampler_;
    std::vector<float> buffer_;  // resampled, not yet mixed; from head_ on
    std::size_t head_ = 0;
    bool playing_ = false;       // primed: the buffer reached kBuffered since the last start
    Clock::time_point lastDelivery_{};
    bool delivering_ = false;            // since it began or came back
    Clock::duration longestWait_{};      // between two deliveries
    // The steering: the error's integral, and the measurements of the current second.
    std::optional<double> setpoint_;  // the buffered time to keep
    double correction_ = 0;
    double integral_ = 0;
    double sum_ = 0;
    std::size_t measured_ = 0;
    std::size_t takenThisPeriod_ = 0;
    int underruns_ = 0;
    int overruns_ = 0;
};

// The sources mixed into the recording's own, each under a key of the capture's choosing.
class SourceMix {
public:
    explicit SourceMix(const WaveFormat& format) : format_(format) {}

    MixInput& Input(const std::string& key);
    void Remove(const std::string& key) { inputs_.erase(key); }

    // Samples of the recording's format that a source delivered.
    void Deliver(const std::string& key, const void* data, std::size_t bytes, MixInput::Clock::time_point now);
    // `bytes` of the recording's own source (silence without data) with every other source added,
    // in the recording's format, into `out`.
    void Mix(const void* data, std::size_t bytes, std::vector<std::uint8_t>& out, MixInput::Clock::time_point now);
    // The recording's own source delivered `bytes` that the recording does not keep: the others
    // pass as many by, so that they stay in step.
    void Pass(std::size_t bytes, MixInput::Clock::time_point now);

private:
    WaveFormat format_;
    std::map<std::string, std::unique_ptr<MixInput>> inputs_;
    std::vector<float> scratch_;
};

}  // namespace larkspur
