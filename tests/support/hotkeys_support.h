// Shared pieces of the hotkey tests: a private HotKey.ini and the recording stand-in library.
#pragma once
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <string>

#include "support/hotkeys_fake_log.h"

namespace larkspur::testing {


// A HotKey.ini of the test's own in a fresh folder, used by the table while the object lives.
class HotKeyFile {
public:
    HotKeyFile();
    ~HotKeyFile();
    const std::string& Path() const { return path_; }
    void Write(const std::string& bytes) const;
    std::string Read() const;  // empty when the file is missing
    bool Exists() const;

private:
    QTemporaryDir dir_;
    std::string path_;
};

// Sets the whole table: count, then entries from the lists.
void SetTable(int32_t count, std::initializer_list<std::pair<uint8_t, uint8_t>> entries);

// Runs xdotool to its end; a failure fails the test.
void Xdotool(const QStringList& args);

// The X server's keyboard layouts as setxkbmap sets them ("us,de"), with the group of the given
// index locked, as a layout switch leaves it; "us" again when the object goes.
class KeyboardLayout {
public:
    explicit KeyboardLayout(const QString& layouts, int group = 0);
    ~KeyboardLayout();
    KeyboardLayout(const KeyboardLayout&) = delete;
    KeyboardLayout& operator=(const KeyboardLayout&) = delete;
};

// Presses and releases the key of an X key code with XTest, in the layout group in force (xdotool
// switches to the group where it finds a key).
void TypeKeycode(unsigned keycode);

// xev in a window of its own holding the X input focus: the program the user is typing into.
class OtherXClient {
public:
    OtherXClient();
    ~OtherXClient();
    // The key presses it received of a key symbol ("F12", "r").
    int PressesOf(const QString& keysym);

private:
    QProcess xev_;
    QString output_;
};

// The stand-in libkbtap.so variants, each in its own folder: "full", "nosetlist", "nosethook".
std::string FakeLibraryDir(const char* variant);

// The record kept by the loaded stand-in of that variant (nullptr when it isn't loaded).
FakeLog* FakeLibraryLog(const char* variant);

}  // namespace larkspur::testing
