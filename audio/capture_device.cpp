#include "audio/capture_device.h"

namespace larkspur {

std::optional<std::string> CaptureErrorText(std::uint32_t code) {
    switch (code) {
    case kCaptureOk: return "The command completed";
    case kCaptureNoServer: return "No sound server is running, so there is nothing to record from";
    case kCaptureServerTimeout: return "The sound server did not answer in time";
    case kCaptureServerLost: return "The connection to the sound server was lost";
    case kCaptureSourceGone: return "The recording source went away";
    case kCaptureNoSuchSource: return "The chosen recording source is not available";
    case kCaptureStreamRefused: return "The sound server refused to record";
    case kCaptureUnknownDeviceType: return "This device type cannot record sound; only WaveAudio can";
    case kCaptureCannotReadFile: return "The wave file cannot be opened for reading";
    case kCaptureNotWaveFile: return "The file is not a wave file";
    case kCaptureUnsupportedFormat:
        return "The wave file's format cannot be recorded: it must be PCM with 1 or 2 channels, "
               "8 or 16 bits and 16000, 22050, 24000, 32000, 44100 or 48000 samples per second";
    case kCaptureCannotWriteFile: return "The wave file cannot be opened for writing";
    case kCaptureDiskFull: return "The disk is full: the recording could not be written further";
    case kCaptureWriteFailed: return "Writing the recording to disk failed";
    case kCaptureFileTooLarge: return "The recording reached the largest size a wave file can hold";
    case kCaptureCannotSave: return "The recording cannot be saved to that file";
    case kCaptureNotOpen: return "The device is not open";
    }
    return std::nullopt;
}

}  // namespace larkspur
