// The built program on a real X server and a real sound server: a tone plays into the null sink,
// the toolbar is clicked with xdotool (record 3 s, pause 2 s, record 2 s, stop), and the
// automatically named file must hold 5 s of the tone. A full disk and the file-size limit finish
// the recording without a Stop; a second copy in the same folder leaves the first one's alone; a
// recording of a muted output is told at its finish.
#include "tests/support/audio_checks.h"
#include "tests/support/dies_with_test.h"
#include "tests/support/e2e_support.h"
#include "tests/unit/mp3_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>
#include <sys/resource.h>

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

// 44100 Hz, 16 bit, stereo, WAV, automatic naming.
constexpr char kWave44Stereo[] = "[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n";

// One running copy of the program and its main window.
struct Instance {
    QProcess process;
    QString window;
    int x = 0;
    int toolbarY = 0;
};

// The program's visible windows: its main window, and any box it shows.
QStringList WindowsOf(const Instance& program) {
    return Tool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(program.process.processId())})
        .split('\n', Qt::SkipEmptyParts);
}

// Whether the program shows a box beside its main window within 5 s.
bool BoxShown(const Instance& program) {
    QElapsedTimer clock;
    clock.start();
    while (WindowsOf(program).size() < 2 && clock.elapsed() < 5000) QThread::msleep(50);
    return WindowsOf(program).size() == 2;
}

class RecordingProgramTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qgetenv("DISPLAY").isEmpty()) << "runs under its own Xvfb";
        ASSERT_TRUE(program_.Valid());
        ASSERT_TRUE(tone_.Started()) << "runs with its own sound server";
    }

    void TearDown() override {
        for (Instance* i : {&main_, &second_}) {
            if (i->process.state() == QProcess::NotRunning) continue;
            i->process.kill();
            i->process.waitForFinished(5000);
        }
    }

    QString Path(const QString& name) const { return program_.Path(name); }

    void Start(const QByteArray& config) {
        program_.Write("Config.ini", config);
        program_.Start(main_.process);
        Map(main_);
    }

    // Waits for the started program's main window and finds its toolbar.
    void Map(Instance& program) {
        QElapsedTimer clock;
        clock.start();
        QStringList windows;
        while ((windows = WindowsOf(program)).isEmpty() && clock.elapsed() < 10000) QThread::msleep(50);
        ASSERT_FALSE(windows.isEmpty()) << "the window did not map";
        program.window = windows.first();
        const QString g = Tool("xdotool", {"getwindowgeometry", "--shell", program.window});
        auto value = [&](const char* key) {
            return QRegularExpression(QStringLiteral("%1=(\\d+)").arg(key)).match(g).captured(1).toInt();
        };
        program.x = value("X");
        // The toolbar lies below the menu bar, whose height is what the window has beyond 333.
        program.toolbarY = value("Y") + value("HEIGHT") - 333;
        ASSERT_GT(program.toolbarY, value("Y")) << g.toStdString();
    }

    void Click(int buttonLeft, const Instance& program) {
        // From elsewhere first: a synchronous move to where the pointer is waits forever.
        Tool("xdotool", {"mousemove", "0", "0", "mousemove", "--sync", QString::number(program.x + buttonLeft + 20),
                         QString::number(program.toolbarY + 2 + 19), "click", "1"});
    }
    void Click(int buttonLeft) { Click(buttonLeft, main_); }

    QString Caption(const Instance& program) const { return Tool("xdotool", {"getwindowname", program.window}); }
    QString Caption() const { return Caption(main_); }

    void WaitUntil(const QElapsedTimer& clock, qint64 ms) {
        while (clock.elapsed() < ms) QThread::msleep(5);
    }

    // The files of a folder, hidden ones included, once `done` holds for them or after 15 s.
    static QStringList FilesOnceDone(const QString& dir, const std::function<bool(const QStringList&)>& done) {
        QElapsedTimer clock;
        clock.start();
        QStringList names;
        do {
            names = QDir(dir).entryList(QDir::Files | QDir::Hidden);
            if (done(names)) break;
            QThread::msleep(50);
        } while (clock.elapsed() < 15000);
        return names;
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

        const QString finished = Finished(program_.Dir());
        EXPECT_EQ(Tool("xprop", {"-id", main_.window, "_NET_WM_ICON_NAME"}),
                  "_NET_WM_ICON_NAME(UTF8_STRING) = \"Larkspur - Stop\"");
        return finished;
    }

    // Waits until the folder holds one automatically named recording and no temporary file;
    // returns its name.
    static QString Finished(const QString& dir) {
        const QRegularExpression automatic(QStringLiteral("^\\d{4}(_\\d{1,2}){5}\\.(wav|mp3)$"));
        const QStringList names = FilesOnceDone(
            dir, [&](const QStringList& n) { return !n.filter(automatic).isEmpty() && !n.contains("~temp.wav"); });
        EXPECT_FALSE(names.contains("~temp.wav"));
        const QStringList finished = names.filter(automatic);
        EXPECT_EQ(finished.size(), 1) << names.join(' ').toStdString();
        return finished.value(0);
    }

    // Records until the device fails, without a Stop: the recording is finished at once, named,
    // the caption keeps the time recorded, and a box tells of the fault after. `dir` is where
    // the program's files are seen from the test.
    void RecordUntilTheDeviceFails(const QString& dir) {
        QElapsedTimer clock;
        clock.start();
        Click(kRecord);
        const QString name = Finished(dir);
        ASSERT_FALSE(name.isEmpty());
        const double finishedAt = clock.elapsed() / 1000.0;
        const std::string path = (dir + '/' + name).toStdString();
        const auto info = larkspur::test::ReadSoxInfo(path);
        ASSERT_TRUE(info.valid);
        const double length = double(info.samples) / info.rate;
        std::printf("fault after %.2f s of recording; finished file there %.2f s after Record\n", length,
                    finishedAt);
        EXPECT_GT(length, 1.0);
        EXPECT_LT(finishedAt, length + 1.5) << "finished within a tick of the fault";
        EXPECT_NEAR(larkspur::test::ReadSoxStat(path, 0.2, length - 0.4).frequency, 1000, 30);
        // A box follows the finish; the caption shows what was recorded and counts no further.
        EXPECT_TRUE(BoxShown(main_)) << "no box told of the fault";
        const QString caption = Caption();
        QThread::msleep(1200);
        EXPECT_EQ(Caption(), caption);
        EXPECT_EQ(caption, QStringLiteral("Larkspur - 00:00:%1").arg(int(length), 2, 10, QChar('0')));
    }

    larkspur::test::ProgramCopy program_;
    larkspur::test::TonePlayer tone_{larkspur::test::TestSink(), 120};
    Instance main_;
    Instance second_;
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

