// Record, Pause, Stop and the timer on the real main window (offscreen), with the recording device
// over a capture double and both clocks moved by the test.
#include "app/recording_control.h"
#include "audio/media_player.h"
#include "audio/wave_file.h"
#include "platform/error_box.h"
#include "tests/gui/app_recording_support.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QAction>
#include <QTest>
#include <QTimer>
#include <QScopeGuard>
#include <QToolButton>

#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

namespace larkspur::test {
namespace {

struct Layout {
    bool record, pause, stop, options, menus, timer;
    bool operator==(const Layout&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Layout& l) {
    return os << "record " << l.record << " pause " << l.pause << " stop " << l.stop << " options " << l.options
              << " menus " << l.menus << " timer " << l.timer;
}

constexpr Layout kIdle{true, true, true, true, true, false};
constexpr Layout kRecording{false, true, true, false, false, true};
constexpr Layout kPaused{true, false, true, false, false, true};

// The folder read-only for the rest of the scope, in a mount namespace of this thread's own, so
// that even root cannot write there. Needs root.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : dir_(QFile::encodeName(path)) {
        ok_ = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
              mount(dir_.constData(), dir_.constData(), nullptr, MS_BIND, nullptr) == 0 &&
              mount(nullptr, dir_.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFolder() { umount2(dir_.constData(), MNT_DETACH); }
    bool Ok() const { return ok_; }

private:
    QByteArray dir_;
    bool ok_ = false;
};

class RecordingWindowTest : public RecorderTest {
protected:
    Layout Now() const {
        const TForm1& f = *form_;
        const bool options = f.ToolButton5->isEnabled();
        EXPECT_EQ(f.ToolButton6->isEnabled(), options);
        EXPECT_EQ(f.ToolButton7->isEnabled(), options);
        const bool menus = f.File1->isEnabled();
        EXPECT_EQ(f.Options1->isEnabled(), menus);
        EXPECT_EQ(f.Help1->isEnabled(), menus);
        return {f.ToolButton1->isEnabled(), f.ToolButton2->isEnabled(), f.ToolButton3->isEnabled(), options, menus,
                f.Timer1->isActive()};
    }
    QString Caption() const { return form_->windowTitle(); }
    // The application title, which is also the window's task-bar text.
    QString Title() const {
        EXPECT_EQ(form_->windowIconText(), ApplicationTitle());
        return ApplicationTitle();
    }
};

TEST_F(RecordingWindowTest, StartsIdle) {
    EXPECT_EQ(Now(), kIdle);
    EXPECT_EQ(Caption(), "Larkspur");
    EXPECT_FALSE(form_->IsRecording());
    EXPECT_FALSE(form_->IsPaused());
    EXPECT_FALSE(form_->IsFinishing());
    EXPECT_EQ(form_->Timer1->interval(), 500);
}

TEST_F(RecordingWindowTest, PauseAndStopWithoutARecordingChangeNothing) {
    form_->ToolButton2Click();
    EXPECT_EQ(Now(), kIdle);
    form_->ToolButton3Click();
    EXPECT_EQ(Now(), kIdle);
    EXPECT_EQ(Caption(), "Larkspur");
    EXPECT_EQ(Title(), "Larkspur");
    EXPECT_TRUE(capture_->Commands().empty());
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(RecordingWindowTest, RecordStartsTheDeviceOnAFreshTemplateAndShowsZero) {
    ChooseFormat(2, 1, 1);  // 24000 Hz, 8 bit, mono
    form_->ToolButton1Click();
    EXPECT_EQ(Now(), kRecording);
    EXPECT_TRUE(form_->IsRecording());
    EXPECT_FALSE(form_->IsPaused());
    EXPECT_EQ(Caption(), "Larkspur - 00:00:00");
    EXPECT_EQ(Title(), "Larkspur - 00:00:00");
    EXPECT_EQ(capture_->Commands(),
              (std::vector<std::string>{"open |" + TempPath().toStdString(), "start"}));
    EXPECT_EQ(capture_->Format(), (WaveFormat{1, 24000, 8}));
    EXPECT_EQ(form_->Recording().StartTime(), clock_.LocalTime());
    EXPECT_EQ(form_->Recording().TempPath(), TempPath());
}

TEST_F(RecordingWindowTest, AListWithoutASelectionRecordsWithItsFirstEntry) {
    ChooseFormat(-1, -1, 1);
    form_->ToolButton1Click();
    EXPECT_EQ(capture_->Format(), (WaveFormat{1, 44100, 16}));
    form_->ToolButton3Click();
    ChooseFormat(4, 1, -1);
    form_->ToolButton1Click();
    EXPECT_EQ(capture_->Format(), (WaveFormat{2, 16000, 8}));
}

TEST_F(RecordingWindowTest, TicksShowTheElapsedTime) {
    form_->ToolButton1Click();
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:00");
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:01");
    EXPECT_EQ(Title(), "00:00:01");
    RecordFor(64s);
    EXPECT_EQ(Caption(), "Larkspur - 00:01:05");
    EXPECT_EQ(Title(), "00:01:05");
    EXPECT_EQ(Now(), kRecording);
}

// The bottom strip shows the source while a recording exists and is empty after; a recording
// of nothing but digital silence is told once at its finish, one with sound is not.
TEST_F(RecordingWindowTest, TheStripFollowsTheRecordingAndASilentOneIsToldAtTheFinish) {
    // Off screen the strip is neither read nor painted.
    form_->ToolButton1Click();
    RecordFor(1s);
    QTest::qWait(120);
    EXPECT_TRUE(form_->Panel1->text().isEmpty());
    // Once on screen it follows the same recording.
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form_->Panel1->text().isEmpty(); }, 2000));
    form_->ToolButton3Click();
    TakeBoxes();
    for (const bool silent : {false, true}) {
        capture_->DeliverSilence(silent);
        form_->ToolButton1Click();
        RecordFor(4s);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form_->Panel1->text().isEmpty(); }, 2000));
        form_->ToolButton3Click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form_->Panel1->text().isEmpty(); }, 2000));
        const auto boxes = TakeBoxes();
        ASSERT_EQ(boxes.size(), silent ? 1u : 0u) << "silent " << silent;
        if (silent) {
            EXPECT_TRUE(boxes[0].text.contains("only silence")) << boxes[0].text.toStdString();
        }
    }
}

