#include "audio/source_mix.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace larkspur {
namespace {

using Seconds = std::chrono::duration<double>;

// A second-order loop on the buffered time, critically damped with a time constant of ten
// seconds: a source's steady drift is learnt by the integral without a lasting error, and the
// jitter of the fragments' arrival is averaged away over a second before it is steered on.
constexpr double kLoopRate = 0.1;                   // rad/s
constexpr double kProportional = 2 * kLoopRate;     // per second of error
constexpr double kIntegral = kLoopRate * kLoopRate; // per second of error, per second
// An error this large is a stall or a burst, not drift: steered on, it is not learnt.
constexpr double kTransient = 0.2;
// A source that has not delivered for this long is not counted as running ahead by more.
constexpr Seconds kLateDelivery{1.0};
// Band-limited, and changes its ratio smoothly across a block.
constexpr int kConverter = SRC_SINC_FASTEST;

// Samples of 8 bits (unsigned) or 16 (signed, little-endian) as -1..1.
void ToFloat(const void* data, std::size_t samples, bool eight, float* out) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    if (eight)
        for (std::size_t i = 0; i < samples; ++i) out[i] = float(int(in[i]) - 128) / 128.0f;
    else
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = float(std::int16_t(std::uint16_t(in[2 * i] | in[2 * i + 1] << 8))) / 32768.0f;
}

}  // namespace

struct MixInput::Resampler {
    SRC_STATE* state = nullptr;
    ~Resampler() {
        if (state) src_delete(state);
    }
};

MixInput::MixInput(std::uint32_t sampleRate, std::uint16_t channels)
    : rate_(sampleRate), channels_(channels), resampler_(std::make_unique<Resampler>()) {
    int error = 0;
    resampler_->state = src_new(kConverter, channels, &error);
    if (!resampler_->state) throw std::runtime_error(src_strerror(error));
}

MixInput::~MixInput() = default;

void MixInput::Deliver(const float* samples, std::size_t frames, Clock::time_point now) {
    // A longer wait than could be buffered for is a source that slept, not one that bursts.
    if (const auto wait = now - lastDelivery_; delivering_ && wait * 3 < kMostBuffered * 2)
        longestWait_ = std::max<Clock::duration>(longestWait_, wait);
    delivering_ = true;
    lastDelivery_ = now;
    Resample(samples, frames);
    const std::size_t buffered = (buffer_.size() - head_) / channels_;
    if (buffered <= Target() + rate_ * kCeiling.count() / 1000) return;
    // The recording's own source stalled or the source burst: play on from the usual offset.
    ++overruns_;
    head_ += (buffered - Target()) * channels_;
}

std::size_t MixInput::Target() const {
    // A source that delivers in bursts is buffered for its longest wait and half as much again.
    const Seconds wait = std::chrono::duration_cast<Seconds>(longestWait_) * 1.5;
    const double target = std::clamp(wait.count(), Seconds(kBuffered).count(), Seconds(kMostBuffered).count());
    return std::size_t(target * rate_);
}

void MixInput::Resample(const float* samples, std::size_t frames) {
    if (head_ > 0 && head_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(head_));
        head_ = 0;
    }
    while (frames > 0) {
        const std::size_t room = std::size_t(double(frames) / Ratio()) + 64;
        const std::size_t at = buffer_.size();
        buffer_.resize(at + room * channels_);
        SRC_DATA data{};
        data.data_in = samples;
        data.data_out = buffer_.data() + at;
        data.input_frames = long(frames);
        data.output_frames = long(room);
        data.src_ratio = 1 / Ratio();
        if (src_process(resampler_->state, &data) != 0) data.input_frames_used = long(frames);
        buffer_.resize(at + std::size_t(data.output_frames_gen) * channels_);
        samples += std::size_t(data.input_frames_used) * channels_;
        frames -= std::size_t(data.input_frames_used);
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
    }
}

