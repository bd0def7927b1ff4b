#include "mp3_test_support.h"

#include <gtest/gtest.h>
#include <lame/lame.h>
#include <mpg123.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>

namespace mp3test {
namespace {

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(v & 0xff);
    b.push_back((v >> 8) & 0xff);
}

void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xffff);
    Put16(b, v >> 16);
}

void PutId(Bytes& b, const std::string& id) { b.insert(b.end(), id.begin(), id.end()); }

}  // namespace

Bytes BuildWave(const WaveParts& parts) {
    Bytes b;
    if (parts.head.empty()) {
        PutId(b, "RIFF");
        Put32(b, 0);  // set below
        PutId(b, "WAVE");
    } else {
        PutId(b, parts.head);
    }
    PutId(b, "fmt ");
    Put32(b, static_cast<std::uint32_t>(16 + parts.fmtExtra.size()));
    Put16(b, parts.formatTag);
    Put16(b, parts.channels);
    Put32(b, parts.rate);
    const std::uint32_t align = parts.channels * ((parts.bits + 7) / 8);
    Put32(b, parts.rate * align);
    Put16(b, align);
    Put16(b, parts.bits);
    b.insert(b.end(), parts.fmtExtra.begin(), parts.fmtExtra.end());
    if (parts.fmtExtra.size() % 2) b.push_back(0);
    for (const Chunk& c : parts.before) {
        PutId(b, c.id);
        Put32(b, static_cast<std::uint32_t>(c.body.size()));
        b.insert(b.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2) b.push_back(0);
    }
    if (parts.withData) {
        PutId(b, "data");
        Put32(b, parts.declaredDataSize.value_or(static_cast<std::uint32_t>(parts.data.size())));
        b.insert(b.end(), parts.data.begin(), parts.data.end());
    }
    if (parts.head.empty()) {
        const auto riffSize = static_cast<std::uint32_t>(b.size() - 8);
        for (int i = 0; i < 4; ++i) b[4 + i] = (riffSize >> (8 * i)) & 0xff;
    }
    return b;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Tone(const std::vector<double>& amplitude, double hz, std::uint32_t rate, std::size_t frames,
           int bits) {
    Bytes b;
    b.reserve(frames * amplitude.size() * (bits / 8));
    for (std::size_t i = 0; i < frames; ++i) {
        const double s = std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
        for (double a : amplitude) {
            if (bits == 8) {
                b.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * a * s)));
            } else {
                Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767 * a * s))));
            }
        }
    }
    return b;
}

DelayPadding LameDelayPadding(std::uint32_t rate, int channels, std::size_t frames) {
    lame_global_flags* lame = lame_init();
    lame_set_num_channels(lame, channels);
    lame_set_in_samplerate(lame, static_cast<int>(rate));
    lame_set_out_samplerate(lame, static_cast<int>(rate));
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 192);
    lame_set_mode(lame, channels == 1 ? MONO : STEREO);
    lame_set_quality(lame, 3);
    lame_set_bWriteVbrTag(lame, 0);
    EXPECT_GE(lame_init_params(lame), 0);
    std::vector<short> silence(1152);
    std::vector<unsigned char> out(1152 * 5 / 4 + 7200);
    for (std::size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<std::size_t>(silence.size(), frames - done));
        EXPECT_GE(lame_encode_buffer(lame, silence.data(), silence.data(), n, out.data(),
                                     static_cast<int>(out.size())),
                  0);
        done += static_cast<std::size_t>(n);
    }
    EXPECT_GE(lame_encode_flush(lame, out.data(), static_cast<int>(out.size())), 0);
    const DelayPadding result{lame_get_encoder_delay(lame), lame_get_encoder_padding(lame)};
    lame_close(lame);
    return result;
}

DecodedMp3 Decode(const std::string& path) {
    DecodedMp3 d;
    d.file = ReadFile(path);
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    EXPECT_NE(mh, nullptr) << mpg123_plain_strerror(err);
    if (!mh) return d;
    // No read-ahead: a stream of one frame (the flush of no data) is decoded too.
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_NO_READAHEAD,
                 0);
    mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    // 16-bit output at the file's own rate and channel count, nothing converted.
    mpg123_format_none(mh);
    for (long rate : {32000L, 44100L, 48000L}) {
        mpg123_format(mh, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    EXPECT_EQ(mpg123_open(mh, path.c_str()), MPG123_OK) << mpg123_strerror(mh);
    for (;;) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int r = mpg123_decode_frame(mh, &num, &audio, &bytes);
        if (r == MPG123_DONE) break;
        if (r == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(mh, &d.rate, &d.channels, &encoding);
            EXPECT_EQ(encoding, MPG123_ENC_SIGNED_16);
            continue;
        }
        if (r != MPG123_OK) {
            ADD_FAILURE() << "mpg123: " << mpg123_strerror(mh);
            break;
        }
        mpg123_frameinfo2 fi{};
        mpg123_info2(mh, &fi);
        d.frames.push_back({fi.version, fi.layer, fi.rate, fi.mode, fi.mode_ext, fi.flags,
                            fi.emphasis, fi.bitrate, fi.vbr, fi.framesize});
        const auto* s = reinterpret_cast<const std::int16_t*>(audio);
        d.samples.insert(d.samples.end(), s, s + bytes / 2);
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return d;
}

std::vector<double> Channel(const std::vector<std::int16_t>& samples, int channels, int channel,
                            std::size_t from, std::size_t count) {
    std::vector<double> x;
    for (std::size_t i = from; i < from + count && (i + 1) * channels <= samples.size(); ++i) {
        x.push_back(samples[i * channels + channel] / 32768.0);
    }
    return x;
}

double Rms(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x) sum += v * v;
    return x.empty() ? 0 : std::sqrt(sum / static_cast<double>(x.size()));
}

double Frequency(const std::vector<double>& x, double rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * rate / (last - first);
}

}  // namespace mp3test
