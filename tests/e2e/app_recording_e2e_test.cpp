// The built program on a real X server and a real sound server: a tone plays into the null sink,
// the toolbar is clicked with xdotool (record 3 s, pause 2 s, record 2 s, stop), and the
// automatically named file must hold 5 s of the tone.
#include "tests/support/audio_checks.h"
#include "tests/support/e2e_support.h"
#include "tests/unit/mp3_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using larkspur::test::Tool;

// How long the 1 kHz tone at half scale sounds in x: 10 ms blocks whose level is the tone's.
double ToneSeconds(const std::vector<double>& x, double rate) {
    const std::size_t block = std::size_t(rate / 100);
    int blocks = 0;
    for (std::size_t at = 0; at + block <= x.size(); at += block) {
        const double rms = mp3test::Rms(std::vector<double>(x.begin() + at, x.begin() + at + block));
        if (std::abs(rms - 0.5 / std::sqrt(2.0)) < 0.03) ++blocks;
    }
    return blocks / 100.0;
}

// The first channel of a 16-bit PCM wave file with the 44-byte header the recorder writes.
std::vector<double> WaveChannel(const std::string& path, int channels) {
    const mp3test::Bytes b = mp3test::ReadFile(path);
    std::vector<double> x;
    for (std::size_t at = 44; at + 2 * channels <= b.size(); at += 2 * channels) {
        x.push_back(std::int16_t(b[at] | b[at + 1] << 8) / 32768.0);
    }
    return x;
}

// Toolbar buttons by their left edge; each is 41 x 39 pixels, 2 pixels below the toolbar's top.
constexpr int kRecord = 0;
constexpr int kPause = 41;
constexpr int kStop = 82;

class RecordingProgramTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qgetenv("DISPLAY").isEmpty()) << "runs under its own Xvfb";
        ASSERT_TRUE(program_.Valid());
        ASSERT_TRUE(tone_.Started()) << "runs with its own sound server";
    }

    void TearDown() override {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }

    QString Path(const QString& name) const { return program_.Path(name); }

    void Start(const QByteArray& config) {
        program_.Write("Config.ini", config);
        program_.Start(process_);
        const QStringList windows = larkspur::test::WaitForProgramWindows();
        ASSERT_FALSE(windows.isEmpty()) << "the window did not map";
        window_ = windows.first();
        const QString g = Tool("xdotool", {"getwindowgeometry", "--shell", window_});
        auto value = [&](const char* key) {
            return QRegularExpression(QStringLiteral("%1=(\\d+)").arg(key)).match(g).captured(1).toInt();
        };
        x_ = value("X");
        // The toolbar lies below the menu bar, whose height is what the window has beyond 333.
        toolbarY_ = value("Y") + value("HEIGHT") - 333;
        ASSERT_GT(toolbarY_, value("Y")) << g.toStdString();
    }

    void Click(int buttonLeft) {
        Tool("xdotool", {"mousemove", "--sync", QString::number(x_ + buttonLeft + 20),
             QString::number(toolbarY_ + 2 + 19), "click", "1"});
    }

    QString Caption() const { return Tool("xdotool", {"getwindowname", window_}); }

    void WaitUntil(const QElapsedTimer& clock, qint64 ms) {
        while (clock.elapsed() < ms) QThread::msleep(5);
    }

    // Record 3 s, pause 2 s, record 2 s, stop, each click on time measured from the first; the
    // caption is read from the X server along the way. Returns the finished file's name.
    QString RecordPauseResumeStop() {
        QElapsedTimer clock;
        clock.start();
        Click(kRecord);
        WaitUntil(clock, 2750);  // between the ticks of 2.5 s and 3 s
        EXPECT_EQ(Caption(), "Larkspur - 00:00:02");
        WaitUntil(clock, 3000);
        Click(kPause);
        WaitUntil(clock, 4000);
        EXPECT_TRUE(QRegularExpression("^Larkspur - 00:00:0[23]( Paused)?$").match(Caption()).hasMatch())
            << Caption().toStdString();
        WaitUntil(clock, 5000);
        Click(kRecord);
        WaitUntil(clock, 6750);
        EXPECT_EQ(Caption(), "Larkspur - 00:00:04") << "goes on from the pause";
        WaitUntil(clock, 7000);
        Click(kStop);

        // The finished file appears and the temporary one goes.
        const QRegularExpression automatic(QStringLiteral("^\\d{4}(_\\d{1,2}){5}\\.(wav|mp3)$"));
        QStringList names;
        while (clock.elapsed() < 20000) {
            names = QDir(program_.Dir()).entryList(QDir::Files | QDir::Hidden);
            if (!names.filter(automatic).isEmpty() && !names.contains("~temp.wav")) break;
            QThread::msleep(50);
        }
        EXPECT_FALSE(names.contains("~temp.wav"));
        const QStringList finished = names.filter(automatic);
        EXPECT_EQ(finished.size(), 1) << names.join(' ').toStdString();
        EXPECT_EQ(Tool("xprop", {"-id", window_, "_NET_WM_ICON_NAME"}),
                  "_NET_WM_ICON_NAME(UTF8_STRING) = \"Larkspur - Stop\"");
        return finished.value(0);
    }

    larkspur::test::ProgramCopy program_;
    larkspur::test::TonePlayer tone_{larkspur::test::TestSink(), 120};
    QProcess process_;
    QString window_;
    int x_ = 0;
    int toolbarY_ = 0;
};