void MixInput::Take(float* mix, std::size_t frames, Clock::time_point now) {
    std::size_t buffered = (buffer_.size() - head_) / channels_;
    const std::size_t target = Target();
    if (!playing_) {
        // Silent until enough is buffered to play on without running empty; what came before
        // the recording's own source asked for it is too old to play.
        if (buffered < target) return;
        head_ += (buffered - target) * channels_;
        buffered = target;
        playing_ = true;
    }
    const std::size_t taken = std::min(frames, buffered);
    if (mix)
        for (std::size_t i = 0; i < taken * channels_; ++i) mix[i] += buffer_[head_ + i];
    head_ += taken * channels_;
    if (taken < frames) {
        // Ran empty: the source slept or went. It plays again once it has delivered enough.
        ++underruns_;
        Rebase();
        return;
    }
    // What the source has captured and not mixed yet: its buffer, and what it captured since it
    // last delivered.
    const Seconds late = std::min<Seconds>(now - lastDelivery_, kLateDelivery);
    sum_ += double(buffered - taken) / rate_ + std::max(0.0, late.count());
    ++measured_;
    takenThisPeriod_ += taken;
    if (takenThisPeriod_ < rate_) return;
    Steer(sum_ / double(measured_));
    sum_ = 0;
    measured_ = 0;
    takenThisPeriod_ = 0;
}

void MixInput::Steer(double buffered) {
    // The offset of the first second is the one to keep.
    if (!setpoint_) {
        setpoint_ = buffered;
        return;
    }
    const double error = buffered - *setpoint_;
    const double period = double(takenThisPeriod_) / rate_;
    if (std::abs(error) < kTransient)
        integral_ = std::clamp(integral_ + kIntegral * error * period, -kMaxCorrection, kMaxCorrection);
    const double correction = std::clamp(integral_ + kProportional * error, -kMaxCorrection, kMaxCorrection);
    correction_ = correction;
}

void MixInput::Rebase() {
    playing_ = false;
    sum_ = 0;
    measured_ = 0;
    takenThisPeriod_ = 0;
    setpoint_.reset();
}

void MixInput::Restart() {
    buffer_.clear();
    head_ = 0;
    delivering_ = false;
    Rebase();
    // The source's drift is its clock's and stays learnt; the resampler's history is of the past.
    src_reset(resampler_->state);
}

MixInput& SourceMix::Input(const std::string& key) {
    auto& input = inputs_[key];
    if (!input) input = std::make_unique<MixInput>(format_.sampleRate, format_.channels);
    return *input;
}

void SourceMix::Deliver(const std::string& key, const void* data, std::size_t bytes, MixInput::Clock::time_point now) {
    const auto found = inputs_.find(key);
    if (found == inputs_.end()) return;
    const std::size_t samples = bytes / (format_.bitsPerSample / 8);
    scratch_.resize(samples);
    ToFloat(data, samples, format_.bitsPerSample == 8, scratch_.data());
    found->second->Deliver(scratch_.data(), samples / format_.channels, now);
}

void SourceMix::Mix(const void* data, std::size_t bytes, std::vector<std::uint8_t>& out, MixInput::Clock::time_point now) {
    const bool eight = format_.bitsPerSample == 8;
    const std::size_t samples = bytes / (eight ? 1 : 2);
    scratch_.assign(samples, 0.0f);
    if (data) ToFloat(data, samples, eight, scratch_.data());
    for (auto& [key, input] : inputs_) input->Take(scratch_.data(), samples / format_.channels, now);
    out.resize(bytes);
    // The recording's own samples come back unchanged where nothing was added to them.
    for (std::size_t i = 0; i < samples; ++i) {
        if (eight) {
            out[i] = std::uint8_t(std::clamp(std::lround(scratch_[i] * 128.0f) + 128, 0L, 255L));
        } else {
            const auto v = std::uint16_t(std::int16_t(std::clamp(std::lround(scratch_[i] * 32768.0f), -32768L, 32767L)));
            out[2 * i] = std::uint8_t(v & 0xff);
            out[2 * i + 1] = std::uint8_t(v >> 8);
        }
    }
}

void SourceMix::Pass(std::size_t bytes, MixInput::Clock::time_point now) {
    for (auto& [key, input] : inputs_) input->Take(nullptr, bytes / format_.BlockAlign(), now);
}

}  // namespace larkspur
