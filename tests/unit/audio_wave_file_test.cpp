// Reading a template's format and the wave file that grows during a recording.
#include "audio/capture_device.h"
#include "audio/capture_writer.h"
#include "audio/mp3/wav2mp3_input.h"
#include "audio/wave_file.h"
#include "tests/support/audio_checks.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace larkspur {
namespace {

using Bytes = std::vector<std::uint8_t>;

class WaveFileTest : public ::testing::Test {
protected:

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    static void Write(const std::string& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static Bytes Template(const WaveFormat& format) {
        const auto h = WaveHeader(format, 0);
        return Bytes(h.begin(), h.end());
    }
    static std::uint32_t Get32(const Bytes& b, std::size_t at) {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
    }
    // Builds a RIFF file from chunks given as id and body.
    static Bytes Riff(const std::vector<std::pair<std::string, Bytes>>& chunks) {
        Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
        for (const auto& [id, body] : chunks) {
            out.insert(out.end(), id.begin(), id.end());
            const auto n = std::uint32_t(body.size());
            for (int i = 0; i < 4; ++i) out.push_back((n >> (8 * i)) & 0xFF);
            out.insert(out.end(), body.begin(), body.end());
            if (n & 1) out.push_back(0);
        }
        const auto size = std::uint32_t(out.size() - 8);
        for (int i = 0; i < 4; ++i) out[4 + i] = (size >> (8 * i)) & 0xFF;
        return out;
    }
    static Bytes FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                         std::uint16_t bits, std::size_t size = 16) {
        const auto t = Template({channels, rate, bits});
        Bytes body(t.begin() + 20, t.begin() + 36);
        body[0] = tag & 0xFF;
        body[1] = tag >> 8;
        body.resize(size, 0);
        return body;
    }

    test::TestFolder folder_{"larkspur-wave"};
    const std::filesystem::path dir = folder_.Path();
};

TEST_F(WaveFileTest, TemplateHeaderIsTheFortyFourByteLayout) {
    const Bytes h = Template({2, 44100, 16});
    const Bytes expected = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E',
                            'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                            0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0,
                            'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(h, expected);
}

TEST_F(WaveFileTest, RiffSizeHoldsTheLargestRecordingWithItsPadByte) {
    // 8-bit mono can stop on any byte count, odd ones included.
    for (std::uint64_t data : {kMaxWaveDataBytes, kMaxWaveDataBytes - 1}) {
        const auto h = WaveHeader({1, 48000, 8}, std::uint32_t(data));
        const Bytes header(h.begin(), h.end());
        EXPECT_EQ(Get32(header, 40), data);
        EXPECT_EQ(Get32(header, 4), 36 + data + (data & 1)) << data;
    }
}

TEST_F(WaveFileTest, ReadsEveryRecordableFormat) {
    for (std::uint32_t rate : {44100u, 32000u, 24000u, 22050u, 16000u, 48000u})
        for (std::uint16_t channels : {1, 2})
            for (std::uint16_t bits : {8, 16}) {
                const WaveFormat format{channels, rate, bits};
                Write(Path("t.wav"), Template(format));
                WaveFormat read;
                ASSERT_EQ(ReadWaveFormat(Path("t.wav"), read), 0u) << rate << channels << bits;
                EXPECT_EQ(read, format);
            }
}

TEST_F(WaveFileTest, FindsTheFormatChunkBehindOtherChunks) {
    // An odd-sized chunk with its pad byte, then an 18-byte format chunk.
    Write(Path("t.wav"), Riff({{"LIST", Bytes(5, 'x')}, {"fmt ", FmtBody(1, 1, 22050, 8, 18)},
                               {"data", Bytes(4, 0x80)}}));
    WaveFormat read;
    ASSERT_EQ(ReadWaveFormat(Path("t.wav"), read), 0u);
    EXPECT_EQ(read, (WaveFormat{1, 22050, 8}));
}

TEST_F(WaveFileTest, RefusesFilesItCannotRecordInto) {
    WaveFormat read;
    EXPECT_EQ(ReadWaveFormat(Path("missing.wav"), read), kCaptureCannotReadFile);
    EXPECT_EQ(ReadWaveFormat("", read), kCaptureCannotReadFile);
    EXPECT_EQ(ReadWaveFormat(dir.string(), read), kCaptureCannotReadFile);

    const std::vector<Bytes> notWave = {
        {},
        {'R', 'I', 'F', 'F', 4, 0, 0, 0},
        Riff({{"data", Bytes(4)}, {"fmt ", FmtBody(1, 2, 44100, 16)}}),  // samples before format
        Riff({{"LIST", Bytes(6)}}),                                       // no format at all
        Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 14)}}),                   // format cut short
    };
    for (std::size_t i = 0; i < notWave.size(); ++i) {
        Write(Path("t.wav"), notWave[i]);
        EXPECT_EQ(ReadWaveFormat(Path("t.wav"), read), kCaptureNotWaveFile) << i;
    }
    Bytes rifx = Template({2, 44100, 16});
    rifx[3] = 'X';
    Write(Path("t.wav"), rifx);
    EXPECT_EQ(ReadWaveFormat(Path("t.wav"), read), kCaptureNotWaveFile);

    const std::vector<Bytes> unsupported = {
        Riff({{"fmt ", FmtBody(3, 2, 44100, 16)}}),   // floating point
        Riff({{"fmt ", FmtBody(1, 3, 44100, 16)}}),   // three channels
        Riff({{"fmt ", FmtBody(1, 2, 44100, 24)}}),   // 24 bits
        Riff({{"fmt ", FmtBody(1, 1, 11025, 8)}}),    // a rate the recorder does not offer
        Riff({{"fmt ", FmtBody(1, 1, 8000, 16)}}),
    };
    for (std::size_t i = 0; i < unsupported.size(); ++i) {
        Write(Path("t.wav"), unsupported[i]);
        EXPECT_EQ(ReadWaveFormat(Path("t.wav"), read), kCaptureUnsupportedFormat) << i;
    }
}

