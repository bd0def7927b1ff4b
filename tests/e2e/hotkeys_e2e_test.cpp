// The built program under its own X server and sound server, driven only by global hotkeys typed
// into another program; and the program without its hook library.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <cmath>
#include <memory>
#include <unistd.h>

#include "support/audio_checks.h"
#include "support/e2e_support.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using test::Tool;
using testing::OtherXClient;
using testing::Xdotool;

// The recording the program finished under an automatic name, once the temporary file is gone,
// waiting until the clock reaches untilMs; empty when there is none.
std::string FinishedRecording(const test::ProgramCopy& program, const QElapsedTimer& clock, qint64 untilMs) {
    const QRegularExpression automatic("^\\d{4}(_\\d{1,2}){5}\\.wav$");
    QStringList finished;
    while (clock.elapsed() < untilMs) {
        finished = QDir(program.Dir()).entryList(QDir::Files).filter(automatic);
        if (!finished.isEmpty() && !QFile::exists(program.Path("~temp.wav"))) break;
        QThread::msleep(50);
    }
    return finished.size() == 1 ? program.Path(finished[0]).toStdString() : std::string();
}

// Points DISPLAY at another X server while it lives.
class DisplayFor {
public:
    explicit DisplayFor(const QByteArray& display) { qputenv("DISPLAY", display); }
    ~DisplayFor() { qputenv("DISPLAY", old_); }

private:
    QByteArray old_ = qgetenv("DISPLAY");
};

class ProgramWithHotKeys : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(qgetenv("DISPLAY").isEmpty()) << "runs under its own Xvfb"; }
    void TearDown() override {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }

    // A tone playing for the given seconds, and a copy of the program that records WAV (44100 Hz,
    // 16 bit, stereo), named automatically.
    void ToneAndWaveProgram(double seconds) {
        tone_ = std::make_unique<test::TonePlayer>(test::TestSink(), seconds);
        ASSERT_TRUE(tone_->Started()) << "runs with its own sound server";
        program_ = std::make_unique<test::ProgramCopy>();
        ASSERT_TRUE(program_->Valid());
        program_->Write("Config.ini", "[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n");
    }

    std::unique_ptr<test::TonePlayer> tone_;
    std::unique_ptr<test::ProgramCopy> program_;
    QProcess process_;
};

TEST_F(ProgramWithHotKeys, WithoutTheLibraryTheProgramSaysSoOnceAndEndsWithCode1) {
    const test::ProgramCopy program({"larkspur"});
    ASSERT_TRUE(program.Valid());
    program.Start(process_);
    const QStringList windows = test::WaitForProgramWindows();
    ASSERT_EQ(windows.size(), 1) << "only the message box, no main window";
    EXPECT_TRUE(Tool("xprop", {"-id", windows[0], "_NET_WM_WINDOW_TYPE"}).contains("_NET_WM_WINDOW_TYPE_DIALOG"));
    // The box's text is checked where the boxes can be recorded (hotkeys_hook_library_test); here
    // its caption, and that closing it ends the program rather than showing anything else.
    EXPECT_EQ(Tool("xdotool", {"getwindowname", windows[0]}), "Larkspur");
    Xdotool({"windowfocus", "--sync", windows[0]});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(process_.waitForFinished(10000)) << "still running after the message";
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 1);
    EXPECT_FALSE(QFile::exists(program.Path("HotKey.ini")));  // it ended before reading the hotkeys
}

TEST_F(ProgramWithHotKeys, F12RecordsPausesAndResumesAndF11StopsWhileAnotherProgramHasTheFocus) {
    ASSERT_NO_FATAL_FAILURE(ToneAndWaveProgram(120));
    const test::ProgramCopy& program = *program_;
    program.Start(process_);
    const QStringList windows = test::WaitForProgramWindows();
    ASSERT_EQ(windows.size(), 1);
    const QString window = windows[0];
    QFile hotkeys(program.Path("HotKey.ini"));  // created with F12 and F11
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

    const std::string path = FinishedRecording(program, clock, 20000);
    ASSERT_FALSE(path.empty());
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

// Drives the desktop's stand-in shortcuts backend (tests/fixtures/portal_backend.py).
QString Backend(const QString& method, const QStringList& args = {}) {
    return Tool("dbus-send", QStringList{"--session", "--print-reply=literal", "--reply-timeout=3000",
                                         "--dest=" + qEnvironmentVariable("LARKSPUR_TEST_PORTAL_BACKEND"),
                                         "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Mock." + method} +
                             args);
}

// On a Wayland session the desktop's global shortcuts drive the program (under XWayland, here
// Xvfb): Record/Pause starts a recording, pauses it, Stop finishes the file.
TEST_F(ProgramWithHotKeys, OnWaylandTheDesktopsShortcutsRecordPauseAndStop) {
    ASSERT_NO_FATAL_FAILURE(ToneAndWaveProgram(60));
    const test::ProgramCopy& program = *program_;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_SESSION_TYPE", "wayland");
    env.insert("WAYLAND_DISPLAY", "wayland-test");
    process_.setProcessEnvironment(env);
    program.Start(process_);
    ASSERT_EQ(test::WaitForProgramWindows().size(), 1);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && !Backend("Bound").contains("stop")) QThread::msleep(50);
    ASSERT_TRUE(Backend("Bound").contains("record-pause"));

    clock.restart();
    Backend("Activate", {"string:record-pause"});  // record
    while (clock.elapsed() < 2000) QThread::msleep(5);
    Backend("Activate", {"string:record-pause"});  // pause
    while (clock.elapsed() < 3000) QThread::msleep(5);
    Backend("Activate", {"string:stop"});
    const std::string path = FinishedRecording(program, clock, 15000);
    ASSERT_FALSE(path.empty());
    const auto info = test::ReadSoxInfo(path);
    ASSERT_TRUE(info.valid);
    EXPECT_NEAR(double(info.samples) / info.rate, 2.0, 0.3);
    const auto stat = test::ReadSoxStat(path, 0.2, 1.5);
    EXPECT_NEAR(stat.frequency, 1000, 50);
    EXPECT_NEAR(stat.rms, 0.354, 0.03);
}

