// The Keyboard options dialog driven through its widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "hotkeys/hook_library.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/key_option_form.h"
#include "platform/message_box.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using testing::FakeLibraryDir;
using testing::FakeLibraryLog;
using testing::HotKeyFile;

const std::string kDefaultFile = "[HotKey]\nCount=2\nHotKey0={\nCASKey0=0\nHotKey1=z\nCASKey1=0\n";

class KeyOptions : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxSink([this](const MessageBoxRequest& box) { boxes.push_back(box.text.toStdString()); });
    }
    void TearDown() override { SetMessageBoxSink({}); }

    // Creates the dialog on the file as it is now and shows it, as the main window does.
    void Open() {
        if (!form) {
            form = std::make_unique<TKeyOptionForm>();
            form->FormCreate();
        }
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    HotKeyFile file;
    std::unique_ptr<TKeyOptionForm> form;
    std::vector<std::string> boxes;
};

TEST_F(KeyOptions, Layout) {
    Open();
    EXPECT_EQ(form->windowTitle(), "Keyboard Option");
    EXPECT_EQ(form->size(), QSize(420, 231));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(form->frameGeometry().center(), form->screen()->availableGeometry().center());
    EXPECT_EQ(form->font().family(), "MS Sans Serif");
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_EQ(form->GroupBox1->title(), "Record/Pause Key");
    EXPECT_EQ(form->GroupBox1->geometry(), QRect(8, 8, 401, 81));
    EXPECT_EQ(form->GroupBox2->title(), "Stop Key");
    EXPECT_EQ(form->GroupBox2->geometry(), QRect(10, 96, 401, 81));
    for (auto [edit, box] : {std::pair{form->Edit1, form->GroupBox1}, std::pair{form->Edit2, form->GroupBox2}}) {
        EXPECT_EQ(edit->parentWidget(), box);
        EXPECT_EQ(edit->geometry(), QRect(24, 32, 201, 21));
        EXPECT_TRUE(edit->isReadOnly());
    }
    for (auto [button, text, left] : {std::tuple{form->SpeedButton18, "Delete", 239}, {form->SpeedButton19, "Default", 313},
                                      {form->SpeedButton1, "Delete", 239}, {form->SpeedButton2, "Default", 313}}) {
        EXPECT_EQ(button->text(), text);
        EXPECT_EQ(button->geometry(), QRect(left, 31, 67, 24));
        EXPECT_FALSE(button->icon().isNull());
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(form->SpeedButton18->parentWidget(), form->GroupBox1);
    EXPECT_EQ(form->SpeedButton2->parentWidget(), form->GroupBox2);
    EXPECT_EQ(form->Button1->text(), "OK");
    EXPECT_EQ(form->Button1->geometry(), QRect(237, 190, 81, 27));
    EXPECT_EQ(form->Button2->text(), "Cancel");
    EXPECT_EQ(form->Button2->geometry(), QRect(325, 190, 81, 27));
    for (QPushButton* b : {form->Button1, form->Button2}) {
        EXPECT_FALSE(b->isDefault());
        EXPECT_FALSE(b->autoDefault());
    }
    // Filled from the file created with the defaults.
    EXPECT_EQ(form->Edit1->text(), "F12");
    EXPECT_EQ(form->Edit2->text(), "F11");
    EXPECT_EQ(file.Read(), kDefaultFile);
}

TEST_F(KeyOptions, TabRunsEdit1OkCancelEdit2AndEveryShowStartsInEdit1) {
    Open();
    EXPECT_EQ(QApplication::focusWidget(), form->Edit1);
    std::vector<QWidget*> order;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (std::vector<QWidget*>{form->Button1, form->Button2, form->Edit2, form->Edit1}));
    EXPECT_EQ(HotKeyCodes[0], 0x7B);  // Tab moved on; it was not recorded
    form->Edit2->setFocus();
    QTest::mouseClick(form->SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), form->Edit2);  // the speed buttons take no focus
    form->hide();
    Open();
    EXPECT_EQ(QApplication::focusWidget(), form->Edit1);
}

TEST_F(KeyOptions, CtrlRIsCapturedIntoTheTableAtOnce) {
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(form->Edit1->text(), "Ctrl + R");
    EXPECT_EQ(HotKeyCodes[0], 0x52);
    EXPECT_EQ(CASKeyCodes[0], 1);
    EXPECT_EQ(file.Read(), kDefaultFile);  // saved only by OK
}