// A steady level lets the meter stop reading; the first samples that show differently bring it
// back at once, not at the next tick, and silence is told in time.
TEST_F(RecordingWindowTest, ARestingMeterFollowsAChangeAtOnce) {
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    const auto* reading = form_->findChild<QTimer*>("levelTimer");
    ASSERT_TRUE(reading);
    form_->ToolButton1Click();
    form_->Timer1->stop();  // no tick reads the levels
    const auto barsAt = [&](double db) {
        const auto& shown = form_->Panel1->Shown();
        return shown && shown->bars[0].db == db && shown->bars[1].db == db;
    };
    // Fragment after fragment of the tone, then of silence, then of the tone again.
    for (const bool silent : {false, true, false}) {
        capture_->DeliverSilence(silent);
        Pass(10ms);
        EXPECT_TRUE(QTest::qWaitFor([&] { return barsAt(silent ? LevelMeter::kFloorDb : -6.0); }, 2000))
            << "silent " << silent;
        EXPECT_TRUE(QTest::qWaitFor([&] { Pass(40ms); return !reading->isActive(); }, 5000)) << "silent " << silent;
        // Silence rests only once it is told.
        ASSERT_TRUE(form_->Panel1->Shown());
        EXPECT_EQ(form_->Panel1->Shown()->silent, silent);
    }
    // Held still through a Save dialog, the strip still empties once the recording is gone.
    ChooseAskForName(true);
    WhenSaveDialogShows([&](QFileDialog* dialog) {
        QTest::qWaitFor([&] { Pass(40ms); return false; }, 1000);
        dialog->reject();
    });
    form_->ToolButton3Click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->Panel1->text().isEmpty(); }, 1000));
}

// On the real clocks and the real timer: every second tick shows the second it ends, so that
// 00:00:01 comes after one second, not one and a half.
TEST_F(RecordingWindowTest, OnTheRealTimerEachWholeSecondShowsOnItsTick) {
    SetClockForTest(nullptr);
    QStringList seen;
    QObject::connect(form_->Timer1, &QTimer::timeout, form_.get(), [&] { seen << Caption(); });
    form_->ToolButton1Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 4; }, 5000));
    form_->ToolButton3Click();
    EXPECT_EQ(seen.mid(0, 4), (QStringList{"Larkspur - 00:00:00", "Larkspur - 00:00:01", "Larkspur - 00:00:01",
                                           "Larkspur - 00:00:02"}));
}

