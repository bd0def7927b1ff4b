#pragma once
#include "audio/capture_device.h"
#include "audio/wave_file.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A capture device for tests whose time is moved by the test. It keeps a log of the commands it
// received, streams a 1 kHz tone at half scale into the element file like the real device
// (header kept valid), and can be told to refuse a command or to fail mid-recording.
namespace larkspur::test {

class FakeCapture : public CaptureDevice {
public:
    // The commands received, in order: "open <type>|<element or -no element->", "start",
    // "stop", "save <path>", "close".
    const std::vector<std::string>& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }

    // Lets time pass: while capturing, that much audio is added to the recording.
    void Advance(std::chrono::milliseconds time);
    // From now on digital silence comes in instead of the tone.
    void DeliverSilence(bool silent) { silent_ = silent; }
    // The next command of this name ("open", "start", "stop", "save", "close") returns code.
    void FailNext(const std::string& command, std::uint32_t code);
    // A fault during the recording: capturing stops and Report tells it (code, audio kept).
    void InjectFault(std::uint32_t code);

    bool IsOpen() const { return open_; }
    bool Capturing() const { return capturing_; }
    std::chrono::milliseconds Captured() const;
    const WaveFormat& Format() const { return file_.Format(); }

    [[nodiscard]] std::uint32_t Open(const CaptureOpenRequest& request, std::uint16_t& deviceId) override;
    [[nodiscard]] std::uint32_t Start() override;
    [[nodiscard]] std::uint32_t Stop() override;
    [[nodiscard]] std::uint32_t Save(const std::string& path) override;
    [[nodiscard]] std::uint32_t Close() override;
    std::optional<std::string> ErrorText(std::uint32_t code) const override;
    CaptureReport Report() const override;

private:
    std::uint32_t Failure(const std::string& command);

    std::vector<std::string> commands_;
    std::map<std::string, std::uint32_t> failNext_;
    GrowingWaveFile file_;
    bool open_ = false;
    bool capturing_ = false;
    std::uint64_t frames_ = 0;  // frames captured since the open (the tone's phase)
    std::uint64_t keptBytes_ = 0;
    std::uint32_t fault_ = 0;
    std::uint16_t nextId_ = 1;
    bool silent_ = false;
};

}  // namespace larkspur::test
