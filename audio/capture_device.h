#pragma once
#include "audio/sample_tap.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The capture layer behind TMediaPlayer: the six operations the recorder needs of a wave-audio
// recording device, plus an account of how a recording ended. Every operation blocks except
// Start, and returns 0 or one of the codes below.
//
// How errors travel, from here up: below TMediaPlayer a failure is one of these codes, returned
// and never thrown (and the sound server's own words for it go to standard error with its number,
// PulseConnection::Trace); TMediaPlayer turns a code into the exception the window expects
// (EMCIDeviceError); every slot of a window runs through Guarded (platform/error_box.h), which
// shows it in the error box. A fault during a recording is kept in Report() for the finish.
namespace larkspur {

enum CaptureError : std::uint32_t {
    kCaptureOk = 0,
    kCaptureNoServer = 1,          // no sound server to connect to
    kCaptureServerTimeout,         // the server did not answer in time
    kCaptureServerLost,            // the connection to the server broke
    kCaptureSourceGone,            // the source being recorded went away
    kCaptureNoSuchSource,          // the chosen source does not exist (at open)
    kCaptureStreamRefused,         // the server refused the recording stream
    kCaptureUnknownDeviceType,     // an explicit device type other than wave audio
    kCaptureCannotReadFile,        // the element cannot be opened or read
    kCaptureNotWaveFile,           // the element is not a wave file with a format chunk
    kCaptureUnsupportedFormat,     // a wave format the device does not record
    kCaptureCannotWriteFile,       // the element cannot be opened for writing
    kCaptureDiskFull,              // writing the samples failed for lack of space
    kCaptureWriteFailed,           // writing the samples failed otherwise
    kCaptureFileTooLarge,          // the recording reached the size limit of a wave file
    kCaptureCannotSave,            // the save target cannot be written
    kCaptureNotOpen,               // a command to a device that is not open
};

// The text of a code, or nothing when the code is not one of ours.
std::optional<std::string> CaptureErrorText(std::uint32_t code);

struct CaptureOpenRequest {
    std::string deviceType;              // "" lets the element pick the device
    std::optional<std::string> element;  // the wave file to record into, when one is named
    std::shared_ptr<SampleTap> tap;      // also receives every sample the recording keeps
};

// How the recording since the open stands: whether a fault cut it short and how much audio
// the device holds.
struct CaptureReport {
    std::uint32_t fault = kCaptureOk;  // the fault that stopped the capture; 0 = none
    std::chrono::milliseconds kept{0};  // length of the audio held since the open
};

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    // Opens the device. With an element the capture format comes from its wave header and the
    // samples are streamed into that file after its header; without one the device records
    // PCM 11025 Hz 8-bit mono and writes no file until saved. deviceId receives a non-zero
    // identifier on success.
    [[nodiscard]] virtual std::uint32_t Open(const CaptureOpenRequest& request, std::uint16_t& deviceId) = 0;
    // Starts or continues capturing after what was captured since the open; returns at once.
    [[nodiscard]] virtual std::uint32_t Start() = 0;
    // Stops capturing and returns when stopped, keeping everything up to the moment of the call.
    // Returns the fault that ended the capture early, if one did.
    [[nodiscard]] virtual std::uint32_t Stop() = 0;
    // Writes everything captured since the open as a PCM wave file ("fmt " at offset 12, then
    // "data"). Saving to the element's own path finalises it in place.
    [[nodiscard]] virtual std::uint32_t Save(const std::string& path) = 0;
    // Stops and releases the device. An element file keeps what was captured, as a valid wave
    // file, whether saved or not.
    [[nodiscard]] virtual std::uint32_t Close() = 0;
    // The text of a code, or nothing for a code the device does not know.
    virtual std::optional<std::string> ErrorText(std::uint32_t code) const = 0;
    // The state of the recording since the last open; still answers after Close.
    virtual CaptureReport Report() const = 0;
    // What is being recorded, in the server's words for a person ("Stereo Mix: " and the
    // output's description where the default output is followed); empty when not known. May be
    // asked from another thread.
    virtual std::string SourceDescription() const { return {}; }
};

}  // namespace larkspur