TEST_F(WaveFileTest, GrowingFileIsValidAfterEverySync) {
    const WaveFormat format{2, 44100, 16};
    // The element holds more than a template: it is left alone until the recording begins.
    Bytes element = Template(format);
    element.resize(1000, 7);
    Write(Path("e.wav"), element);
    GrowingWaveFile file;
    ASSERT_EQ(file.OpenElement(Path("e.wav"), format), 0u);
    EXPECT_EQ(Read(Path("e.wav")), element);
    ASSERT_EQ(file.Begin(), 0u);
    EXPECT_EQ(Read(Path("e.wav")), Template(format));

    const Bytes second(44100 * 4, 0x11);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(file.Append(second.data(), second.size()), 0u);
        ASSERT_EQ(file.SyncHeader(), 0u);
        const auto info = test::ReadSoxInfo(Path("e.wav"));
        ASSERT_TRUE(info.valid);
        EXPECT_EQ(info.samples, 44100 * i);
        EXPECT_EQ(info.channels, 2);
    }
    ASSERT_EQ(file.AppendSilence(400), 0u);
    const std::uint32_t total = 3 * 44100 * 4 + 400;
    EXPECT_EQ(file.DataBytes(), total);
    file.Close();  // brings the header up to date
    const Bytes closed = Read(Path("e.wav"));
    ASSERT_EQ(closed.size(), 44 + total);
    EXPECT_EQ(Get32(closed, 40), total);
    EXPECT_EQ(Get32(closed, 4), 36 + total);
    EXPECT_TRUE(std::all_of(closed.end() - 400, closed.end(), [](auto b) { return b == 0; }));
}

