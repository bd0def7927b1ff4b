#pragma once
#include <cstdint>

// The encoder's stream interface, shaped like LAME's encoder-DLL interface (BladeEnc calling
// convention) and built on libmp3lame. A result of 0 (BE_ERR_SUCCESSFUL) means success.
namespace larkspur {

using BE_ERR = std::uint32_t;
inline constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT = 1;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 2;
inline constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 3;
inline constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
inline constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5;
inline constexpr BE_ERR BE_ERR_ENCODER_FAILED = 6;  // libmp3lame failed for another reason

inline constexpr std::uint32_t BE_CONFIG_MP3 = 0;

inline constexpr std::uint8_t BE_MP3_MODE_STEREO = 0;
inline constexpr std::uint8_t BE_MP3_MODE_MONO = 3;

struct BE_CONFIG {
    std::uint32_t dwConfig = BE_CONFIG_MP3;
    union {
        struct {
            std::uint32_t dwSampleRate;
            std::uint8_t byMode;
            std::uint16_t wBitrate;
            bool bPrivate;
            bool bCRC;
            bool bCopyright;
            bool bOriginal;
        } mp3;
    } format{};
};

struct LameStream;
using HBE_STREAM = LameStream*;

// Opens an encoder: MPEG-1 Layer III at dwSampleRate, constant bitrate wBitrate kbit/s, plain
// stereo (two input channels) or mono (one), no tag and no VBR/info frame. Gives the number of
// 16-bit values one beEncodeChunk call takes (one frame, all channels) and the output-buffer size
// every call needs. Refuses what is not MPEG-1 at that rate and bitrate.
BE_ERR beInitStream(const BE_CONFIG* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                    HBE_STREAM* stream);

// Encodes `samples` 16-bit values (channels interleaved, at most the count beInitStream gave) and
// puts the finished MP3 bytes, possibly none, into `output`. A last sample frame that lacks its
// right value is completed with silence.
BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t samples, const std::int16_t* input,
                     std::uint8_t* output, std::uint32_t* outputBytes);

// Flushes the last frames into `output`.
BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes);

BE_ERR beCloseStream(HBE_STREAM stream);

}  // namespace larkspur
