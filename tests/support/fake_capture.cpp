#include "tests/support/fake_capture.h"

#include <cmath>
#include <numbers>
#include <strings.h>

namespace larkspur::test {

std::uint32_t FakeCapture::Failure(const std::string& command) {
    const auto it = failNext_.find(command);
    if (it == failNext_.end()) return 0;
    const std::uint32_t code = it->second;
    failNext_.erase(it);
    return code;
}

void FakeCapture::FailNext(const std::string& command, std::uint32_t code) {
    failNext_[command] = code;
}

std::uint32_t FakeCapture::Open(const CaptureOpenRequest& request, std::uint16_t& deviceId) {
    commands_.push_back("open " + request.deviceType + "|" +
                        request.element.value_or("-no element-"));
    if (const std::uint32_t code = Failure("open")) return code;
    file_.Close();
    open_ = capturing_ = false;
    frames_ = 0;
    keptBytes_ = 0;
    fault_ = 0;
    std::uint32_t code = kCaptureOk;
    WaveFormat format = kDefaultWaveFormat;
    if (request.element) {
        code = ReadWaveFormat(*request.element, format);
        if (code == kCaptureOk) code = file_.OpenElement(*request.element, format);
    } else if (strcasecmp(request.deviceType.c_str(), "WaveAudio") == 0) {
        code = file_.OpenAnonymous(format);
    } else {
        code = kCaptureUnknownDeviceType;
    }
    if (code != kCaptureOk) return code;
    file_.SetTap(request.tap);
    open_ = true;
    deviceId = nextId_++;
    return kCaptureOk;
}

std::uint32_t FakeCapture::Start() {
    commands_.push_back("start");
    if (const std::uint32_t code = Failure("start")) return code;
    if (!open_) return kCaptureNotOpen;
    if (fault_ != 0) return fault_;
    if (!file_.Begun()) {
        if (const std::uint32_t code = file_.Begin()) return code;
    }
    capturing_ = true;
    return kCaptureOk;
}

std::uint32_t FakeCapture::Stop() {
    commands_.push_back("stop");
    if (const std::uint32_t code = Failure("stop")) return code;
    if (!open_) return kCaptureNotOpen;
    capturing_ = false;
    return fault_;
}

std::uint32_t FakeCapture::Save(const std::string& path) {
    commands_.push_back("save " + path);
    if (const std::uint32_t code = Failure("save")) return code;
    if (!open_) return kCaptureNotOpen;
    return file_.SaveTo(path);
}

std::uint32_t FakeCapture::Close() {
    commands_.push_back("close");
    if (const std::uint32_t code = Failure("close")) return code;
    file_.Close();
    open_ = capturing_ = false;
    return kCaptureOk;
}

std::optional<std::string> FakeCapture::ErrorText(std::uint32_t code) const {
    return CaptureErrorText(code);
}

CaptureReport FakeCapture::Report() const { return {fault_, Captured()}; }

std::chrono::milliseconds FakeCapture::Captured() const {
    const std::uint32_t perSecond = file_.Format().BytesPerSecond();
    return std::chrono::milliseconds(keptBytes_ * 1000 / perSecond);
}

void FakeCapture::Advance(std::chrono::milliseconds time) {
    if (!capturing_) return;
    const WaveFormat& format = file_.Format();
    const std::uint64_t frames = std::uint64_t(time.count()) * format.sampleRate / 1000;
    std::vector<std::uint8_t> samples;
    samples.reserve(frames * format.BlockAlign());
    for (std::uint64_t i = 0; i < frames; ++i, ++frames_) {
        const double wave = silent_ ? 0 : 0.5 * std::sin(2 * std::numbers::pi * 1000.0 * double(frames_) /
                                           format.sampleRate);
        for (int c = 0; c < format.channels; ++c) {
            if (format.bitsPerSample == 8) {
                samples.push_back(std::uint8_t(std::lround(128 + 127 * wave)));
            } else {
                const auto v = std::int16_t(std::lround(32767 * wave));
                samples.push_back(std::uint8_t(v & 0xFF));
                samples.push_back(std::uint8_t((v >> 8) & 0xFF));
            }
        }
    }
    if (const std::uint32_t code = file_.Append(samples.data(), samples.size())) {
        InjectFault(code);
    }
    file_.SyncHeader();
    keptBytes_ = file_.DataBytes();
}

void FakeCapture::InjectFault(std::uint32_t code) {
    fault_ = code;
    capturing_ = false;
}

}  // namespace larkspur::test
