// The keyboard watch on a real X server: keys typed into another program reach our window as
// WM_HOOKKEY reports while that program still gets them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QWidget>

#include "hotkeys/key_option_form.h"  // before Xlib, whose macros take some of its names

#include <X11/Xlib.h>
#include <cstdlib>
#include <dlfcn.h>
#include <optional>
#include <string>
#include <vector>

#include "hotkeys/hook_message.h"
#include "hotkeys/hotkey_table.h"
#include "kbtap/kbtap.h"
#include "support/hotkeys_support.h"
#include "support/kbtap_library.h"

namespace larkspur {
namespace {

using testing::Xdotool;

constexpr uint32_t kRelease = 0xC0000000u;  // bits 30 and 31
constexpr int kListSize = 99;

using Library = testing::KbtapLibrary;

class KbtapWatch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib_->handle) << dlerror();
        ASSERT_TRUE(lib_->SetHook && lib_->RemoveHook);
        window_.winId();  // the reports go to a window that is never shown
        // The keys these tests type; only keys of the list are reported.
        const uint8_t keys[kListSize] = {0x7B, 0x7A, 0x52, 0x26, 0x11, 0x10};
        const uint8_t modifiers[kListSize] = {};
        lib_->SetList(keys, modifiers, 6);
        filter_ = std::make_unique<HookMessageFilter>(
            window_.winId(), [this](const THookKeyMessage& m) { reports_.push_back(m); });
    }
    void TearDown() override {
        if (lib_) lib_->RemoveHook();
    }

    std::vector<THookKeyMessage> ReportsOf(uint32_t vk) const {
        std::vector<THookKeyMessage> found;
        for (const auto& m : reports_)
            if (m.WParam == vk) found.push_back(m);
        return found;
    }
    bool Has(uint32_t vk, uint32_t flags, uint8_t mods) const {
        for (const auto& m : reports_)
            if (m.WParam == vk && m.LParam == flags && m.Modifiers == mods) return true;
        return false;
    }

    bool HasRelease(uint32_t vk, uint32_t flags) const {
        for (const auto& m : reports_)
            if (m.WParam == vk && m.LParam == flags) return true;
        return false;
    }

    std::optional<Library> lib_{std::in_place};
    QWidget window_;
    std::unique_ptr<HookMessageFilter> filter_;
    std::vector<THookKeyMessage> reports_;
};

TEST_F(KbtapWatch, KeysTypedIntoAnotherProgramReachTheWindowAndThatProgram) {
    testing::OtherXClient other;
    lib_->SetHook(window_.winId(), 1);

    Xdotool({"key", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7B).size() == 2; }));
    EXPECT_EQ(ReportsOf(0x7B)[0].LParam, 0x00580001u);  // scan code 0x58, one stroke
    EXPECT_EQ(ReportsOf(0x7B)[0].Modifiers, 0);
    EXPECT_EQ(ReportsOf(0x7B)[1].LParam, 0x00580001u | kRelease);

    Xdotool({"key", "ctrl+r"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x52).size() == 2 && ReportsOf(0x11).size() == 2; }));
    EXPECT_TRUE(Has(0x11, 0x001D0001u, 0));             // Ctrl down, nothing held before it
    EXPECT_TRUE(Has(0x52, 0x00130001u, 1));             // R with Ctrl
    EXPECT_TRUE(HasRelease(0x52, 0x00130001u | kRelease));  // xdotool lets Ctrl go first

    Xdotool({"key", "shift+F11"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7A).size() == 2 && ReportsOf(0x10).size() == 2; }));
    EXPECT_TRUE(Has(0x10, 0x002A0001u, 0));
    EXPECT_TRUE(Has(0x7A, 0x00570001u, 4));
    EXPECT_TRUE(HasRelease(0x7A, 0x00570001u | kRelease));

    Xdotool({"key", "alt+Up"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x26).size() == 2; }));
    EXPECT_TRUE(Has(0x26, 0x21480001u, 2));  // extended key, Alt context bit

    EXPECT_TRUE(QTest::qWaitFor([&] { return other.PressesOf("F12") == 1 && other.PressesOf("r") == 1 &&
                                     other.PressesOf("F11") == 1; }));
}

