#pragma once
#include <QString>
#include <Qt>
#include <cstdint>

class QKeyEvent;

// The keyboard as the program sees it: keys are Windows virtual-key codes (so HotKey.ini stays
// byte-compatible), with their scan codes and display names on a US keyboard.
namespace larkspur {

namespace vk {
inline constexpr uint8_t Tab = 0x09;
inline constexpr uint8_t Return = 0x0D;
inline constexpr uint8_t Shift = 0x10;
inline constexpr uint8_t Control = 0x11;
inline constexpr uint8_t Menu = 0x12;  // Alt
inline constexpr uint8_t Escape = 0x1B;
inline constexpr uint8_t F11 = 0x7A;
inline constexpr uint8_t F12 = 0x7B;
}  // namespace vk

// MapVirtualKeyEx(code, MAPVK_VK_TO_VSC_EX): the key's set-1 scan code, with 0xE000 added for the
// extended keys (the cursor block, right Ctrl and Alt, ...); 0 for a code no key has.
unsigned MapVirtualKeyEx(unsigned code);

// GetKeyNameText: the name of the key whose key-message flags are given (scan code in bits 16-23,
// extended-key bit 24): "F12", "R", "Esc", "Space", "Num 8", and "Up" for the cursor key that
// shares Num 8's scan code. Empty for a scan code no key has.
QString GetKeyNameText(uint32_t flags);

// The virtual-key code of a key event's Qt key, or 0 for a key without one. The keypad modifier
// tells the keypad's digits and operators apart; a shifted symbol names its key ("!" is the 1 key).
uint8_t VirtualKeyFromQtKey(int key, Qt::KeyboardModifiers modifiers);

// The virtual-key code of a key event, as the keyboard watch reports the same key: from its X
// key code and state where the program runs on X, else from its Qt key.
uint8_t VirtualKeyOfKeyEvent(const QKeyEvent& key);

}  // namespace larkspur