// The X server killed under a recording (a logout): the program ends at once without a crash,
// its temporary file holds what was recorded, and the next recording keeps it and records while
// the box telling so is up.
TEST_F(ProgramWithHotKeys, TheXServerKilledUnderARecordingEndsItAndTheNextRecordingKeepsTheFile) {
    ASSERT_NO_FATAL_FAILURE(ToneAndWaveProgram(60));
    const test::ProgramCopy& program = *program_;
    {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        auto server = std::make_unique<test::Child>(
            std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"},
            std::vector<std::string>{}, pipeFds[1]);
        ::close(pipeFds[1]);
        char number[16] = {};
        const ssize_t got = ::read(pipeFds[0], number, sizeof number - 1);
        ::close(pipeFds[0]);
        ASSERT_GT(got, 0);
        const DisplayFor display(":" + QByteArray(number).trimmed());
        program.Start(process_);
        const QStringList windows = test::WaitForProgramWindows();
        ASSERT_EQ(windows.size(), 1);
        Xdotool({"key", "F12"});
        QElapsedTimer recording;
        recording.start();
        while (recording.elapsed() < 5000 && QFileInfo(program.Path("~temp.wav")).size() < 200000)
            QThread::msleep(20);
        server.reset();  // killed
        ASSERT_TRUE(process_.waitForFinished(5000)) << "still running 5 s after the X server went";
        EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit) << "no crash";
    }
    const auto left = test::ReadSoxInfo(program.Path("~temp.wav").toStdString());
    ASSERT_TRUE(left.valid);
    EXPECT_GT(double(left.samples) / left.rate, 0.8);

    program.Start(process_);
    ASSERT_EQ(test::WaitForProgramWindows().size(), 1);
    QElapsedTimer clock;
    clock.start();
    Xdotool({"key", "F12"});
    // Told where it went, in a box in front of the main window.
    QStringList windows;
    for (int i = 0; i < 100 && (windows = test::WaitForProgramWindows()).size() < 2; ++i) QThread::msleep(50);
    ASSERT_EQ(windows.size(), 2);
    const QStringList kept = QDir(program.Dir()).entryList({"*_*_*.wav"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    const auto stat = test::ReadSoxStat(program.Path(kept[0]).toStdString(), 0.3, 0.4);
    EXPECT_NEAR(stat.frequency, 1000, 50);
    EXPECT_NEAR(stat.rms, 0.354, 0.03);

    // The recording ran from the key on, whatever the box waits for: F11 with the box still up
    // finishes 3 s of it.
    while (clock.elapsed() < 3000) QThread::msleep(5);
    Xdotool({"key", "F11"});
    QStringList recordings;
    while (clock.elapsed() < 15000 &&
           ((recordings = QDir(program.Dir()).entryList({"*_*_*.wav"}, QDir::Files)).size() < 2 ||
            QFile::exists(program.Path("~temp.wav"))))
        QThread::msleep(50);
    recordings.removeAll(kept[0]);
    ASSERT_EQ(recordings.size(), 1) << "F11 while the box was up finished nothing";
    const std::string path = program.Path(recordings[0]).toStdString();
    const auto info = test::ReadSoxInfo(path);
    ASSERT_TRUE(info.valid);
    EXPECT_NEAR(double(info.samples) / info.rate, 3.0, 0.3);
    const auto tone = test::ReadSoxStat(path, 0.2, 2.4);
    EXPECT_NEAR(tone.frequency, 1000, 50);
    EXPECT_NEAR(tone.rms, 0.354, 0.03);
}

}  // namespace
}  // namespace larkspur
