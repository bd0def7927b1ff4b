#pragma once
// The main window over a capture double, with the clocks, option choices, shell and message boxes
// under the test's control, for the recording and finishing tests.
#include "app/main_form.h"
#include "config/audio_option_form.h"
#include "config/general_option_form.h"
#include "tests/gui/app_qt_print.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "tests/support/fake_capture.h"
#include "tests/support/captured_boxes.h"
#include "tests/support/recording_shell.h"

#include <QFileDialog>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>


namespace larkspur::test {

using namespace std::chrono_literals;

// Local time and monotonic time moved by the test. Local time runs as UTC wall time.
class ManualClock : public Clock {
public:
    SystemTime LocalTime() override;
    std::chrono::milliseconds Monotonic() override { return monotonic_; }

    void SetLocal(int year, int month, int day, int hour, int minute, int second);
    // Time passes on both clocks.
    void Advance(std::chrono::milliseconds d) {
        wall_ += d;
        monotonic_ += d;
    }
    // The local clock is set forward or back; no time passes.
    void Jump(std::chrono::milliseconds d) { wall_ += d; }

private:
    std::chrono::sys_time<std::chrono::milliseconds> wall_{};
    std::chrono::milliseconds monotonic_{123456789};
};

// Each test gets its own folder for ~temp.wav and the recordings. The window reads its choices
// from real Audio and General options dialogs (not loaded from Config.ini): at first 44100 Hz,
// 16 bit, stereo, WAV, automatic naming, no playing.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString Dir() const { return dir_.path() + QLatin1Char('/'); }
    QString TempPath() const { return Dir() + QStringLiteral("~temp.wav"); }
    // The names in the folder, sorted.
    QStringList Files() const;

    // Time passes for the clocks and the capture double.
    void Pass(std::chrono::milliseconds d);
    // n timer ticks, 500 ms apart.
    void Ticks(int n);
    // Record for the given time, ticking every 500 ms.
    void RecordFor(std::chrono::seconds s);

    // Choices in the option dialogs, as the user makes them.
    void ChooseFormat(int rateIndex, int sizeIndex, int trackIndex);
    void ChooseMp3(bool mp3);
    void ChooseAskForName(bool ask);
    void ChoosePlay(bool play);

    // The message boxes shown since the last call, emptied.
    std::vector<MessageBoxRequest> TakeBoxes();

    QTemporaryDir dir_;
    ManualClock clock_;
    std::unique_ptr<TAudioOptionForm> audioOptions_;
    std::unique_ptr<TGeneralOptionForm> generalOptions_;
    QDialog keyOptions_;
    RecordingShell shell_;
    std::shared_ptr<FakeCapture> capture_ = std::make_shared<FakeCapture>();
    std::unique_ptr<TForm1> form_;
    CapturedBoxes captured_;
    std::vector<MessageBoxRequest>& boxes_ = captured_.boxes;
};

// Runs `act` on the Save dialog as soon as it is shown modally; call before the Stop that shows it.
void WhenSaveDialogShows(std::function<void(QFileDialog*)> act);
// Drops the actions of WhenSaveDialogShows whose dialog never showed (RecorderTest's TearDown).
void CancelPendingDialogActions();
// Types name into the dialog's file-name box and confirms, as a user would.
void TypeAndAccept(QFileDialog* dialog, const QString& name);
// Presses the dialog's Cancel button.
void Cancel(QFileDialog* dialog);

// The length in milliseconds of the samples of a PCM wave file, -1 when it is not one.
long WaveMilliseconds(const QString& path);

}  // namespace larkspur::test