// The capture hands samples to the writer and goes on: a disk that takes 0.2 s a write holds up
// neither it nor the order of what lands, and a drain leaves a file whose header tells it all.
TEST_F(WaveFileTest, TheWriterTakesSamplesWithoutWaitingForASlowDisk) {
    struct SlowDisk : SampleTap {
        void Samples(std::uint64_t, const void*, std::size_t) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    };
    const WaveFormat format{1, 16000, 16};
    test::WriteWaveTemplate(Path("e.wav"), format);
    GrowingWaveFile file;
    ASSERT_EQ(file.OpenElement(Path("e.wav"), format), 0u);
    ASSERT_EQ(file.Begin(), 0u);
    file.SetTap(std::make_shared<SlowDisk>());
    CaptureWriter writer(file);
    writer.Restart(format.BytesPerSecond());
    const auto start = std::chrono::steady_clock::now();
    for (std::uint8_t i = 1; i <= 5; ++i) {
        const Bytes chunk(1000, i);
        writer.Append(chunk.data(), chunk.size());
        writer.AppendSilence(10);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100)) << "the capture waited";
    EXPECT_EQ(writer.Bytes(), 5050u);
    writer.Drain();
    EXPECT_EQ(writer.Written(), 5050u);
    const Bytes written = Read(Path("e.wav"));
    ASSERT_EQ(written.size(), 44u + 5050u);
    EXPECT_EQ(Get32(written, 40), 5050u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(written[44 + i * 1010], i + 1);
        EXPECT_EQ(written[44 + i * 1010 + 1000], 0);
    }
    file.Close();
}

TEST_F(WaveFileTest, SaveInPlaceFinalisesAndACopyMatchesIt) {
    const WaveFormat format{1, 16000, 8};
    Write(Path("e.wav"), Template(format));
    GrowingWaveFile file;
    ASSERT_EQ(file.OpenElement(Path("e.wav"), format), 0u);
    ASSERT_EQ(file.Begin(), 0u);
    const Bytes samples(16001, 0x90);  // odd: the data chunk gets its pad byte
    ASSERT_EQ(file.Append(samples.data(), samples.size()), 0u);
    ASSERT_EQ(file.SaveTo(Path("e.wav")), 0u);
    Bytes saved = Read(Path("e.wav"));
    ASSERT_EQ(saved.size(), 44u + 16001 + 1);
    EXPECT_EQ(Get32(saved, 40), 16001u);
    EXPECT_EQ(Get32(saved, 4), 36u + 16002);
    EXPECT_EQ(saved.back(), 0);
    EXPECT_EQ(test::ReadSoxInfo(Path("e.wav")).samples, 16001);

    ASSERT_EQ(file.SaveTo(Path("copy.wav")), 0u);
    EXPECT_EQ(Read(Path("copy.wav")), saved);

    // A save is no end: samples appended later overwrite the pad and the next save has them.
    ASSERT_EQ(file.Append(samples.data(), 1), 0u);
    ASSERT_EQ(file.SaveTo(Path("e.wav")), 0u);
    saved = Read(Path("e.wav"));
    ASSERT_EQ(saved.size(), 44u + 16002);
    EXPECT_EQ(saved.back(), 0x90);
}

TEST_F(WaveFileTest, SaveBeforeAnyRecordingWritesAnEmptyRecording) {
    Bytes element = Template({2, 48000, 16});
    element.resize(500, 1);
    Write(Path("e.wav"), element);
    GrowingWaveFile file;
    ASSERT_EQ(file.OpenElement(Path("e.wav"), {2, 48000, 16}), 0u);
    ASSERT_EQ(file.SaveTo(Path("e.wav")), 0u);
    EXPECT_EQ(Read(Path("e.wav")), Template({2, 48000, 16}));
}

