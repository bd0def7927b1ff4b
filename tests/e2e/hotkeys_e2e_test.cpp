// The built program under its own X server and sound server, driven only by global hotkeys typed
// into another program; and the program without its hook library.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>

#include "support/audio_checks.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using testing::OtherXClient;
using testing::Xdotool;

QString Tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000)) p.kill();
    p.waitForFinished();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// Visible windows of the program (its X class).
QStringList ProgramWindows() {
    return Tool("xdotool", {"search", "--onlyvisible", "--class", "^Kestrel Audio Recorder$"})
        .split('\n', Qt::SkipEmptyParts);
}

class ProgramWithHotKeys : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qgetenv("DISPLAY").isEmpty()) << "runs under its own Xvfb";
        ASSERT_TRUE(dir_.isValid());
        out_ = QDir(QString::fromLocal8Bit(qgetenv("LARKSPUR_OUT_DIR")));
    }
    void TearDown() override {
        for (QProcess* p : {&program_, &player_}) {
            if (p->state() == QProcess::NotRunning) continue;
            p->kill();
            p->waitForFinished(5000);
        }
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    // A copy of the program with the given files beside it; its INI files and recordings land there.
    void Install(const QStringList& files) {
        for (const QString& f : files) ASSERT_TRUE(QFile::copy(out_.filePath(f), Path(f))) << f.toStdString();
    }
    void Start() {
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(Path("larkspur"), {});
        ASSERT_TRUE(program_.waitForStarted(5000));
    }
    QStringList WaitForWindows() {
        QElapsedTimer clock;
        clock.start();
        QStringList windows;
        while ((windows = ProgramWindows()).isEmpty() && clock.elapsed() < 10000) QThread::msleep(50);
        return windows;
    }

    QTemporaryDir dir_;
    QTemporaryDir tones_;
    QDir out_;
    QProcess program_;
    QProcess player_;
};

TEST_F(ProgramWithHotKeys, WithoutTheLibraryTheProgramSaysSoOnceAndEndsWithCode1) {
    Install({"larkspur"});
    Start();
    const QStringList windows = WaitForWindows();
    ASSERT_EQ(windows.size(), 1) << "only the message box, no main window";
    EXPECT_TRUE(Tool("xprop", {"-id", windows[0], "_NET_WM_WINDOW_TYPE"}).contains("_NET_WM_WINDOW_TYPE_DIALOG"));
    // The box's text is checked where the boxes can be recorded (hotkeys_hook_library_test); here
    // its caption, and that closing it ends the program rather than showing anything else.
    EXPECT_EQ(Tool("xdotool", {"getwindowname", windows[0]}), "Larkspur");
    Xdotool({"windowfocus", "--sync", windows[0]});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(program_.waitForFinished(10000)) << "still running after the message";
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 1);
    EXPECT_FALSE(QFile::exists(Path("HotKey.ini")));  // it ended before reading the hotkeys
}

TEST_F(ProgramWithHotKeys, F12RecordsPausesAndResumesAndF11StopsWhileAnotherProgramHasTheFocus) {
    const QString sink = QString::fromLocal8Bit(qgetenv("LARKSPUR_TEST_SINK"));
    ASSERT_FALSE(sink.isEmpty()) << "runs with its own sound server";
    Install({"larkspur", "libkbtap.so"});
    QFile config(Path("Config.ini"));  // WAV, 44100 Hz, 16 bit, stereo, named automatically
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n");
    config.close();
    const QString tone = tones_.filePath("tone.wav");
    ASSERT_EQ(Tool("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "60", "sine", "1000", "vol",
                           "0.5"}),
              "");
    player_.start("paplay", {"--latency-msec=50", "-d", sink, tone});
    ASSERT_TRUE(player_.waitForStarted());

    Start();
    const QStringList windows = WaitForWindows();
    ASSERT_EQ(windows.size(), 1);
    const QString window = windows[0];
    QFile hotkeys(Path("HotKey.ini"));  // created with F12 and F11
    ASSERT_TRUE(hotkeys.open(QIODevice::ReadOnly));
    EXPECT_EQ(hotkeys.readAll(), "[HotKey]\nCount=2\nHotKey0={\nCASKey0=0\nHotKey1=z\nCASKey1=0\n");
    OtherXClient other;
    auto caption = [&] { return Tool("xdotool", {"getwindowname", window}); };

    QElapsedTimer clock;
    clock.start();
    auto at = [&](qint64 ms) {
        while (clock.elapsed() < ms) QThread::msleep(5);
    };
    Xdotool({"key", "F12"});  // record
    at(1500);
    EXPECT_EQ(caption(), "Larkspur - 00:00:01");
    at(3000);
    Xdotool({"key", "F12"});  // pause
    at(4000);
    EXPECT_TRUE(QRegularExpression("^Larkspur - 00:00:0[23]( Paused)?$").match(caption()).hasMatch())
        << caption().toStdString();
    at(5000);
    Xdotool({"key", "F12"});  // resume
    at(7000);
    Xdotool({"key", "F11"});  // stop

    const QRegularExpression automatic("^\\d{4}(_\\d{1,2}){5}\\.wav$");
    QStringList finished;
    while (clock.elapsed() < 20000) {
        finished = QDir(dir_.path()).entryList(QDir::Files).filter(automatic);
        if (!finished.isEmpty() && !QFile::exists(Path("~temp.wav"))) break;
        QThread::msleep(50);
    }
    ASSERT_EQ(finished.size(), 1);
    const std::string path = Path(finished[0]).toStdString();
    const auto info = test::ReadSoxInfo(path);
    ASSERT_TRUE(info.valid);
    EXPECT_NEAR(double(info.samples) / info.rate, 5.0, 0.3);
    // The tone throughout, before and after the pause: tenths of a second at its level and pitch.
    int toneTenths = 0;
    for (int tenth = 0; tenth < 50; ++tenth) {
        const auto stat = test::ReadSoxStat(path, tenth / 10.0, 0.1);
        ASSERT_TRUE(stat.valid);
        if (std::abs(stat.rms - 0.354) < 0.03 && std::abs(stat.frequency - 1000) < 50) ++toneTenths;
    }
    EXPECT_GE(toneTenths, 47);
    EXPECT_EQ(other.PressesOf("F12"), 3);  // the focused program got the keys as well
    EXPECT_EQ(other.PressesOf("F11"), 1);
    EXPECT_TRUE(QRegularExpression("^Larkspur - 00:00:0[45]$").match(caption()).hasMatch())
        << caption().toStdString();  // the final time stays
}

}  // namespace
}  // namespace larkspur