// A full disk: the program's folder is a small file system of its own (in a mount namespace of
// the program's), with room for about 2 s of recording.
TEST_F(RecordingProgramTest, AFullDiskFinishesTheRecordingAtOnce) {
    program_.Write("Config.ini", kWave44Stereo);
    qint64 size = 0;
    for (const QFileInfo& f : QDir(program_.Dir()).entryInfoList(QDir::Files)) size += f.size();
    const QString full = Path("full");
    ASSERT_TRUE(QDir().mkpath(full));
    main_.process.setProcessChannelMode(QProcess::ForwardedChannels);
    larkspur::test::DieWithTest(main_.process);
    main_.process.start("unshare", {"--mount", "--propagation", "private", "sh", "-c",
                                    "mount -t tmpfs -o size=$2 tmpfs \"$1/full\" && cp -a \"$1\"/larkspur \"$1\"/*.so "
                                    "\"$1\"/Web \"$1\"/Config.ini \"$1/full/\" && exec \"$1/full/larkspur\"",
                                    "sh", program_.Dir(), QString::number((size + 2 * 176400) / 1024) + "k"});
    ASSERT_TRUE(main_.process.waitForStarted(5000));
    Map(main_);
    // The program's files as it sees them.
    RecordUntilTheDeviceFails(QStringLiteral("/proc/%1/root%2").arg(main_.process.processId()).arg(full));
}

