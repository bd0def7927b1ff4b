// libFuzzer target: the recording device's reading of a template's format (the RIFF walk to the
// "fmt " chunk), on arbitrary bytes.
#include "audio/capture_device.h"
#include "audio/wave_file.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile file("~temp.wav");
    file.Write(data, size);
    larkspur::WaveFormat format;
    const std::uint32_t code = larkspur::ReadWaveFormat(file.Path(), format);
    // Accepted means a format the device records; anything else is one of the three refusals.
    if (code == larkspur::kCaptureOk && !larkspur::IsRecordableFormat(format)) std::abort();
    if (code != larkspur::kCaptureOk && code != larkspur::kCaptureNotWaveFile &&
        code != larkspur::kCaptureUnsupportedFormat && code != larkspur::kCaptureCannotReadFile)
        std::abort();
    return 0;
}