TEST_F(RecordingWindowTest, PauseBlinksAndResumeContinuesWhereItStopped) {
    form_->ToolButton1Click();
    const SystemTime start = form_->Recording().StartTime();
    RecordFor(10s);
    form_->ToolButton2Click();
    EXPECT_EQ(Now(), kPaused);
    EXPECT_TRUE(form_->IsPaused());
    EXPECT_EQ(capture_->Commands().back(), "stop");
    EXPECT_EQ(form_->Recording().PausedCaption(), "Larkspur - 00:00:10");
    EXPECT_EQ(form_->Recording().PauseTime(), clock_.LocalTime());

    const char* captions[] = {"Larkspur - 00:00:10 Paused", "Larkspur - 00:00:10"};
    const char* titles[] = {"00:00:10 Paused", "00:00:10"};
    for (int i = 0; i < 10; ++i) {  // five seconds
        Ticks(1);
        EXPECT_EQ(Caption(), captions[i % 2]) << "tick " << i;
        EXPECT_EQ(Title(), titles[i % 2]) << "tick " << i;
        EXPECT_EQ(form_->Timer1->Tag, 1 - i % 2);
    }

    form_->ToolButton1Click();
    EXPECT_EQ(Now(), kRecording);
    EXPECT_FALSE(form_->IsPaused());
    EXPECT_EQ(capture_->Commands().back(), "start");
    // The start time moves forward by the five paused seconds.
    const SystemTime shifted = form_->Recording().StartTime();
    EXPECT_EQ(shifted.hour * 3600 + shifted.minute * 60 + shifted.second,
              start.hour * 3600 + start.minute * 60 + start.second + 5);
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:10");
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:11");
    EXPECT_EQ(capture_->Captured(), 11s);
}

TEST_F(RecordingWindowTest, TheBlinkPhaseIsCarriedIntoTheNextPause) {
    form_->ToolButton1Click();
    RecordFor(2s);
    form_->ToolButton2Click();
    Ticks(3);  // odd: the last tick showed " Paused"
    EXPECT_EQ(Caption(), "Larkspur - 00:00:02 Paused");
    form_->ToolButton1Click();
    RecordFor(2s);
    form_->ToolButton2Click();
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:04");
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:04 Paused");
}

TEST_F(RecordingWindowTest, StopWhileRecordingShowsTheFinalTimeAndReturnsToIdle) {
    form_->ToolButton1Click();
    RecordFor(3s);
    Pass(600ms);
    form_->ToolButton3Click();
    EXPECT_EQ(Now(), kIdle);
    EXPECT_FALSE(form_->IsRecording());
    EXPECT_FALSE(form_->IsFinishing());
    EXPECT_EQ(Caption(), "Larkspur - 00:00:03");
    EXPECT_EQ(Title(), "Larkspur - Stop");
    EXPECT_EQ(capture_->Commands(),
              (std::vector<std::string>{"open |" + TempPath().toStdString(), "start", "stop",
                                        "save " + TempPath().toStdString(), "close"}));
}

TEST_F(RecordingWindowTest, StopWhilePausedTicksOnceMore) {
    form_->ToolButton1Click();
    RecordFor(4s);
    form_->ToolButton2Click();
    Ticks(1);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:04 Paused");
    form_->ToolButton3Click();
    EXPECT_EQ(Caption(), "Larkspur - 00:00:04");
    EXPECT_EQ(Title(), "Larkspur - Stop");
    EXPECT_EQ(Now(), kIdle);
    EXPECT_EQ(form_->Recording().State(), RecordingState::Idle);
    const auto& c = capture_->Commands();
    ASSERT_GE(c.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(c.end() - 4, c.end()),
              (std::vector<std::string>{"stop", "stop", "save " + TempPath().toStdString(), "close"}));
    EXPECT_EQ(Files(), QStringList{"2006_3_7_14_5_13.wav"});
    EXPECT_EQ(WaveMilliseconds(Dir() + "2006_3_7_14_5_13.wav"), 4000);
}

TEST_F(RecordingWindowTest, ASecondRecordingStartsAgainAtZero) {
    form_->ToolButton1Click();
    RecordFor(3s);
    form_->ToolButton2Click();
    Ticks(2);
    form_->ToolButton3Click();
    capture_->ClearCommands();

    form_->ToolButton1Click();
    EXPECT_FALSE(form_->IsPaused());
    EXPECT_EQ(Now(), kRecording);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:00");
    EXPECT_EQ(capture_->Commands().front(), "open |" + TempPath().toStdString());
    EXPECT_EQ(QFileInfo(TempPath()).size(), 44);
    Ticks(2);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:01");
}