// The file-size limit: the program is not killed by it, and finishes what it recorded.
TEST_F(RecordingProgramTest, TheFileSizeLimitFinishesTheRecordingAtOnce) {
    program_.Write("Config.ini", kWave44Stereo);
    main_.process.setChildProcessModifier([] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const rlimit limit{2 * 176400, 2 * 176400};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    main_.process.setProcessChannelMode(QProcess::ForwardedChannels);
    main_.process.start(Path("larkspur"), {});
    ASSERT_TRUE(main_.process.waitForStarted(5000));
    Map(main_);
    RecordUntilTheDeviceFails(program_.Dir());
    EXPECT_EQ(main_.process.state(), QProcess::Running);
}

// A muted output delivers digital silence: the finished recording of it is told once.
TEST_F(RecordingProgramTest, ARecordingOfAMutedOutputIsToldAtItsFinish) {
    const std::string sink = larkspur::test::TestSink();
    ASSERT_EQ(larkspur::test::RunCommand({"pactl", "set-sink-mute", sink, "1"}).status, 0);
    const auto unmute = qScopeGuard([&] { larkspur::test::RunCommand({"pactl", "set-sink-mute", sink, "0"}); });
    Start(kWave44Stereo);
    Click(kRecord);
    QThread::msleep(3500);
    EXPECT_EQ(WindowsOf(main_).size(), 1) << "nothing is told while recording";
    Click(kStop);
    const QString name = Finished(program_.Dir());
    EXPECT_LT(larkspur::test::ReadSoxStat(Path(name).toStdString(), 0, 3.0).maximum, 1e-9);
    EXPECT_TRUE(BoxShown(main_)) << "the silent recording was not told";
}

// A second copy started in the same folder leaves the first one's recording alone: it says so
// and records nothing, and the first records on into its file.
TEST_F(RecordingProgramTest, ASecondCopyInTheSameFolderLeavesTheRecordingAlone) {
    Start(kWave44Stereo);
    QElapsedTimer clock;
    clock.start();
    Click(kRecord);
    program_.Start(second_.process);
    Map(second_);
    // Side by side, so that each can be clicked.
    Tool("xdotool", {"windowmove", "--sync", second_.window, "600", "500"});
    Map(second_);
    Click(kRecord, second_);
    EXPECT_TRUE(BoxShown(second_)) << "the second copy showed no box";
    EXPECT_EQ(Caption(second_), "Larkspur") << "the second copy records nothing";
    EXPECT_EQ(QDir(program_.Dir()).entryList({"*.wav"}, QDir::Files | QDir::Hidden), QStringList{"~temp.wav"})
        << "nothing was moved or kept";
    WaitUntil(clock, 4000);
    Click(kStop);
    const QString name = Finished(program_.Dir());
    const std::string path = Path(name).toStdString();
    const auto info = larkspur::test::ReadSoxInfo(path);
    EXPECT_NEAR(double(info.samples) / info.rate, 4.0, 0.3);
    EXPECT_NEAR(ToneSeconds(WaveChannel(path, 2), 44100), 4.0, 0.3);
}

// The program's folder deleted 3 s into a recording: within a second the recording is back under
// its name, whole, and the user is told; it goes on there, so that a crash after that loses at
// most a second.
TEST_F(RecordingProgramTest, AFolderDeletedDuringARecordingIsMadeAgainWithTheRecordingWhole) {
    Start(kWave44Stereo);
    QElapsedTimer clock;
    clock.start();
    Click(kRecord);
    WaitUntil(clock, 3000);
    ASSERT_TRUE(QDir(program_.Dir()).removeRecursively());
    const QString temp = Path("~temp.wav");
    while (!QFileInfo::exists(temp) && clock.elapsed() < 4500) QThread::msleep(20);
    EXPECT_LT(clock.elapsed(), 4500) << "not brought back within 1.5 s";
    EXPECT_TRUE(BoxShown(main_)) << "the user was not told";
    WaitUntil(clock, 7000);
    main_.process.kill();
    main_.process.waitForFinished(5000);
    const auto info = larkspur::test::ReadSoxInfo(temp.toStdString());
    ASSERT_TRUE(info.valid);
    EXPECT_GT(double(info.samples) / info.rate, 6.0) << "more than a second lost";
    EXPECT_GT(ToneSeconds(WaveChannel(temp.toStdString(), 2), 44100), 5.8);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