TEST_F(KeyOptions, AllThreeModifiersShowInTheOrderCtrlAltShift) {
    Open();
    QTest::keyClick(form->Edit2, Qt::Key_X, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(form->Edit2->text(), "Ctrl + Alt + Shift + X");
    EXPECT_EQ(HotKeyCodes[1], 0x58);
    EXPECT_EQ(CASKeyCodes[1], 7);
}

TEST_F(KeyOptions, AModifierAloneKeepsTheOldKeyAndClearsTheFieldOnRelease) {
    Open();
    // As under X: the Ctrl key's own event does not carry Ctrl yet.
    QTest::keyPress(form->Edit1, Qt::Key_Control);
    EXPECT_EQ(form->Edit1->text(), "Ctrl + ");
    QTest::keyRelease(form->Edit1, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(form->Edit1->text(), "");
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
    EXPECT_EQ(CASKeyCodes[0], 1);  // now Ctrl+F12
    // The Stop field clears the same way.
    QTest::keyPress(form->Edit2, Qt::Key_Alt);
    EXPECT_EQ(form->Edit2->text(), "Alt + ");
    QTest::keyRelease(form->Edit2, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_EQ(form->Edit2->text(), "");
    EXPECT_EQ(CASKeyCodes[1], 2);
    // A platform whose modifier event already holds the modifier shows the same.
    QTest::keyPress(form->Edit2, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(form->Edit2->text(), "Shift + ");
    QTest::keyRelease(form->Edit2, Qt::Key_Shift);
    EXPECT_EQ(CASKeyCodes[1], 4);
    form->Button1->click();
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=2\nHotKey0={\nCASKey0=1\nHotKey1=z\nCASKey1=4\n");
}

TEST_F(KeyOptions, EscapeInAFieldClosesTheDialogAndIsRecorded) {
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(HotKeyCodes[0], 0x1B);
    EXPECT_EQ(CASKeyCodes[0], 0);
    EXPECT_EQ(file.Read(), kDefaultFile);
    Open();
    EXPECT_EQ(form->Edit1->text(), "Esc");
}

TEST_F(KeyOptions, EscapeOnAButtonClosesWithoutClickingIt) {
    Open();
    form->Button2->setFocus();
    QTest::keyClick(form->Button2, Qt::Key_R);  // ordinary keys do nothing there
    EXPECT_TRUE(form->isVisible());
    QTest::keyClick(form->Button2, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
}

TEST_F(KeyOptions, EnterOnAFocusedButtonClicksIt) {
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_R, Qt::ControlModifier);
    form->Button1->setFocus();
    QTest::keyClick(form->Button1, Qt::Key_Return);  // OK
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=2\nHotKey0=R\nCASKey0=1\nHotKey1=z\nCASKey1=0\n");

    Open();
    QTest::keyClick(form->Edit1, Qt::Key_F5);
    form->Button2->setFocus();
    QTest::keyClick(form->Button2, Qt::Key_Return);  // Cancel
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(HotKeyCodes[0], 0x52);
    EXPECT_EQ(form->Edit1->text(), "Ctrl + R");
}

TEST_F(KeyOptions, EnterIsRefusedAndCtrlTabIsRecorded) {
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    QTest::keyClick(form->Edit1, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Edit1->text(), "F12");
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
    EXPECT_EQ(CASKeyCodes[0], 0);
    QTest::keyClick(form->Edit1, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form->Edit1->text(), "Ctrl + Tab");
    EXPECT_EQ(HotKeyCodes[0], 0x09);
    QTest::keyClick(form->Edit1, Qt::Key_Space);
    EXPECT_EQ(form->Edit1->text(), "Space");
    form->Button1->click();
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=2\nHotKey0=\" \"\nCASKey0=0\nHotKey1=z\nCASKey1=0\n");
}

TEST_F(KeyOptions, DeleteThenOkStoresTheDeletedEntry) {
    Open();
    QTest::mouseClick(form->SpeedButton18, Qt::LeftButton);
    EXPECT_EQ(form->Edit1->text(), "");
    EXPECT_EQ(HotKeyCodes[0], 255);
    EXPECT_EQ(CASKeyCodes[0], 255);
    QTest::mouseClick(form->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(form->Edit2->text(), "");
    form->Button1->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=2\nHotKey0=\xFF\nCASKey0=-1\nHotKey1=\xFF\nCASKey1=-1\n");
}

TEST_F(KeyOptions, DefaultRestoresF12AndF11) {
    file.Write("[HotKey]\nCount=2\nHotKey0=R\nCASKey0=1\nHotKey1=\xFF\nCASKey1=-1\n");
    Open();
    EXPECT_EQ(form->Edit1->text(), "Ctrl + R");
    EXPECT_EQ(form->Edit2->text(), "");
    QTest::mouseClick(form->SpeedButton19, Qt::LeftButton);
    QTest::mouseClick(form->SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(form->Edit1->text(), "F12");
    EXPECT_EQ(form->Edit2->text(), "F11");
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
    EXPECT_EQ(CASKeyCodes[0], 0);
    EXPECT_EQ(HotKeyCodes[1], 0x7A);
    EXPECT_EQ(CASKeyCodes[1], 0);
}

TEST_F(KeyOptions, OkSavesThenHandsTheTableToTheLibraryThenCloses) {
    InstallHook(5, FakeLibraryDir("full"));
    FakeLog* log = FakeLibraryLog("full");
    ASSERT_TRUE(log);
    std::snprintf(log->ini_path, sizeof log->ini_path, "%s", file.Path().c_str());
    Open();
    const int handed = log->set_list_calls;
    QTest::keyClick(form->Edit2, Qt::Key_S, Qt::AltModifier);
    form->Button1->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(log->set_list_calls, handed + 1);
    // The library found the file already saved.
    EXPECT_EQ(std::string(log->ini_at_set_list), "[HotKey]\nCount=2\nHotKey0={\nCASKey0=0\nHotKey1=S\nCASKey1=2\n");
    EXPECT_TRUE(boxes.empty());
    log->ini_path[0] = 0;
}

TEST_F(KeyOptions, AFailedSaveKeepsTheDialogOpenAndTheLibraryUntold) {
    InstallHook(5, FakeLibraryDir("full"));
    FakeLog* log = FakeLibraryLog("full");
    ASSERT_TRUE(log);
    Open();
    const int handed = log->set_list_calls;
    std::remove(file.Path().c_str());
    QDir().mkpath(QString::fromStdString(file.Path()));
    form->Button1->click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(log->set_list_calls, handed);
    EXPECT_EQ(boxes, std::vector<std::string>{"Unable to write to " + file.Path() + "."});
}

TEST_F(KeyOptions, CancelReloadsTheFileAndEscapeOrTheCloseBoxKeepTheEdits) {
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_R, Qt::ControlModifier);
    form->close();  // the close box
    EXPECT_EQ(HotKeyCodes[0], 0x52);
    EXPECT_EQ(file.Read(), kDefaultFile);
    Open();
    EXPECT_EQ(form->Edit1->text(), "Ctrl + R");
    form->Button2->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
    EXPECT_EQ(CASKeyCodes[0], 0);
    EXPECT_EQ(form->Edit1->text(), "F12");
}

TEST_F(KeyOptions, AMalformedFileOnCancelFillsUpToTheFaultAndStaysOpen) {
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_A);
    QTest::keyClick(form->Edit2, Qt::Key_B);
    file.Write("[HotKey]\nCount=2\nHotKey0=Q\nCASKey0=4\nHotKey1=W\nCASKey1=y\n");
    form->Button2->click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Edit1->text(), "Shift + Q");
    EXPECT_EQ(form->Edit2->text(), "B");
    EXPECT_EQ(boxes, std::vector<std::string>{"'y' is not a valid integer value."});
}

TEST_F(KeyOptions, LaterEntriesShowInTheStopFieldAndACountOfZeroFillsNothing) {
    file.Write("[HotKey]\nCount=3\nHotKey0={\nCASKey0=0\nHotKey1=z\nCASKey1=0\nHotKey2=P\nCASKey2=3\n");
    Open();
    EXPECT_EQ(form->Edit1->text(), "F12");
    EXPECT_EQ(form->Edit2->text(), "Ctrl + Alt + P");
    file.Write("[HotKey]\nCount=0\n");
    form->Button2->click();
    EXPECT_EQ(HotKeyCount, 0);
    EXPECT_EQ(form->Edit2->text(), "Ctrl + Alt + P");
    Open();
    QTest::keyClick(form->Edit1, Qt::Key_F5);
    form->Button1->click();
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=0\n");
}

}  // namespace
}  // namespace larkspur
