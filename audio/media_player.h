#pragma once
#include "audio/capture_device.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// TMediaPlayer as the recorder uses it: an invisible handle on the wave-audio recording device.
// Commands go to a CaptureDevice (the sound server by default; tests hand in a double).
namespace larkspur {

enum TMPDeviceTypes {
    dtAutoSelect, dtAVIVideo, dtCDAudio, dtDAT, dtDigitalVideo, dtMMMovie, dtOther, dtOverlay,
    dtScanner, dtSequencer, dtVCR, dtVideodisc, dtWaveAudio,
};

// The device-type string Open hands to the device ("" for dtAutoSelect).
const char* DeviceTypeString(TMPDeviceTypes type);

enum TMPNotifyValues { nvSuccessful, nvSuperseded, nvAborted, nvFailure };

// Flag bits of a command, as CommandFlags records them.
inline constexpr std::uint32_t kMciNotify = 0x00000001;
inline constexpr std::uint32_t kMciWait = 0x00000002;
inline constexpr std::uint32_t kMciOpenElement = 0x00000200;
inline constexpr std::uint32_t kMciOpenType = 0x00002000;
inline constexpr std::uint32_t kMciSaveFile = 0x00000100;

class EMCIDeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A fault of the device that cut a recording short, and how much audio was kept.
struct RecordingFault {
    std::uint32_t code = 0;
    std::string text;
    std::chrono::milliseconds kept{0};
};

class TMediaPlayer {
public:
    TMediaPlayer();  // records from the sound server
    explicit TMediaPlayer(std::shared_ptr<CaptureDevice> device);
    ~TMediaPlayer();  // closes a device that is still open, without saving
    TMediaPlayer(const TMediaPlayer&) = delete;
    TMediaPlayer& operator=(const TMediaPlayer&) = delete;

    TMPDeviceTypes DeviceType() const { return deviceType_; }
    void SetDeviceType(TMPDeviceTypes type) { deviceType_ = type; }
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }
    // Every sample the recordings of later opens keep is also handed to tap (none when null).
    void SetSampleTap(std::shared_ptr<SampleTap> tap) { tap_ = std::move(tap); }

    // Opens the device on FileName (dtAutoSelect) or, with an explicit type, without the file.
    // Raises EMCIDeviceError with the device's text when refused.
    void Open();
    // Starts or continues recording and returns at once.
    void Record();
    // Stops recording; returns when stopped.
    void Stop();
    // Writes the recording to FileName; nothing is sent when FileName is empty.
    void Save();
    // Closes the device; nothing is sent when DeviceId is 0. Never raises.
    void Close();

    bool IsOpen() const { return isOpen_; }
    std::uint16_t DeviceId() const { return deviceId_; }
    std::uint32_t LastError() const { return lastError_; }
    std::uint32_t CommandFlags() const { return commandFlags_; }
    TMPNotifyValues NotifyValue() const;

    // After a recording (also after Close, until the next Open): the fault that cut it short,
    // or nothing when it ran until stopped.
    std::optional<RecordingFault> Fault() const;
    // What the device records, in words; empty when it does not know.
    std::string SourceDescription() const { return device_->SourceDescription(); }

private:
    void CheckOpen() const;
    void EndPendingNotify(TMPNotifyValues value);

    std::shared_ptr<CaptureDevice> device_;
    TMPDeviceTypes deviceType_ = dtAutoSelect;
    std::string fileName_;
    std::shared_ptr<SampleTap> tap_;
    bool isOpen_ = false;
    std::uint16_t deviceId_ = 0;
    std::uint32_t lastError_ = 0;
    std::uint32_t commandFlags_ = 0;
    bool notifyPending_ = false;  // a Record waits for its notification
    TMPNotifyValues notifyValue_ = nvSuccessful;
};

}  // namespace larkspur
