// The MP3 encoded while recording, fed by a growing wave file as the capture feeds it, against
// Wav2Mp3's output for the finished wave file.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <thread>

#include "audio/mp3/early_mp3.h"
#include "audio/mp3/wav2mp3.h"
#include "audio/wave_file.h"
#include "mp3_test_support.h"

namespace larkspur {
namespace {

using mp3test::Bytes;

class EarlyMp3Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

    // Records `data` into a wave file through a tap, in blocks of the given sizes in turn (as a
    // capture delivers them, values split between blocks), and saves it in place.
    static void Record(const std::string& wave, const WaveFormat& format, const Bytes& data,
                       std::shared_ptr<SampleTap> tap, const std::vector<std::size_t>& blocks) {
        mp3test::WriteFile(wave, Bytes(kWaveHeaderSize));
        GrowingWaveFile file;
        ASSERT_EQ(file.OpenElement(wave, format), 0u);
        file.SetTap(std::move(tap));
        ASSERT_EQ(file.Begin(), 0u);
        for (std::size_t at = 0, i = 0; at < data.size(); ++i) {
            const std::size_t n = std::min(blocks[i % blocks.size()], data.size() - at);
            ASSERT_EQ(file.Append(data.data() + at, n), 0u);
            at += n;
        }
        ASSERT_EQ(file.SaveTo(wave), 0u);
        file.Close();
    }

    // The converter's MP3 of the wave file.
    Bytes Converted(const std::string& wave) {
        const QString mp3 = dir_.filePath("converted.mp3");
        EXPECT_TRUE(Wav2Mp3(nullptr, QString::fromStdString(wave), mp3));
        return mp3test::ReadFile(mp3.toStdString());
    }

    QTemporaryDir dir_;
};

TEST_F(EarlyMp3Test, GivesTheConvertersBytesForEveryFormatItTakes) {
    struct Case {
        WaveFormat format;
        std::size_t frames;
    } cases[] = {
        {{2, 44100, 16}, 44100 * 3 + 77},  // a short last chunk
        {{1, 48000, 8}, 48000 * 2 + 1},    // an odd data size and its pad byte
        {{1, 32000, 16}, 1152 * 20},       // whole chunks only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.format.sampleRate << " Hz, " << c.format.channels
                                          << " ch, " << c.format.bitsPerSample << " bit");
        const std::string wave = Path("~temp.wav");
        const std::string early = Path("~temp.mp3");
        const Bytes data = mp3test::Tone(std::vector<double>(c.format.channels, 0.5), 1000,
                                         c.format.sampleRate, c.frames, c.format.bitsPerSample);
        auto mp3 = std::make_shared<EarlyMp3>(early, c.format);
        // Odd block sizes split 16-bit values and wrap around no whole chunk.
        Record(wave, c.format, data, mp3, {4411, 1, 3000, 8191});
        ASSERT_TRUE(mp3->Finish(wave));
        const Bytes bytes = mp3test::ReadFile(early);
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == Converted(wave)) << "the early MP3 differs from the converter's";
    }
}

TEST_F(EarlyMp3Test, IsGivenUpWhereItCannotMatchTheWaveFile) {
    const WaveFormat format{2, 44100, 16};
    const Bytes data = mp3test::Tone({0.5, 0.5}, 1000, 44100, 44100, 16);
    const std::string wave = Path("~temp.wav");
    const std::string early = Path("~temp.mp3");

    // A wave file that holds more than the encoder was given.
    auto mp3 = std::make_shared<EarlyMp3>(early, format);
    Record(wave, format, data, nullptr, {4096});
    EXPECT_FALSE(mp3->Finish(wave));
    EXPECT_FALSE(std::filesystem::exists(early));

    // Samples that skip a part of the data.
    mp3 = std::make_shared<EarlyMp3>(early, format);
    mp3->Samples(0, data.data(), 400);
    mp3->Samples(800, data.data() + 800, 400);
    EXPECT_TRUE(mp3->Abandoned());
    EXPECT_FALSE(mp3->Finish(wave));
    EXPECT_FALSE(std::filesystem::exists(early));

    // A format the converter refuses creates nothing.
    mp3 = std::make_shared<EarlyMp3>(early, WaveFormat{2, 22050, 16});
    EXPECT_TRUE(mp3->Abandoned());
    EXPECT_FALSE(std::filesystem::exists(early));
}

// An encoder that takes 20 ms a chunk, far slower than the samples come here.
BE_ERR SlowEncode(HBE_STREAM stream, std::uint32_t samples, const std::int16_t* input,
                  std::uint8_t* output, std::uint32_t* outputBytes) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return beEncodeChunk(stream, samples, input, output, outputBytes);
}

TEST_F(EarlyMp3Test, ASlowEncoderOverflowsTheQueueAndTheMp3IsDropped) {
    const WaveFormat format{2, 44100, 16};
    const Bytes data = mp3test::Tone({0.5, 0.5}, 1000, 44100, 44100 * 2, 16);
    const std::string wave = Path("~temp.wav");
    const std::string early = Path("~temp.mp3");
    Mp3EncoderCalls slow;
    slow.encode = &SlowEncode;
    auto mp3 = std::make_shared<EarlyMp3>(early, format, 64 * 1024, slow);
    Record(wave, format, data, mp3, {4410});
    EXPECT_TRUE(mp3->Abandoned());
    EXPECT_FALSE(mp3->Finish(wave));
    EXPECT_FALSE(std::filesystem::exists(early));
    // The wave file holds everything, ready for the converter.
    EXPECT_EQ(std::filesystem::file_size(wave), kWaveHeaderSize + data.size());
}

// A full disk under the early MP3: it is dropped and removed, and the wave file beside it is
// exactly the recording. The small file system is mounted in a mount namespace of a child
// process of its own, so that nothing of it outlives the test.
TEST_F(EarlyMp3Test, AFullDiskDropsTheMp3AndLeavesTheWaveFileWhole) {
    const WaveFormat format{2, 44100, 16};
    const Bytes data = mp3test::Tone({0.5, 0.5}, 1000, 44100, 44100 * 5, 16);
    const std::string wave = Path("~temp.wav");
    const std::string full = Path("full");
    std::filesystem::create_directory(full);
    ASSERT_EXIT(
        {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0)
                _exit(10);
            // 5 s of MP3 take about 120 kB.
            const std::string early = full + "/~temp.mp3";
            auto mp3 = std::make_shared<EarlyMp3>(early, format);
            Record(wave, format, data, mp3, {4410});
            const bool finished = mp3->Finish(wave);
            _exit(finished ? 11 : std::filesystem::exists(early) ? 12 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(mp3test::ReadFile(wave),
              [&] {
                  const auto header = WaveHeader(format, std::uint32_t(data.size()));
                  Bytes expected(header.begin(), header.end());
                  expected.insert(expected.end(), data.begin(), data.end());
                  return expected;
              }());
    EXPECT_TRUE(Converted(wave).size() > 100000);
}

}  // namespace
}  // namespace larkspur
