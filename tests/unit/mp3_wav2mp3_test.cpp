// Wav2Mp3 on wave files made by code; the MP3 files are decoded with libmpg123.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cmath>
#include <sys/resource.h>

#include "audio/mp3/wav2mp3.h"
#include "mp3_test_support.h"
#include "platform/message_box.h"
#include "tests/support/captured_boxes.h"

namespace larkspur {
namespace {

using mp3test::Bytes;
using mp3test::WaveParts;

constexpr std::size_t kFrame = 1152;

class Wav2Mp3Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
    }

    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    // Writes the wave file, converts it and checks that the wave file is as it was.
    bool Convert(const Bytes& wave) {
        mp3test::WriteFile(wav_.toStdString(), wave);
        const bool done = Wav2Mp3(nullptr, wav_, mp3_);
        EXPECT_EQ(mp3test::ReadFile(wav_.toStdString()), wave) << "the wave file was changed";
        return done;
    }

    mp3test::DecodedMp3 Decoded() const { return mp3test::Decode(mp3_.toStdString()); }

    // Every frame MPEG-1 Layer III at `rate`, CBR 192 kbit/s, plain stereo or mono, no CRC, the
    // private, copyright and original bits clear; nothing in the file but those frames.
    static void ExpectFrames(const mp3test::DecodedMp3& d, long rate, int channels) {
        EXPECT_EQ(d.rate, rate);
        EXPECT_EQ(d.channels, channels);
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < d.frames.size(); ++i) {
            const mp3test::FrameHeader& f = d.frames[i];
            SCOPED_TRACE(::testing::Message() << "frame " << i);
            EXPECT_EQ(f.version, MPG123_1_0);
            EXPECT_EQ(f.layer, 3);
            EXPECT_EQ(f.rate, rate);
            EXPECT_EQ(f.mode, channels == 1 ? MPG123_M_MONO : MPG123_M_STEREO);
            EXPECT_EQ(f.modeExtension, 0);
            EXPECT_EQ(f.flags, 0) << "CRC, copyright, private or original set";
            EXPECT_EQ(f.emphasis, 0);
            EXPECT_EQ(f.bitrate, 192);
            EXPECT_EQ(f.vbr, MPG123_CBR);
            EXPECT_NEAR(f.framesize, 144 * 192000 / rate, 1);
            bytes += static_cast<std::size_t>(f.framesize);
        }
        EXPECT_EQ(bytes, d.file.size()) << "bytes besides the frames (a tag?)";
        // No Xing/Info frame: its tag would follow the first frame's side information.
        const std::size_t tag = 4 + (channels == 1 ? 17 : 32);
        ASSERT_GE(d.file.size(), tag + 4);
        const std::string first(d.file.begin() + tag, d.file.begin() + tag + 4);
        EXPECT_NE(first, "Xing");
        EXPECT_NE(first, "Info");
    }

    // The decoded length is the input's plus the delay and padding libmp3lame reports for it.
    static void ExpectLength(const mp3test::DecodedMp3& d, std::uint32_t rate, int channels,
                             std::size_t frames) {
        const auto [delay, padding] = mp3test::LameDelayPadding(rate, channels, frames);
        // Exactly: a tag frame would add to it, a dropped last chunk take from it.
        EXPECT_EQ(d.Frames(), delay + frames + padding);
    }

    // A 1 kHz tone comes out at 1 kHz and at the level it went in.
    static void ExpectTone(const mp3test::DecodedMp3& d, std::uint32_t rate,
                           const std::vector<double>& amplitude, std::size_t frames) {
        const int delay = mp3test::LameDelayPadding(rate, d.channels, frames).delay;
        for (int c = 0; c < d.channels; ++c) {
            SCOPED_TRACE(::testing::Message() << "channel " << c);
            const auto x = mp3test::Channel(d.samples, d.channels, c, delay + kFrame, frames - 2 * kFrame);
            EXPECT_NEAR(mp3test::Frequency(x, rate), 1000, 5);
            const double expected = amplitude[c] / std::sqrt(2.0);
            EXPECT_NEAR(mp3test::Rms(x), expected, expected * 0.05);
        }
    }

    void ExpectNoBoxes() { EXPECT_TRUE(boxes_.empty()) << boxes_.front().text.toStdString(); }

    void ExpectOneBox(const char* text) {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].caption, QStringLiteral("Wav2Mp3 ERROR"));
        EXPECT_EQ(boxes_[0].text, QString::fromLatin1(text));
        EXPECT_EQ(boxes_[0].icon, BoxIcon::None);
    }

    QTemporaryDir dir_;
    QString wav_ = Path("~temp.wav");
    QString mp3_ = Path("take.mp3");
    test::CapturedBoxes captured_;
    std::vector<MessageBoxRequest>& boxes_ = captured_.boxes;
};

