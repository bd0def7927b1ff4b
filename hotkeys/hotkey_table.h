#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

// The hotkey table, one for the whole program: entry 0 is Record/Pause, entry 1 Stop. The Keyboard
// options dialog edits it in place and the main window matches key reports against it.
namespace larkspur {

inline constexpr int kHotKeyCapacity = 99;
inline constexpr uint8_t kDeletedKey = 255;  // key and modifier code of a deleted entry

extern uint8_t HotKeyCodes[kHotKeyCapacity];  // virtual-key codes
extern uint8_t CASKeyCodes[kHotKeyCapacity];  // Ctrl 1 + Alt 2 + Shift 4
extern int32_t HotKeyCount;                   // entries in use, as loaded (at most 99)

// The keyboard watch sees a key before the focused window does, but its report may be handled
// after a key field of the Keyboard options took the same key into the table. Such a report is
// matched against the table as it stood before the field took the key, found by the key event's
// X server time.
struct HotKeyTableCopy {
    uint8_t keys[kHotKeyCapacity];
    uint8_t modifiers[kHotKeyCapacity];
};
// Called by a key field before it changes the table for the key event of that time (0: unknown).
void KeepTableBeforeKey(uint32_t time);
// The table before a key field took the key of that time, or null where no field took it.
const HotKeyTableCopy* TableBeforeKey(uint32_t time);

// "Ctrl + ", "Ctrl + Alt + Shift + " ... for the codes 0 to 7; empty for any other code.
QString ModifierPrefix(uint8_t code);
// The key's name; empty for Shift, Ctrl and Alt and for codes no key has.
QString KeyNameText(uint8_t code);
// What a key field shows for an entry: its prefix followed by its key's name.
QString HotKeyText(int index);

// HotKey.ini in the recorder's settings folder.
std::string HotKeyIniPath();
// Lets a test keep its HotKey.ini elsewhere; an empty path restores the real one.
void SetHotKeyIniPathForTest(const std::string& path);

// Reads HotKey.ini into the table, calling entry_read with each index once its entry is complete.
// A missing file is created with F12 and F11 (or, where it can't be, they are used without one).
// A Count or CASKey that is not a number raises EConvertError, leaving what was read before it.
void LoadHotKeys(const std::function<void(int)>& entry_read = {});
// Writes Count and the entries below it to HotKey.ini; raises EIniFileException when it can't.
void SaveHotKeys();

}  // namespace larkspur
