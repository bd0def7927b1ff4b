// Loading the hook library at start-up, handing it the table and removing the hook at close, with
// stand-ins for libkbtap.so that record the calls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "config/ini_file.h"
#include "hotkeys/hook_library.h"
#include "hotkeys/hotkey_table.h"
#include "platform/message_box.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using testing::FakeLibraryDir;
using testing::FakeLibraryLog;
using testing::HotKeyFile;

// Boxes go to stderr, where a death test can see them.
void BoxesToStderr() {
    SetMessageBoxSink([](const MessageBoxRequest& box) {
        std::fprintf(stderr, "[box %s|%s]", box.caption.toUtf8().constData(), box.text.toUtf8().constData());
    });
}

TEST(HookLibraryDeathTest, AMissingLibraryEndsTheProgramWithOneMessage) {
    QTemporaryDir empty;
    BoxesToStderr();
    EXPECT_EXIT(InstallHook(42, empty.path().toStdString()), ::testing::ExitedWithCode(1),
                "^\\[box Larkspur\\|DLL: Can't loading program\\]$");
}

TEST(HookLibraryDeathTest, ALibraryWithoutSetHookEndsTheProgramWithOneMessage) {
    BoxesToStderr();
    EXPECT_EXIT(InstallHook(42, FakeLibraryDir("nosethook")), ::testing::ExitedWithCode(1),
                "^\\[box Larkspur\\|DLL: Can't loading program\\]$");
}

TEST(HookLibrary, StartUpHooksTheWindowThenHandsOverTheLoadedTable) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=3\nHotKey0=R\nCASKey0=1\nHotKey1=z\nCASKey1=0\nHotKey2=Q\nCASKey2=6\n");
    std::vector<MessageBoxRequest> boxes;
    SetMessageBoxSink([&](const MessageBoxRequest& box) { boxes.push_back(box); });

    InstallHook(0x1234, FakeLibraryDir("full"));
    FakeLog* log = FakeLibraryLog("full");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->set_hook_calls, 1);
    EXPECT_EQ(log->window, 0x1234u);
    EXPECT_EQ(log->mode, 1);
    ASSERT_EQ(log->set_list_calls, 1);
    // The table itself, not a copy: later edits in place reach the same arrays.
    EXPECT_EQ(log->keys, HotKeyCodes);
    EXPECT_EQ(log->modifiers, CASKeyCodes);
    EXPECT_EQ(log->count, 3);  // entry 2 as well
    EXPECT_EQ(log->keys[0], 'R');
    EXPECT_EQ(log->keys[2], 'Q');
    EXPECT_EQ(log->modifiers[2], 6);

    HandHotKeysToLibrary();
    EXPECT_EQ(log->set_list_calls, 2);
    UninstallHook();
    EXPECT_EQ(log->remove_hook_calls, 1);
    EXPECT_TRUE(boxes.empty());
    SetMessageBoxSink({});
}

TEST(HookLibrary, AMalformedCountStopsStartUpBeforeTheTableIsHandedOver) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=x\n");
    FakeLog* before = FakeLibraryLog("full");
    const int set_lists = before ? before->set_list_calls : 0;
    const int set_hooks = before ? before->set_hook_calls : 0;
    EXPECT_THROW(InstallHook(7, FakeLibraryDir("full")), EConvertError);
    FakeLog* log = FakeLibraryLog("full");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->set_hook_calls, set_hooks + 1);  // the hook is installed all the same
    EXPECT_EQ(log->set_list_calls, set_lists);
}

TEST(HookLibrary, ALibraryWithoutSetListIsUsedQuietly) {
    HotKeyFile file;
    std::vector<MessageBoxRequest> boxes;
    SetMessageBoxSink([&](const MessageBoxRequest& box) { boxes.push_back(box); });
    InstallHook(9, FakeLibraryDir("nosetlist"));
    HandHotKeysToLibrary();
    FakeLog* log = FakeLibraryLog("nosetlist");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->set_hook_calls, 1);
    EXPECT_EQ(HotKeyCount, 2);  // the table is loaded (here: created with the defaults)
    EXPECT_TRUE(boxes.empty());
    UninstallHook();
    EXPECT_EQ(log->remove_hook_calls, 1);
    SetMessageBoxSink({});
}

}  // namespace
}  // namespace larkspur

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
