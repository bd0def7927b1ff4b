// The encoder stream interface on libmp3lame, driven directly.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstring>

#include "audio/mp3/lame_stream.h"
#include "mp3_test_support.h"

namespace larkspur {
namespace {

BE_CONFIG Config(std::uint32_t rate, std::uint8_t mode, std::uint16_t bitrate = 192) {
    BE_CONFIG config;
    config.dwConfig = BE_CONFIG_MP3;
    config.format.mp3.dwSampleRate = rate;
    config.format.mp3.byMode = mode;
    config.format.mp3.wBitrate = bitrate;
    config.format.mp3.bPrivate = false;
    config.format.mp3.bCRC = false;
    config.format.mp3.bCopyright = false;
    config.format.mp3.bOriginal = false;
    return config;
}

TEST(LameStream, ChunkIsOneFrameOfAllChannelsAndBufferTheDocumentedWorstCase) {
    for (auto [mode, values] : {std::pair{BE_MP3_MODE_MONO, 1152u}, {BE_MP3_MODE_STEREO, 2304u}}) {
        for (std::uint32_t rate : {32000u, 44100u, 48000u}) {
            const BE_CONFIG config = Config(rate, mode);
            std::uint32_t samples = 0, size = 0;
            HBE_STREAM stream = nullptr;
            ASSERT_EQ(beInitStream(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
            EXPECT_EQ(samples, values);
            EXPECT_EQ(size, 1152u * 5 / 4 + 7200);
            EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
        }
    }
}

TEST(LameStream, RefusesWhatIsNotMpeg1LayerIIIAtTheGivenRateAndBitrate) {
    std::uint32_t samples = 0, size = 0;
    HBE_STREAM stream = nullptr;
    for (std::uint32_t rate : {22050u, 24000u, 16000u, 11025u, 96000u, 0u}) {
        const BE_CONFIG config = Config(rate, BE_MP3_MODE_STEREO);
        EXPECT_NE(beInitStream(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL) << rate;
    }
    for (std::uint16_t bitrate : {7, 0, 193, 640}) {
        const BE_CONFIG config = Config(44100, BE_MP3_MODE_STEREO, bitrate);
        EXPECT_NE(beInitStream(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL) << bitrate;
    }
    BE_CONFIG joint = Config(44100, 1);
    EXPECT_NE(beInitStream(&joint, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    BE_CONFIG other = Config(44100, BE_MP3_MODE_STEREO);
    other.dwConfig = 1;
    EXPECT_EQ(beInitStream(&other, &samples, &size, &stream), BE_ERR_INVALID_FORMAT);
}

TEST(LameStream, RefusesAChunkLargerThanItsOwnSizeAndAMissingStream) {
    const BE_CONFIG config = Config(44100, BE_MP3_MODE_MONO);
    std::uint32_t samples = 0, size = 0, bytes = 0;
    HBE_STREAM stream = nullptr;
    ASSERT_EQ(beInitStream(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    std::vector<std::int16_t> input(samples + 1);
    std::vector<std::uint8_t> output(size);
    EXPECT_EQ(beEncodeChunk(stream, samples + 1, input.data(), output.data(), &bytes),
              BE_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(beEncodeChunk(stream, samples, input.data(), output.data(), &bytes), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(beEncodeChunk(nullptr, samples, input.data(), output.data(), &bytes),
              BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beDeinitStream(nullptr, output.data(), &bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beCloseStream(nullptr), BE_ERR_INVALID_HANDLE);
}

// The stream's bytes alone make a valid MP3: a stereo tone in chunks of varying size, the last
// sample frame lacking its right value.
TEST(LameStream, ChunksOfAnySizeMakeOneContinuousStream) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const BE_CONFIG config = Config(48000, BE_MP3_MODE_STEREO);
    std::uint32_t samples = 0, size = 0, bytes = 0;
    HBE_STREAM stream = nullptr;
    ASSERT_EQ(beInitStream(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);

    const std::size_t frames = 48000;
    const mp3test::Bytes pcm = mp3test::Tone({0.5, 0.5}, 1000, 48000, frames, 16);
    std::vector<std::int16_t> values(pcm.size() / 2 - 1);  // drops the last right value
    std::memcpy(values.data(), pcm.data(), values.size() * 2);

    mp3test::Bytes mp3;
    std::vector<std::uint8_t> output(size);
    for (std::size_t at = 0, step = 2; at < values.size();
         at += step, step = (step * 7 % (samples / 2) + 1) * 2) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(step, values.size() - at));
        ASSERT_EQ(beEncodeChunk(stream, n, values.data() + at, output.data(), &bytes),
                  BE_ERR_SUCCESSFUL);
        mp3.insert(mp3.end(), output.begin(), output.begin() + bytes);
    }
    ASSERT_EQ(beDeinitStream(stream, output.data(), &bytes), BE_ERR_SUCCESSFUL);
    mp3.insert(mp3.end(), output.begin(), output.begin() + bytes);
    ASSERT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);

    const std::string path = dir.filePath("stream.mp3").toStdString();
    mp3test::WriteFile(path, mp3);
    const mp3test::DecodedMp3 decoded = mp3test::Decode(path);
    const auto [delay, padding] = mp3test::LameDelayPadding(48000, 2, frames);
    EXPECT_EQ(decoded.Frames(), delay + frames + padding);
    const auto left = mp3test::Channel(decoded.samples, 2, 0, delay + 2000, 40000);
    EXPECT_NEAR(mp3test::Frequency(left, 48000), 1000, 5);
}

}  // namespace
}  // namespace larkspur