struct ToneCase {
    std::uint32_t rate;
    std::uint16_t channels;
    std::uint16_t bits;
};

class Wav2Mp3Tone : public Wav2Mp3Test, public ::testing::WithParamInterface<ToneCase> {};

TEST_P(Wav2Mp3Tone, KeepsRateChannelsFrequencyAndLevelAt192Kbits) {
    const ToneCase c = GetParam();
    const std::vector<double> amplitude =
        c.channels == 1 ? std::vector{0.5} : std::vector{0.5, 0.25};
    const std::size_t frames = c.rate * 3 / 2;
    WaveParts parts;
    parts.channels = c.channels;
    parts.rate = c.rate;
    parts.bits = c.bits;
    parts.data = mp3test::Tone(amplitude, 1000, c.rate, frames, c.bits);

    ASSERT_TRUE(Convert(mp3test::BuildWave(parts)));
    ExpectNoBoxes();
    const mp3test::DecodedMp3 d = Decoded();
    ExpectFrames(d, c.rate, c.channels);
    ExpectLength(d, c.rate, c.channels, frames);
    ExpectTone(d, c.rate, amplitude, frames);
}

INSTANTIATE_TEST_SUITE_P(Formats, Wav2Mp3Tone,
                         ::testing::Values(ToneCase{44100, 2, 16}, ToneCase{32000, 2, 16},
                                           ToneCase{48000, 2, 16}, ToneCase{44100, 1, 16},
                                           ToneCase{32000, 1, 16}, ToneCase{48000, 1, 16},
                                           ToneCase{44100, 2, 8}, ToneCase{32000, 1, 8}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" +
                                    std::to_string(info.param.bits) + "bit_" +
                                    (info.param.channels == 1 ? "mono" : "stereo");
                         });

// Data sizes around the encoder's chunk of 1152 values per channel: nothing, one value, exactly
// one chunk, one chunk and one value.
TEST_F(Wav2Mp3Test, DataSizesAroundOneChunk) {
    for (std::uint16_t channels : {1, 2}) {
        const std::size_t chunk = kFrame * channels;
        for (std::size_t values : {std::size_t{0}, std::size_t{1}, chunk, chunk + 1}) {
            SCOPED_TRACE(::testing::Message() << channels << " channels, " << values << " values");
            WaveParts parts;
            parts.channels = channels;
            parts.data.assign(values * 2, 0x40);
            ASSERT_TRUE(Convert(mp3test::BuildWave(parts)));
            const mp3test::DecodedMp3 d = Decoded();
            ExpectFrames(d, 44100, channels);
            // A last sample frame without its right value counts as a whole one.
            ExpectLength(d, 44100, channels, (values + channels - 1) / channels);
        }
    }
    ExpectNoBoxes();
}

