#include "audio/mp3/lame_stream.h"

#include <lame/lame.h>

namespace larkspur {

struct LameStream {
    lame_global_flags* lame;
    int channels;
    std::uint32_t chunkValues;
    std::uint32_t bufferSize;
};

namespace {

constexpr int kFrameSamples = 1152;  // one MPEG-1 Layer III frame, per channel
constexpr int kQuality = 3;          // the lame program's own default

bool IsMpeg1Rate(std::uint32_t rate) { return rate == 32000 || rate == 44100 || rate == 48000; }

BE_ERR FromLame(int result) {
    return result == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_ENCODER_FAILED;
}

bool Configure(lame_global_flags* lame, const BE_CONFIG& config, int channels) {
    const auto& mp3 = config.format.mp3;
    const int rate = static_cast<int>(mp3.dwSampleRate);
    return lame_set_num_channels(lame, channels) == 0 && lame_set_in_samplerate(lame, rate) == 0 &&
           lame_set_out_samplerate(lame, rate) == 0 && lame_set_VBR(lame, vbr_off) == 0 &&
           lame_set_brate(lame, mp3.wBitrate) == 0 &&
           lame_set_mode(lame, channels == 1 ? MONO : STEREO) == 0 &&
           lame_set_error_protection(lame, mp3.bCRC) == 0 &&
           lame_set_extension(lame, mp3.bPrivate) == 0 &&
           lame_set_copyright(lame, mp3.bCopyright) == 0 &&
           lame_set_original(lame, mp3.bOriginal) == 0 && lame_set_quality(lame, kQuality) == 0 &&
           lame_set_bWriteVbrTag(lame, 0) == 0 && lame_init_params(lame) >= 0 &&
           // libmp3lame quietly picks another layer version, rate or bitrate when it must.
           lame_get_version(lame) == 1 && lame_get_out_samplerate(lame) == rate &&
           lame_get_brate(lame) == mp3.wBitrate && lame_get_VBR(lame) == vbr_off;
}

}  // namespace

BE_ERR beInitStream(const BE_CONFIG* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                    HBE_STREAM* stream) {
    if (!config || !samples || !bufferSize || !stream) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (config->dwConfig != BE_CONFIG_MP3) return BE_ERR_INVALID_FORMAT;
    const auto& mp3 = config->format.mp3;
    if (!IsMpeg1Rate(mp3.dwSampleRate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (mp3.byMode != BE_MP3_MODE_STEREO && mp3.byMode != BE_MP3_MODE_MONO) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    const int channels = mp3.byMode == BE_MP3_MODE_MONO ? 1 : 2;

    lame_global_flags* lame = lame_init();
    if (!lame) return BE_ERR_NO_MORE_HANDLES;
    // No ID3 tag: nothing but the frames goes into the stream.
    lame_set_write_id3tag_automatic(lame, 0);
    if (!Configure(lame, *config, channels)) {
        lame_close(lame);
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    // The worst case libmp3lame documents for one call: 1.25 bytes a sample plus 7200.
    const std::uint32_t size = kFrameSamples * 5 / 4 + 7200;
    *stream = new LameStream{lame, channels, static_cast<std::uint32_t>(kFrameSamples * channels),
                             size};
    *samples = (*stream)->chunkValues;
    *bufferSize = size;
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t samples, const std::int16_t* input,
                     std::uint8_t* output, std::uint32_t* outputBytes) {
    if (!stream || !output || !outputBytes || (samples > 0 && !input)) return BE_ERR_INVALID_HANDLE;
    if (samples > stream->chunkValues) return BE_ERR_BUFFER_TOO_SMALL;
    *outputBytes = 0;
    const int size = static_cast<int>(stream->bufferSize);
    int written;
    if (stream->channels == 1) {
        written = lame_encode_buffer(stream->lame, input, input, static_cast<int>(samples), output,
                                     size);
    } else {
        // libmp3lame's interleaved call takes a non-const pointer but only reads through it.
        auto* pcm = const_cast<short*>(input);
        written = lame_encode_buffer_interleaved(stream->lame, pcm, static_cast<int>(samples / 2),
                                                 output, size);
        if (written >= 0 && samples % 2 == 1) {
            short last[2] = {input[samples - 1], 0};
            const int more =
                lame_encode_buffer_interleaved(stream->lame, last, 1, output + written, size - written);
            written = more < 0 ? more : written + more;
        }
    }
    if (written < 0) return FromLame(written);
    *outputBytes = static_cast<std::uint32_t>(written);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes) {
    if (!stream || !output || !outputBytes) return BE_ERR_INVALID_HANDLE;
    *outputBytes = 0;
    const int written = lame_encode_flush(stream->lame, output, static_cast<int>(stream->bufferSize));
    if (written < 0) return FromLame(written);
    *outputBytes = static_cast<std::uint32_t>(written);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM stream) {
    if (!stream) return BE_ERR_INVALID_HANDLE;
    lame_close(stream->lame);
    delete stream;
    return BE_ERR_SUCCESSFUL;
}

}  // namespace larkspur
