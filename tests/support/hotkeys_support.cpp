#include "support/hotkeys_support.h"

#include <QTest>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <fstream>
#include <iterator>

#include "hotkeys/hotkey_table.h"
#include "support/audio_checks.h"
#include "support/dies_with_test.h"

// Last: Xlib's macros (None, Bool) clash with names in the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace larkspur::testing {

HotKeyFile::HotKeyFile() : path_(dir_.filePath("HotKey.ini").toStdString()) {
    SetHotKeyIniPathForTest(path_);
}

HotKeyFile::~HotKeyFile() { SetHotKeyIniPathForTest({}); }

void HotKeyFile::Write(const std::string& bytes) const {
    std::ofstream(path_, std::ios::binary) << bytes;
}

std::string HotKeyFile::Read() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool HotKeyFile::Exists() const { return std::ifstream(path_).good(); }

void SetTable(int32_t count, std::initializer_list<std::pair<uint8_t, uint8_t>> entries) {
    HotKeyCount = count;
    int n = 0;
    for (const auto& [key, modifiers] : entries) {
        HotKeyCodes[n] = key;
        CASKeyCodes[n] = modifiers;
        ++n;
    }
}

void Xdotool(const QStringList& args) {
    std::vector<std::string> argv{"xdotool"};
    for (const QString& a : args) argv.push_back(a.toStdString());
    const test::CommandResult result = test::RunCommand(argv, std::chrono::seconds(10));
    EXPECT_EQ(result.status, 0) << args.join(' ').toStdString() << ": " << result.output;
}

namespace {

void Setxkbmap(const QString& layouts) {
    const test::CommandResult result =
        test::RunCommand({"setxkbmap", "-layout", layouts.toStdString()}, std::chrono::seconds(10));
    EXPECT_EQ(result.status, 0) << result.output;
}

void LockGroup(int group) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    XkbLockGroup(display, XkbUseCoreKbd, group);
    XSync(display, False);
    XCloseDisplay(display);
}

}  // namespace

KeyboardLayout::KeyboardLayout(const QString& layouts, int group) {
    Setxkbmap(layouts);
    LockGroup(group);
}

KeyboardLayout::~KeyboardLayout() {
    LockGroup(0);
    Setxkbmap("us");
}

void TypeKeycode(unsigned keycode) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
}

OtherXClient::OtherXClient() {
    test::DieWithTest(xev_);
    xev_.start("stdbuf", {"-oL", "xev", "-event", "keyboard"});
    // xev names its window first: "Outer window is 0x200001, ..."
    EXPECT_TRUE(QTest::qWaitFor([&] {
        output_ += QString::fromLatin1(xev_.readAllStandardOutput());
        return output_.contains(',');
    }));
    Xdotool({"windowfocus", "--sync", output_.section(' ', 3, 3).remove(',')});
}

OtherXClient::~OtherXClient() {
    xev_.kill();
    xev_.waitForFinished();
}

int OtherXClient::PressesOf(const QString& keysym) {
    do output_ += QString::fromLatin1(xev_.readAllStandardOutput());
    while (xev_.waitForReadyRead(100));
    int count = 0;
    for (const QString& event : output_.split("\n\n"))
        if (event.startsWith("KeyPress") && event.contains(", " + keysym + ")")) ++count;
    return count;
}

std::string FakeLibraryDir(const char* variant) {
    return std::string(LARKSPUR_FAKE_KBTAP_DIR) + "/" + variant;
}

FakeLog* FakeLibraryLog(const char* variant) {
    const std::string path = FakeLibraryDir(variant) + "/libkbtap.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto* log = static_cast<FakeLog*>(dlsym(handle, "fake_log"));
    dlclose(handle);  // the reference RTLD_NOLOAD took; the program's own stays
    return log;
}

}  // namespace larkspur::testing