// Layouts other writers produce: a longer fmt chunk, chunks before the data (one of odd size,
// followed by its pad byte), a first 12 bytes that are not "RIFF", size, "WAVE".
TEST_F(Wav2Mp3Test, AcceptsLayoutsOtherWritersProduce) {
    const std::size_t frames = 44100;
    const Bytes tone = mp3test::Tone({0.5, 0.5}, 1000, 44100, frames, 16);
    std::vector<WaveParts> layouts(4);
    layouts[0].fmtExtra = {0, 0};  // an 18-byte fmt chunk (cbSize 0)
    layouts[1].before = {{"fact", {0x44, 0xac, 0, 0}}, {"LIST", Bytes(27, 'x')}};
    layouts[2].before = {{"LIST", Bytes(5, 'a')}, {"junk", Bytes(1, 'b')}, {"fact", {1, 2, 3, 4}}};
    layouts[2].fmtExtra = {0x16, 0, 1};  // odd fmt size too
    layouts[3].head = "RAFF\x01\x02\x03\x04WAVX";
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "layout " << i);
        layouts[i].data = tone;
        ASSERT_TRUE(Convert(mp3test::BuildWave(layouts[i])));
        const mp3test::DecodedMp3 d = Decoded();
        ExpectFrames(d, 44100, 2);
        ExpectLength(d, 44100, 2, frames);
        ExpectTone(d, 44100, {0.5, 0.5}, frames);
    }
    ExpectNoBoxes();
}

// A data chunk shorter than its size field (a recording cut off): what is there is converted.
TEST_F(Wav2Mp3Test, ShortDataIsConvertedUpToTheEndOfTheFile) {
    const std::size_t frames = 10000;
    for (std::uint32_t declared : {std::uint32_t{100000}, std::uint32_t{0xffffffff}}) {
        WaveParts parts;
        parts.channels = 1;
        parts.data = mp3test::Tone({0.5}, 1000, 44100, frames, 16);
        parts.data.push_back(0x7f);  // half a value at the very end
        parts.declaredDataSize = declared;
        ASSERT_TRUE(Convert(mp3test::BuildWave(parts)));
        const mp3test::DecodedMp3 d = Decoded();
        ExpectFrames(d, 44100, 1);
        ExpectLength(d, 44100, 1, frames);
    }
    ExpectNoBoxes();
}

struct Refusal {
    std::string name;
    Bytes wave;
    const char* message;
};

std::vector<Refusal> Refusals() {
    auto wave = [](auto change) {
        WaveParts parts;
        parts.data = mp3test::Tone({0.5, 0.5}, 1000, 44100, 4000, 16);
        change(parts);
        return mp3test::BuildWave(parts);
    };
    auto cut = [&](std::size_t size) {
        Bytes b = wave([](WaveParts&) {});
        b.resize(size);
        return b;
    };
    const char* notWave = "This is not a valid Wave file";
    const char* compressed = "Cannot handle compressed Wave file";
    std::vector<Refusal> r = {
        {"a chunk before fmt",
         wave([](WaveParts& s) { s.head = std::string("RIFF\x24\0\0\0WAVEJUNK\0\0\0\0", 20); }),
         notWave},
        {"empty file", cut(0), notWave},
        {"header cut short", cut(35), notWave},
        {"data header cut", cut(40), notWave},
        {"no data chunk", wave([](WaveParts& s) { s.withData = false; }), notWave},
        {"ADPCM", wave([](WaveParts& s) { s.formatTag = 2; }), compressed},
        {"float", wave([](WaveParts& s) { s.formatTag = 3; }), compressed},
        {"extensible", wave([](WaveParts& s) { s.formatTag = 0xfffe; }), compressed},
    };
    // A chunk whose size field points past the end of the file, over the data chunk.
    Bytes past = wave([](WaveParts& s) { s.before = {{"LIST", Bytes(8, 0)}}; });
    for (std::size_t i = 40; i < 44; ++i) past[i] = 0xf0;
    r.push_back({"chunk size past the end", past, notWave});
    for (std::uint32_t rate : {22050u, 24000u, 16000u, 11025u, 8000u, 96000u, 0u}) {
        r.push_back({"rate " + std::to_string(rate), wave([rate](WaveParts& s) { s.rate = rate; }),
                     "Unsuported sample rate"});
    }
    return r;
}