TEST_F(KbtapWatch, AKeyAFieldStoredIsReportedWithTheSameCodeOnOtherLayouts) {
    testing::HotKeyFile file;
    struct Case {
        const char* layouts;
        int group;
        unsigned keycode;
        uint8_t vk;
    };
    for (const Case& c : {Case{"us,de", 1, 29, 0x5A},  // German Z
                          Case{"us,de", 1, 35, 0xBB},  // German +
                          Case{"ru,us", 0, 24, 0x51},  // Cyrillic letter on Q's place
                          Case{"fr", 0, 10, 0x31}}) {  // AZERTY & 1
        SCOPED_TRACE(std::string(c.layouts) + " key " + std::to_string(c.keycode));
        testing::KeyboardLayout layout(c.layouts, c.group);
        {
            TKeyOptionForm form;
            form.FormCreate();
            form.show();
            form.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
            HotKeyCodes[0] = 0;
            testing::TypeKeycode(c.keycode);
            ASSERT_TRUE(QTest::qWaitFor([&] { return HotKeyCodes[0] != 0; }, 3000));
        }
        EXPECT_EQ(HotKeyCodes[0], c.vk);
        // The same key typed into another program, with the field's entry handed over.
        testing::OtherXClient other;
        lib_->SetHook(window_.winId(), 1);
        const uint8_t none[kHotKeyCapacity] = {};
        lib_->SetList(HotKeyCodes, none, 1);
        reports_.clear();
        testing::TypeKeycode(c.keycode);
        const uint32_t press = ((c.keycode - 8) << 16) | 1;
        EXPECT_TRUE(QTest::qWaitFor([&] { return Has(HotKeyCodes[0], press, 0); }, 3000));
        lib_->RemoveHook();
    }
}

TEST_F(KbtapWatch, AKeyHeldDownReportsOnePress) {
    testing::OtherXClient other;
    lib_->SetHook(window_.winId(), 1);
    Xdotool({"keydown", "F12"});
    QTest::qWait(1200);
    Xdotool({"keyup", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7B).size() >= 2; }));
    QTest::qWait(200);
    const auto f12 = ReportsOf(0x7B);
    ASSERT_EQ(f12.size(), 2u);
    EXPECT_EQ(f12[0].LParam & kRelease, 0u);
    EXPECT_EQ(f12[1].LParam & kRelease, kRelease);
    // The server did repeat the key: the other program saw it several times.
    EXPECT_GT(other.PressesOf("F12"), 1);
}

TEST_F(KbtapWatch, RemoveHookStopsTheReports) {
    testing::OtherXClient other;
    lib_->SetHook(window_.winId(), 1);
    Xdotool({"key", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7B).size() == 2; }));
    lib_->RemoveHook();
    Xdotool({"key", "F12"});
    // The key reached the server's clients; a report would have come with it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.PressesOf("F12") == 2; }));
    QTest::qWait(200);
    EXPECT_EQ(ReportsOf(0x7B).size(), 2u);
}

TEST_F(KbtapWatch, AnXErrorDoesNotEndTheProcess) {
    // Xlib's own handler, which ends the process on any error (Qt puts a lenient one in place).
    const XErrorHandler qt = XSetErrorHandler(nullptr);
    // Reports sent to a window that does not exist make the server answer with errors.
    lib_->SetHook(0x3FFFFF, 1);
    Xdotool({"key", "F12", "F11"});
    QTest::qWait(300);
    lib_->SetHook(window_.winId(), 1);
    Xdotool({"key", "F12"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7B).size() == 2; }));
    lib_->RemoveHook();
    XSetErrorHandler(qt);
}

// Nothing but keys of the list leaves the watch: not what else is typed (a password), not a
// deleted entry's, not one beyond the count.
TEST_F(KbtapWatch, OnlyKeysOfTheListAreReported) {
    testing::OtherXClient other;
    const uint8_t keys[kListSize] = {0x7B, 0xFF, 0x41}, modifiers[kListSize] = {};
    lib_->SetList(keys, modifiers, 2);
    lib_->SetHook(window_.winId(), 1);
    Xdotool({"type", "secret"});
    Xdotool({"key", "a", "F11", "ctrl+r", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7B).size() == 2; }));
    QTest::qWait(200);
    EXPECT_EQ(reports_.size(), 2u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.PressesOf("F12") == 1; }));
}