TEST_F(WaveFileTest, SaveToAPlaceThatCannotBeWrittenFails) {
    Write(Path("e.wav"), Template({2, 44100, 16}));
    Write(Path("plain"), {1});
    std::filesystem::create_directory(Path("folder"));
    GrowingWaveFile file;
    ASSERT_EQ(file.OpenElement(Path("e.wav"), {2, 44100, 16}), 0u);
    EXPECT_EQ(file.SaveTo(Path("plain") + "/x.wav"), kCaptureCannotSave);
    EXPECT_EQ(file.SaveTo(Path("folder")), kCaptureCannotSave);
}

TEST_F(WaveFileTest, ElementThatCannotBeWrittenIsRefused) {
    GrowingWaveFile file;
    EXPECT_EQ(file.OpenElement(dir.string(), {2, 44100, 16}), kCaptureCannotWriteFile);
    EXPECT_EQ(file.OpenElement(Path("missing.wav"), {2, 44100, 16}), kCaptureCannotWriteFile);
}

TEST_F(WaveFileTest, FullDiskKeepsAValidFileOfWholeFrames) {
    // A file size limit fails writes the way a full disk does.
    const auto old = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const WaveFormat format{2, 44100, 16};
    Write(Path("e.wav"), Template(format));
    GrowingWaveFile file;
    ASSERT_EQ(file.OpenElement(Path("e.wav"), format), 0u);
    ASSERT_EQ(file.Begin(), 0u);
    rlimit limit = saved;
    limit.rlim_cur = 10001;  // not on a frame boundary
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Bytes chunk(4096, 0x22);
    std::uint32_t code = 0;
    for (int i = 0; i < 10 && code == 0; ++i) code = file.Append(chunk.data(), chunk.size());
    const std::uint32_t again = file.Append(chunk.data(), chunk.size());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, old);

    EXPECT_EQ(code, kCaptureDiskFull);
    EXPECT_EQ(again, kCaptureDiskFull);
    EXPECT_EQ(file.WriteError(), kCaptureDiskFull);
    EXPECT_EQ(file.DataBytes(), (10001u - 44) / 4 * 4);
    const Bytes kept = Read(Path("e.wav"));
    EXPECT_EQ(kept.size(), 44 + file.DataBytes());
    EXPECT_EQ(Get32(kept, 40), file.DataBytes());
    const auto info = test::ReadSoxInfo(Path("e.wav"));
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.samples, (10001 - 44) / 4);
}