TEST_F(Wav2Mp3Test, EachRefusalShowsItsMessageAndWritesNoMp3) {
    for (const Refusal& r : Refusals()) {
        SCOPED_TRACE(r.name);
        boxes_.clear();
        EXPECT_FALSE(Convert(r.wave));
        ExpectOneBox(r.message);
        EXPECT_FALSE(QFileInfo::exists(mp3_));
    }
}

TEST_F(Wav2Mp3Test, NoWaveFileMeansNothingDoneAndNothingSaid) {
    EXPECT_FALSE(Wav2Mp3(nullptr, QString(), mp3_));
    EXPECT_FALSE(Wav2Mp3(nullptr, Path("missing.wav"), mp3_));
    EXPECT_FALSE(Wav2Mp3(nullptr, dir_.path(), mp3_));  // a directory
    ExpectNoBoxes();
    EXPECT_FALSE(QFileInfo::exists(mp3_));
}

TEST_F(Wav2Mp3Test, AnMp3ThatCannotBeCreatedIsNotReportedAsDone) {
    WaveParts parts;
    parts.data = mp3test::Tone({0.5, 0.5}, 1000, 44100, 4000, 16);
    mp3test::WriteFile(Path("file").toStdString(), {1});
    mp3_ = Path("file/take.mp3");  // under a regular file
    EXPECT_FALSE(Convert(mp3test::BuildWave(parts)));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("take.mp3"));
    mp3_ = Path("take.mp3");  // a directory where the file should be
    EXPECT_FALSE(Convert(mp3test::BuildWave(parts)));
    EXPECT_TRUE(QFileInfo(mp3_).isDir());
    ExpectNoBoxes();
}

// A write that fails part way (here the file-size limit, as a full disk would) leaves no cut-off
// MP3 behind.
TEST_F(Wav2Mp3Test, AFailedWriteLeavesNoPartialMp3) {
    WaveParts parts;
    parts.data = mp3test::Tone({0.5, 0.5}, 1000, 44100, 44100 * 5, 16);
    const Bytes wave = mp3test::BuildWave(parts);
    mp3test::WriteFile(wav_.toStdString(), wave);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool done = Wav2Mp3(nullptr, wav_, mp3_);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_FALSE(done);
    EXPECT_FALSE(QFileInfo::exists(mp3_));
    EXPECT_EQ(mp3test::ReadFile(wav_.toStdString()), wave);
    ExpectNoBoxes();
}

// A long conversion keeps the application responsive behind a modal progress display that
// cannot be cancelled, and still returns only when the MP3 is complete.
TEST_F(Wav2Mp3Test, LongConversionShowsModalProgressWithoutCancel) {
    const std::size_t frames = 44100 * 150;
    WaveParts parts;
    parts.data = mp3test::Tone({0.5, 0.5}, 1000, 44100, frames, 16);
    mp3test::WriteFile(wav_.toStdString(), mp3test::BuildWave(parts));

    QWidget window;
    window.show();
    int ticks = 0;
    bool seen = false, cancellable = false, modal = false, stayedUp = true;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<QProgressDialog*>(w);
            if (!progress || !progress->isVisible()) continue;
            if (seen) stayedUp = stayedUp && progress->isVisible();
            seen = true;
            modal = progress->isModal();
            cancellable = cancellable || progress->findChild<QPushButton*>() != nullptr;
            // Neither Escape nor the close box may take it away.
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(progress, &escape);
            progress->close();
            stayedUp = stayedUp && progress->isVisible();
        }
    });
    timer.start(20);
    ASSERT_TRUE(Wav2Mp3(&window, wav_, mp3_));
    timer.stop();

    EXPECT_GT(ticks, 2) << "events were not processed during the conversion";
    EXPECT_TRUE(seen);
    EXPECT_TRUE(modal);
    EXPECT_FALSE(cancellable);
    EXPECT_TRUE(stayedUp);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(qobject_cast<QProgressDialog*>(w) && w->isVisible());
    }
    ExpectLength(Decoded(), 44100, 2, frames);
}

}  // namespace
}  // namespace larkspur