// While another client holds the keyboard (a screen locker), nothing is reported, until it lets
// go or goes away.
TEST_F(KbtapWatch, NothingIsReportedWhileAnotherClientHoldsTheKeyboard) {
    lib_->SetHook(window_.winId(), 1);
    const auto grabbed = [] {
        Display* locker = XOpenDisplay(nullptr);
        EXPECT_EQ(XGrabKeyboard(locker, DefaultRootWindow(locker), False, GrabModeAsync, GrabModeAsync,
                                CurrentTime),
                  GrabSuccess);
        return locker;
    };
    // The locker gets the key, and a report would have come with it.
    const auto lockerGets = [](Display* locker) {
        for (int i = 0; i < 300; ++i) {
            while (XPending(locker)) {
                XEvent event;
                XNextEvent(locker, &event);
                if (event.type == KeyRelease) return true;
            }
            QTest::qWait(10);
        }
        return false;
    };
    Display* locker = grabbed();
    Xdotool({"key", "F12"});
    EXPECT_TRUE(lockerGets(locker));
    QTest::qWait(200);
    EXPECT_TRUE(ReportsOf(0x7B).empty());
    XUngrabKeyboard(locker, CurrentTime);
    XSync(locker, False);
    Xdotool({"key", "F12"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7B).size() == 2; }));
    XCloseDisplay(locker);

    locker = grabbed();
    Xdotool({"key", "F11"});
    EXPECT_TRUE(lockerGets(locker));
    QTest::qWait(200);
    EXPECT_TRUE(ReportsOf(0x7A).empty());
    XCloseDisplay(locker);  // its grab goes with it
    Display* probe = XOpenDisplay(nullptr);
    for (int i = 0; i < 100 && XGrabKeyboard(probe, DefaultRootWindow(probe), False, GrabModeAsync,
                                             GrabModeAsync, CurrentTime) != GrabSuccess;
         ++i)
        QTest::qWait(20);
    XUngrabKeyboard(probe, CurrentTime);
    XCloseDisplay(probe);
    Xdotool({"key", "F11"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReportsOf(0x7A).size() == 2; }));
}

bool LibraryMapped() {
    QFile maps("/proc/self/maps");
    maps.open(QIODevice::ReadOnly);
    return maps.readAll().contains("libkbtap.so");
}

TEST_F(KbtapWatch, RepeatedLoadHookRemoveLeavesNoThreadOrConnection) {
    lib_.reset();
    ASSERT_FALSE(LibraryMapped());
    const int threads = testing::CountEntries("/proc/self/task");
    const int files = testing::CountEntries("/proc/self/fd");
    {
        Library lib;
        lib.SetHook(window_.winId(), 1);
        // While hooked: one watch thread and two connections more, so the counts see them.
        EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads + 1);
        EXPECT_EQ(testing::CountEntries("/proc/self/fd"), files + 2);
        lib.RemoveHook();
    }
    for (int i = 0; i < 100; ++i) {
        Library lib;
        ASSERT_TRUE(lib.handle);
        lib.SetHook(window_.winId(), 1);
        lib.RemoveHook();
    }
    EXPECT_FALSE(LibraryMapped());  // really unloaded each time
    EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(testing::CountEntries("/proc/self/fd"), files);
    // An unload without RemoveHook stops the watch as well.
    {
        Library lib;
        lib.SetHook(window_.winId(), 1);
        EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads + 1);
    }
    EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(testing::CountEntries("/proc/self/fd"), files);
}

TEST_F(KbtapWatch, WithoutADisplayOrAWindowSetHookDoesNothing) {
    const std::string display = std::getenv("DISPLAY");
    const int threads = testing::CountEntries("/proc/self/task");
    unsetenv("DISPLAY");
    lib_->SetHook(window_.winId(), 1);
    EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads);
    lib_->RemoveHook();
    setenv("DISPLAY", display.c_str(), 1);
    // A program not on X has no window id to give.
    lib_->SetHook(0, 1);
    EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads);
    testing::OtherXClient other;
    Xdotool({"key", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.PressesOf("F12") == 1; }));
    QTest::qWait(200);
    EXPECT_TRUE(reports_.empty());
}

}  // namespace
}  // namespace larkspur
