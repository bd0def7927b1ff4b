// The hotkeys on the real main window under a real X server: the window installs the hook from
// its folder, keys typed into another program drive Record, Pause and Stop, also while one of the
// program's modal dialogs is open, and nothing happens while a recording is being finished.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

#include "audio/media_player.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/key_option_form.h"
#include "support/hotkeys_support.h"
#include "tests/gui/app_recording_support.h"

namespace larkspur::test {
namespace {

using larkspur::testing::HotKeyFile;
using larkspur::testing::OtherXClient;
using larkspur::testing::Xdotool;

// Counts the presses of a key that reach any of the application's windows.
class KeyPressSeen : public QObject {
public:
    explicit KeyPressSeen(int key) : key_(key) { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && object->isWidgetType() &&
            static_cast<QKeyEvent*>(event)->key() == key_ && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
            ++count;
        return false;
    }

private:
    int key_;
};

class HotKeysOnMainWindow : public RecorderTest {
protected:
    void SetUp() override {
        RecorderTest::SetUp();
        form_->FormCreate();
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        other_ = std::make_unique<OtherXClient>();
    }
    void TearDown() override {
        other_.reset();
        form_->close();  // removes the hook
        RecorderTest::TearDown();
    }

    // Types a key into the other program and lets the window handle what it is told.
    void Key(const QString& key) {
        Xdotool({"key", key});
        QTest::qWait(150);
    }

    HotKeyFile file_;  // before the window: HotKey.ini is created with F12 and F11
    std::unique_ptr<OtherXClient> other_;
};

TEST_F(HotKeysOnMainWindow, F12RecordsPausesAndResumesAndF11Stops) {
    EXPECT_EQ(HotKeyCount, 2);
    Key("ctrl+F12");  // not F12
    EXPECT_FALSE(form_->IsRecording());
    Key("F12");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->IsRecording(); }));
    EXPECT_FALSE(form_->IsPaused());
    RecordFor(2s);
    Key("F12");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->IsPaused(); }));
    Pass(1s);
    Key("F12");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->IsPaused(); }));
    RecordFor(1s);
    Key("F11");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->IsRecording(); }));
    // Named at the stop: 2 s recorded, 1 s paused, 1 s recorded after 14:05:09.
    EXPECT_EQ(Files(), QStringList{"2006_3_7_14_5_13.wav"});
    EXPECT_EQ(WaveMilliseconds(Dir() + "2006_3_7_14_5_13.wav"), 3000);
    EXPECT_EQ(other_->PressesOf("F12"), 4);  // the other program got its keys
    EXPECT_EQ(other_->PressesOf("F11"), 1);
}

TEST_F(HotKeysOnMainWindow, TheStopKeyWhenIdleLeavesTheWindowAlone) {
    form_->File1->setEnabled(false);
    Key("F11");
    EXPECT_FALSE(form_->File1->isEnabled());
    EXPECT_TRUE(capture_->Commands().empty());
    EXPECT_TRUE(Files().isEmpty());
    Key("F12");  // the keys do arrive
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->IsRecording(); }));
}

TEST_F(HotKeysOnMainWindow, ARecordingStartsBehindAModalDialog) {
    bool recordingBehindDialog = false;
    QTimer::singleShot(100, [&] {
        const bool dialogOpen = QApplication::activeModalWidget() == audioOptions_.get();
        Xdotool({"key", "F12"});
        recordingBehindDialog = dialogOpen && QTest::qWaitFor([&] { return form_->IsRecording(); }) &&
                                audioOptions_->isVisible();
        audioOptions_->reject();
    });
    form_->ToolButton6Click();  // the Audio options, modal
    EXPECT_TRUE(recordingBehindDialog);
    EXPECT_TRUE(form_->IsRecording());
}

TEST_F(HotKeysOnMainWindow, KeysAreIgnoredWhileARecordingIsBeingFinished) {
    ChooseAskForName(true);
    Key("F12");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->IsRecording(); }));
    RecordFor(1s);
    bool ignored = false;
    WhenSaveDialogShows([&](QFileDialog* dialog) {
        const auto commands = capture_->Commands().size();
        // With the dialog focused the key reaches it, and its report this window meanwhile.
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        KeyPressSeen seen(Qt::Key_F12);
        const int before = other_->PressesOf("F12");
        Xdotool({"key", "F12"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return seen.count > 0 || other_->PressesOf("F12") > before; }));
        QTest::qWait(200);
        ignored = form_->IsFinishing() && !form_->IsRecording() && capture_->Commands().size() == commands;
        TypeAndAccept(dialog, Dir() + "kept.wav");
    });
    Key("F11");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->IsFinishing() && Files().contains("kept.wav"); }));
    EXPECT_TRUE(ignored);
    EXPECT_FALSE(form_->IsRecording());
    Key("F12");  // afterwards the keys work again
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->IsRecording(); }));
}

// A key typed into a key field is matched against the table as it stood before the field took
// it, as when the report comes before the field gets the key; checked again after OK.
TEST_F(HotKeysOnMainWindow, AKeyTypedIntoAKeyFieldActsAsTheTableStoodBeforeIt) {
    TKeyOptionForm keys(form_.get());
    keys.FormCreate();
    const auto typeIntoRecordField = [&](const QString& key, const QString& shown, bool records) {
        bool recordingWhileOpen = false;
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&keys));
            Xdotool({"key", key});
            EXPECT_TRUE(QTest::qWaitFor([&] { return keys.Edit1->text() == shown; }));
            // The report comes with the key: a recording starts at once if it starts at all.
            recordingWhileOpen = QTest::qWaitFor([&] { return form_->IsRecording(); }, records ? 5000 : 300);
            keys.Button1->click();
        });
        keys.exec();
        QTest::qWait(300);
        return recordingWhileOpen;
    };
    // Ctrl+R while entry 0 is F12: it becomes Ctrl+R, and nothing starts.
    EXPECT_FALSE(typeIntoRecordField("ctrl+r", "Ctrl + R", false));
    EXPECT_FALSE(form_->IsRecording());
    EXPECT_EQ(HotKeyCodes[0], 0x52);
    EXPECT_EQ(CASKeyCodes[0], 1);
    // F12 while entry 0 is F12 (handed over with OK) starts a recording behind the dialog.
    keys.SpeedButton19Click();
    keys.Button1Click();
    EXPECT_TRUE(typeIntoRecordField("F12", "F12", true));
    EXPECT_TRUE(form_->IsRecording());
}

}  // namespace
}  // namespace larkspur::test
