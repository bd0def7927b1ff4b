#pragma once
#include "audio/capture_device.h"

#include <memory>

// The capture device on the PulseAudio client library (also served by PipeWire): one record
// stream on a threaded main loop, samples streamed into the element file as they arrive.
namespace larkspur {

class PulseCapture : public CaptureDevice {
public:
    PulseCapture();
    ~PulseCapture() override;

    [[nodiscard]] std::uint32_t Open(const CaptureOpenRequest& request, std::uint16_t& deviceId) override;
    [[nodiscard]] std::uint32_t Start() override;
    [[nodiscard]] std::uint32_t Stop() override;
    [[nodiscard]] std::uint32_t Save(const std::string& path) override;
    [[nodiscard]] std::uint32_t Close() override;
    std::optional<std::string> ErrorText(std::uint32_t code) const override;
    CaptureReport Report() const override;
    std::string SourceDescription() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace larkspur