TEST_F(RecordingWindowTest, MidnightAndClockChangesDoNotDisturbTheTime) {
    clock_.SetLocal(2006, 12, 31, 23, 59, 55);
    form_->ToolButton1Click();
    RecordFor(10s);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:10");
    clock_.Jump(-std::chrono::hours(1));  // the clock is set back an hour
    Ticks(2);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:11");
    form_->ToolButton2Click();
    clock_.Jump(std::chrono::hours(3));
    Ticks(4);
    form_->ToolButton1Click();
    Ticks(2);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:12");
    EXPECT_EQ(Title(), "00:00:12");
}

// Every way to the three commands runs them: the toolbar's buttons, found by the names assistive
// technology reads, and the File menu's items, found by their text.
TEST_F(RecordingWindowTest, TheToolbarAndTheFileMenuRunRecordPauseAndStop) {
    const auto button = [&](const QString& name) {
        for (auto* b : form_->findChildren<QToolButton*>())
            if (b->accessibleName() == name) return b;
        ADD_FAILURE() << "no button " << name.toStdString();
        return static_cast<QToolButton*>(nullptr);
    };
    const auto item = [&](const QString& text) {
        for (QAction* a : form_->File1->actions())
            if (a->text() == text) return a;
        ADD_FAILURE() << "no File item " << text.toStdString();
        return static_cast<QAction*>(nullptr);
    };
    const auto state = [&] { return form_->Recording().State(); };
    for (const bool menu : {false, true}) {
        SCOPED_TRACE(menu ? "File menu" : "toolbar");
        const auto press = [&](const QString& command) {
            if (menu) return item(command)->trigger();
            button(command)->click();
        };
        press("Record");
        EXPECT_EQ(state(), RecordingState::Recording);
        RecordFor(1s);
        press("Pause");
        EXPECT_EQ(state(), RecordingState::Paused);
        press("Record");
        EXPECT_EQ(state(), RecordingState::Recording);
        press("Stop");
        EXPECT_EQ(state(), RecordingState::Idle);
    }
    EXPECT_EQ(Files().size(), 2);
}

// Each step leaves the state it names, Finishing lasts while the Save dialog is up, and a start
// whose device failed is a recording that Stop ends.
TEST_F(RecordingWindowTest, TheStateFollowsEachStepAndAFailedStartEndsAtStop) {
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    const auto state = [&] { return form_->Recording().State(); };
    form_->ToolButton1Click();
    EXPECT_EQ(state(), RecordingState::Recording);
    form_->ToolButton2Click();
    EXPECT_EQ(state(), RecordingState::Paused);
    form_->ToolButton1Click();
    EXPECT_EQ(state(), RecordingState::Recording);
    ChooseAskForName(true);
    std::optional<RecordingState> whileSaving;
    bool stripShown = false;
    WhenSaveDialogShows([&](QFileDialog* dialog) {
        whileSaving = state();
        stripShown = form_->Panel1->Shown().has_value();
        TypeAndAccept(dialog, Dir() + "take.wav");
    });
    form_->ToolButton3Click();
    EXPECT_EQ(whileSaving, RecordingState::Finishing);
    EXPECT_TRUE(stripShown) << "the meter stays while the recording is being finished";
    EXPECT_EQ(state(), RecordingState::Idle);
    EXPECT_FALSE(form_->Panel1->Shown()) << "the strip empties once the recording is gone";
    capture_->FailNext("open", kCaptureNoServer);
    form_->ToolButton1Click();
    EXPECT_EQ(state(), RecordingState::Recording);
    form_->ToolButton3Click();
    EXPECT_EQ(state(), RecordingState::Idle);
}

TEST_F(RecordingWindowTest, AFailedOpenLeavesTheRecordingLayoutAndStopReturnsToIdle) {
    capture_->FailNext("open", kCaptureNoServer);
    form_->ToolButton1Click();
    auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ErrorBoxText(QString::fromStdString(*CaptureErrorText(kCaptureNoServer))));
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_TRUE(form_->IsRecording());
    EXPECT_EQ(Now(), (Layout{false, true, true, false, false, false}));
    EXPECT_EQ(Caption(), "Larkspur");

    form_->ToolButton3Click();
    boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No MCI device open.");
    EXPECT_EQ(Now(), kIdle);
    EXPECT_FALSE(form_->IsRecording());
    EXPECT_FALSE(form_->IsFinishing());
    EXPECT_EQ(Files(), QStringList{"~temp.wav"});  // the template stays until the next recording
    EXPECT_EQ(QFileInfo(TempPath()).size(), 44);

    form_->ToolButton1Click();  // and the next recording starts normally
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(Caption(), "Larkspur - 00:00:00");
}

