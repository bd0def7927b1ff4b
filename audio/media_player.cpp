#include "audio/media_player.h"

#include "audio/pulse_capture.h"

#include <utility>

namespace larkspur {

const char* DeviceTypeString(TMPDeviceTypes type) {
    static const char* const names[] = {
        "", "AVIVideo", "CDAudio", "DAT", "DigitalVideo", "MMMovie", "Other",
        "Overlay", "Scanner", "Sequencer", "VCR", "Videodisc", "WaveAudio",
    };
    return names[type];
}

TMediaPlayer::TMediaPlayer() : TMediaPlayer(std::make_shared<PulseCapture>()) {}

TMediaPlayer::TMediaPlayer(std::shared_ptr<CaptureDevice> device) : device_(std::move(device)) {}

TMediaPlayer::~TMediaPlayer() {
    if (deviceId_ != 0) device_->Close();
}

void TMediaPlayer::Open() {
    if (isOpen_) Close();
    CaptureOpenRequest request;
    request.deviceType = DeviceTypeString(deviceType_);
    // With an explicit type the element is not flagged, so the device opens without the file.
    if (deviceType_ == dtAutoSelect) request.element = fileName_;
    request.tap = tap_;
    commandFlags_ = kMciWait | (deviceType_ == dtAutoSelect ? kMciOpenElement : kMciOpenType);
    std::uint16_t id = 0;
    lastError_ = device_->Open(request, id);
    if (lastError_ != 0)
        throw EMCIDeviceError(device_->ErrorText(lastError_).value_or("Unknown error code"));
    isOpen_ = true;
    deviceId_ = id;
    notifyPending_ = false;
}

void TMediaPlayer::CheckOpen() const {
    if (!isOpen_) throw EMCIDeviceError("No MCI device open");
}

void TMediaPlayer::EndPendingNotify(TMPNotifyValues value) {
    if (!notifyPending_) return;
    notifyPending_ = false;
    notifyValue_ = device_->Report().fault != 0 ? nvFailure : value;
}

void TMediaPlayer::Record() {
    CheckOpen();
    commandFlags_ = kMciNotify;
    EndPendingNotify(nvSuperseded);
    lastError_ = device_->Start();
    notifyPending_ = lastError_ == 0;
}

void TMediaPlayer::Stop() {
    CheckOpen();
    commandFlags_ = kMciWait;
    lastError_ = device_->Stop();
    EndPendingNotify(nvAborted);
}

void TMediaPlayer::Save() {
    CheckOpen();
    if (fileName_.empty()) return;
    commandFlags_ = kMciWait | kMciSaveFile;
    lastError_ = device_->Save(fileName_);
}

void TMediaPlayer::Close() {
    if (deviceId_ == 0) return;
    commandFlags_ = kMciWait;
    lastError_ = device_->Close();
    EndPendingNotify(nvAborted);
    if (lastError_ != 0) return;
    isOpen_ = false;
    deviceId_ = 0;
}

TMPNotifyValues TMediaPlayer::NotifyValue() const {
    if (notifyPending_ && device_->Report().fault != 0) return nvFailure;
    return notifyValue_;
}

std::optional<RecordingFault> TMediaPlayer::Fault() const {
    const CaptureReport report = device_->Report();
    if (report.fault == 0) return std::nullopt;
    return RecordingFault{report.fault,
                          device_->ErrorText(report.fault).value_or("Unknown error code"),
                          report.kept};
}

}  // namespace larkspur