// A tone, a long silence and a tone again, with 4 GiB of data the boundary falls in the second
// tone: past it the recording is an RF64 file, which mediainfo and the project's readers read
// whole (sox too, on a short file with the same header: it reads a 4 GiB one through, 50 s);
// below it the same takes make the plain wave file byte for byte. The silence goes in as a hole,
// so the 4 GiB are written at memory speed and take no room on disk.
TEST_F(WaveFileTest, ARecordingPast4GiBBecomesAnRf64FileThatEveryReaderReads) {
    const WaveFormat format{2, 44100, 16};
    Bytes tone(format.BytesPerSecond());
    for (std::size_t i = 0; i < tone.size() / 2; ++i) {
        const auto v = std::int16_t(16384 * std::sin(2 * M_PI * 1000 * double(i / 2) / 44100));
        tone[2 * i] = std::uint8_t(v);
        tone[2 * i + 1] = std::uint8_t(v >> 8);
    }
    const auto record = [&](const std::string& path, std::uint64_t silence) {
        Write(path, Template(format));
        GrowingWaveFile file;
        EXPECT_EQ(file.OpenElement(path, format), 0u);
        EXPECT_EQ(file.Begin(), 0u);
        EXPECT_EQ(file.Append(tone.data(), tone.size()), 0u);
        EXPECT_EQ(file.AppendSilence(silence), 0u);
        EXPECT_EQ(file.Append(tone.data(), tone.size()), 0u);
        EXPECT_EQ(file.SaveTo(path), 0u);
        file.Close();
        return 2 * tone.size() + silence;
    };

    Bytes plain = Template(format);
    const std::uint64_t small = record(Path("small.wav"), 176400);
    plain.insert(plain.end(), tone.begin(), tone.end());
    plain.resize(plain.size() + 176400, 0);
    plain.insert(plain.end(), tone.begin(), tone.end());
    const auto header = WaveHeader(format, std::uint32_t(small));
    std::copy(header.begin(), header.end(), plain.begin());
    EXPECT_EQ(Read(Path("small.wav")), plain);

    const std::string big = Path("big.wav");
    const std::uint64_t silence = (kMaxWaveDataBytes - tone.size() - tone.size() / 2) / 4 * 4;
    const std::uint64_t data = record(big, silence);
    ASSERT_GT(data, std::uint64_t(0xFFFFFFFF));
    Bytes head(kRf64DataOffset);
    std::ifstream in(big, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    const auto expected = Rf64Header(format, data);
    EXPECT_EQ(head, Bytes(expected.begin(), expected.end()));
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
    EXPECT_EQ(std::filesystem::file_size(big), kRf64DataOffset + data);
    // The second tone, across the boundary, is whole after the header grew.
    Bytes second(tone.size());
    in.seekg(std::streamoff(kRf64DataOffset + tone.size() + silence));
    in.read(reinterpret_cast<char*>(second.data()), std::streamsize(second.size()));
    EXPECT_EQ(second, tone);

    const double seconds = double(data) / format.BytesPerSecond();
    const auto mediainfo = test::RunCommand({"mediainfo", "--Inform=Audio;%Duration%", big});
    EXPECT_NEAR(std::atof(mediainfo.output.c_str()) / 1000, seconds, 0.01) << mediainfo.output;
    WaveFormat read;
    EXPECT_EQ(ReadWaveFormat(big, read), 0u);
    EXPECT_EQ(read, format);
    wav2mp3::WaveFileSource source(big);
    const auto layout = wav2mp3::ReadWaveLayout(source);
    EXPECT_EQ(layout.problem, wav2mp3::WaveProblem::None);
    EXPECT_EQ(layout.dataOffset, kRf64DataOffset);
    EXPECT_EQ(layout.dataSize, data);

    const auto shortHeader = Rf64Header(format, 2 * tone.size());
    Bytes shortFile(shortHeader.begin(), shortHeader.end());
    shortFile.insert(shortFile.end(), tone.begin(), tone.end());
    shortFile.insert(shortFile.end(), tone.begin(), tone.end());
    Write(Path("short.wav"), shortFile);
    const auto info = test::ReadSoxInfo(Path("short.wav"));
    ASSERT_TRUE(info.valid);
    EXPECT_EQ(std::uint64_t(info.samples), 2 * tone.size() / 4);
    EXPECT_NEAR(test::ReadSoxStat(Path("short.wav"), 1.2, 0.5).frequency, 1000, 20);
}

TEST_F(WaveFileTest, AnonymousFileLeavesNothingBehindButCanBeSaved) {
    const auto tmp = dir / "tmp";
    std::filesystem::create_directory(tmp);
    const auto countEntries = [&] {
        return std::distance(std::filesystem::directory_iterator(tmp), {});
    };
    ::setenv("TMPDIR", tmp.c_str(), 1);
    GrowingWaveFile file;
    const std::uint32_t opened = file.OpenAnonymous(kDefaultWaveFormat);
    ::unsetenv("TMPDIR");
    ASSERT_EQ(opened, 0u);
    ASSERT_EQ(file.Begin(), 0u);
    const Bytes samples(11025, 0x80);
    ASSERT_EQ(file.Append(samples.data(), samples.size()), 0u);
    EXPECT_EQ(countEntries(), 0);
    ASSERT_EQ(file.SaveTo(Path("out.wav")), 0u);
    const auto info = test::ReadSoxInfo(Path("out.wav"));
    EXPECT_EQ(info.samples, 11025);
    EXPECT_EQ(info.rate, 11025);
    EXPECT_EQ(info.bits, 8);
    EXPECT_EQ(info.channels, 1);
}

}  // namespace
}  // namespace larkspur
