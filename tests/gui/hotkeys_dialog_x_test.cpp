// The key fields of the Keyboard options under a real X server, typed into with xdotool: X sends
// a modifier key's own event with the state before it, and the field must still show it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "hotkeys/hotkey_table.h"
#include "hotkeys/key_option_form.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using testing::Xdotool;

TEST(KeyOptionsUnderX, RealKeyEventsAreCapturedWithTheirModifiers) {
    testing::HotKeyFile file;
    TKeyOptionForm form;
    form.FormCreate();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_EQ(QApplication::focusWidget(), form.Edit1);

    Xdotool({"keydown", "ctrl"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Edit1->text() == "Ctrl + "; }, 3000))
        << form.Edit1->text().toStdString();
    Xdotool({"keyup", "ctrl"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Edit1->text().isEmpty(); }, 3000));
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
    EXPECT_EQ(CASKeyCodes[0], 1);

    Xdotool({"key", "ctrl+r"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Edit1->text() == "Ctrl + R"; }, 3000))
        << form.Edit1->text().toStdString();
    EXPECT_EQ(HotKeyCodes[0], 0x52);
    EXPECT_EQ(CASKeyCodes[0], 1);

    Xdotool({"key", "shift+ctrl+alt+x"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Edit1->text() == "Ctrl + Alt + Shift + X"; }, 3000))
        << form.Edit1->text().toStdString();
    EXPECT_EQ(HotKeyCodes[0], 0x58);
    EXPECT_EQ(CASKeyCodes[0], 7);

    // The Stop field, reached with Tab, also clears a modifier-only text on release.
    Xdotool({"key", "Tab", "Tab", "Tab"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == form.Edit2; }, 3000));
    Xdotool({"keydown", "shift"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Edit2->text() == "Shift + "; }, 3000))
        << form.Edit2->text().toStdString();
    Xdotool({"keyup", "shift"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Edit2->text().isEmpty(); }, 3000));
    EXPECT_EQ(CASKeyCodes[1], 4);
    EXPECT_EQ(HotKeyCodes[1], 0x7A);
}

}  // namespace
}  // namespace larkspur