TEST_F(RecordingWindowTest, ATemplateThatCannotBeWrittenIsToldAndTheStartGoesOn) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    const ReadOnlyFolder readOnly(dir_.path());
    ASSERT_TRUE(readOnly.Ok());
    form_->ToolButton1Click();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Can   not   Open   File!");
    EXPECT_EQ(boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(boxes[1].icon, BoxIcon::Error);  // the device could not open it either
    EXPECT_EQ(capture_->Commands().front(), "open |" + TempPath().toStdString());
}

// A leftover that cannot be moved away (here: a read-only folder) is told, and the window goes
// back to idle with nothing started and the leftover untouched.
TEST_F(RecordingWindowTest, ALeftoverThatCannotBeKeptIsToldAndTheWindowReturnsToIdle) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    const auto header = WaveHeader({2, 44100, 16}, 956);
    const QByteArray leftover = QByteArray(reinterpret_cast<const char*>(header.data()), header.size()) +
                                QByteArray(956, 'x');
    {
        QFile file(TempPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(leftover);
    }
    const ReadOnlyFolder readOnly(dir_.path());
    ASSERT_TRUE(readOnly.Ok());

    form_->ToolButton1Click();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("could not be kept")) << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(Now(), kIdle);
    EXPECT_FALSE(form_->IsRecording());
    EXPECT_EQ(Caption(), "Larkspur");
    EXPECT_TRUE(capture_->Commands().empty());
    QFile file(TempPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), leftover);
}

// Another instance recording in this folder holds the lock on the temporary file: nothing is
// started and its file is left as it is.
TEST_F(RecordingWindowTest, ATemporaryFileLockedByAnotherRecorderIsLeftAloneAndNothingStarts) {
    const QByteArray live(5000, 'y');
    QFile other(TempPath());
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    other.write(live);
    other.flush();
    ASSERT_EQ(flock(other.handle(), LOCK_EX | LOCK_NB), 0);  // an open file of its own, as another process has

    form_->ToolButton1Click();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Another Larkspur is recording in this folder")) << boxes[0].text.toStdString();
    EXPECT_EQ(Now(), kIdle);
    EXPECT_TRUE(capture_->Commands().empty());
    EXPECT_EQ(Files(), QStringList{"~temp.wav"});
    other.seek(0);
    EXPECT_EQ(other.readAll(), live);

    other.close();  // the other recorder is done: the next Record keeps its file as a leftover
    form_->ToolButton1Click();
    EXPECT_EQ(TakeBoxes().size(), 1u);
    EXPECT_EQ(Caption(), "Larkspur - 00:00:00");
    EXPECT_EQ(Files().size(), 2);
}

// A box shown while a recording starts runs its own event loop, in which hotkey reports arrive:
// they must not pause or stop a recording whose device is not open yet. A leftover kept is told
// once the capture runs, so that the recording does not wait for the box, and keys act on it.
TEST_F(RecordingWindowTest, HotkeysAreIgnoredWhileTheDeviceOpensAndALeftoverIsToldOnceTheCaptureRuns) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    {
        QFile leftover(TempPath());
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
        const auto header = WaveHeader({2, 44100, 16}, 956);
        leftover.write(reinterpret_cast<const char*>(header.data()), header.size());
        leftover.write(QByteArray(956, 'x'));
    }
    std::vector<bool> ignored;
    std::vector<std::string> lastCommand;
    SetMessageBoxSink([&](const MessageBoxRequest&) {
        ignored.push_back(form_->IsFinishing());
        lastCommand.push_back(capture_->Commands().empty() ? "" : capture_->Commands().back());
    });
    form_->ToolButton1Click();  // the leftover is kept and said so
    form_->ToolButton3Click();
    const ReadOnlyFolder readOnly(dir_.path());
    ASSERT_TRUE(readOnly.Ok());
    form_->ToolButton1Click();  // "Can   not   Open   File!", then the failed open
    EXPECT_EQ(ignored, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(lastCommand.at(0), "start") << "the leftover's box came before the capture ran";
    EXPECT_FALSE(form_->IsFinishing());
}

TEST_F(RecordingWindowTest, ClosingDuringARecordingWritesNoOutputAndKeepsTheTemporaryFileValid) {
    form_->show();
    form_->ToolButton1Click();
    RecordFor(3s);
    form_->ToolButton2Click();
    Ticks(1);
    EXPECT_TRUE(form_->close());
    form_.reset();
    EXPECT_EQ(Files(), QStringList{"~temp.wav"});
    EXPECT_EQ(WaveMilliseconds(TempPath()), 3000);
    EXPECT_EQ(capture_->Commands().back(), "close");
}

}  // namespace
}  // namespace larkspur::test
