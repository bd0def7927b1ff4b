#pragma once
#include "audio/mp3/lame_stream.h"

namespace larkspur {

// The converter's fixed encoder settings for a wave file's rate and channel count: MPEG-1
// Layer III at that rate, constant 192 kbit/s, mono for one channel and plain stereo otherwise,
// no CRC, the private, copyright and original bits clear.
inline BE_CONFIG ConverterConfig(std::uint32_t samplesPerSecond, std::uint16_t channels) {
    BE_CONFIG config;
    config.dwConfig = BE_CONFIG_MP3;
    config.format.mp3.dwSampleRate = samplesPerSecond;
    config.format.mp3.byMode = channels == 1 ? BE_MP3_MODE_MONO : BE_MP3_MODE_STEREO;
    config.format.mp3.wBitrate = 192;
    config.format.mp3.bPrivate = false;
    config.format.mp3.bCRC = false;
    config.format.mp3.bCopyright = false;
    config.format.mp3.bOriginal = false;
    return config;
}

}  // namespace larkspur