TEST_F(RecordingProgramTest, AWaveRecordingHoldsTheToneForFiveSecondsInTheChosenFormat) {
    // 22050 Hz, 16 bit, mono, WAV, automatic naming.
    Start("[Audio]\nFormat=0\nRate=3\nSize=0\nTrack=1\n[General]\nPlay=0\nAVIName=0\n");
    const QString name = RecordPauseResumeStop();
    ASSERT_TRUE(name.endsWith(".wav")) << name.toStdString();
    const std::string path = Path(name).toStdString();
    const auto info = larkspur::test::ReadSoxInfo(path);
    ASSERT_TRUE(info.valid);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.rate, 22050);
    EXPECT_EQ(info.bits, 16);
    EXPECT_NEAR(double(info.samples) / info.rate, 5.0, 0.3);
    EXPECT_NEAR(ToneSeconds(WaveChannel(path, 1), 22050), 5.0, 0.3);
    for (double at : {1.5, 3.5}) {  // before and after the pause
        const auto stat = larkspur::test::ReadSoxStat(path, at, 1.0);
        ASSERT_TRUE(stat.valid);
        EXPECT_NEAR(stat.frequency, 1000, 30) << "at " << at;
    }
}

TEST_F(RecordingProgramTest, AnMp3RecordingHoldsTheToneForFiveSeconds) {
    // 44100 Hz, 16 bit, stereo, MP3, automatic naming.
    Start("[Audio]\nFormat=1\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n");
    const QString name = RecordPauseResumeStop();
    ASSERT_TRUE(name.endsWith(".mp3")) << name.toStdString();
    const mp3test::DecodedMp3 d = mp3test::Decode(Path(name).toStdString());
    ASSERT_EQ(d.rate, 44100);
    ASSERT_EQ(d.channels, 2);
    for (const auto& f : d.frames) EXPECT_EQ(f.bitrate, 192);
    // The decoder also returns the encoder's delay and padding (at most one frame of 1152).
    const auto dp = mp3test::LameDelayPadding(44100, 2, 5 * 44100);
    const double seconds = double(d.Frames() - dp.delay) / 44100;
    EXPECT_GT(seconds, 5.0 - 0.3);
    EXPECT_LT(seconds, 5.0 + 0.3 + 1152.0 / 44100);
    EXPECT_NEAR(ToneSeconds(mp3test::Channel(d.samples, 2, 0, dp.delay, d.Frames() - dp.delay), 44100), 5.0,
                0.3);
    for (double at : {1.5, 3.5}) {
        const auto x = mp3test::Channel(d.samples, 2, 0, std::size_t(at * 44100) + dp.delay, 44100);
        EXPECT_NEAR(mp3test::Rms(x), 0.5 / std::sqrt(2.0), 0.02) << "at " << at;
        EXPECT_NEAR(mp3test::Frequency(x, 44100), 1000, 5) << "at " << at;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
