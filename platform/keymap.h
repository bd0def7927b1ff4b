// X key events as Windows virtual-key codes. The keyboard watch (libkbtap.so) and the key fields of
// the Keyboard options both translate with this one implementation, so that a key a field stores
// is the key the watch reports. Xlib and XKB only: the library links it without Qt.
#pragma once
#include <X11/Xlib.h>

#include <cstdint>

namespace larkspur {

// The virtual-key code of the key with X key code `keycode`, pressed with the key event state
// `state` (its layout group, Num Lock), on the display's current keyboard map; 0 for a key that
// has none.
//
// Keys of the main block take their code from the characters they type in the active group:
// letters and digits at level 1 or 2 as on Windows, and '+', ',', '-', '.' their VK_OEM_PLUS,
// COMMA, MINUS, PERIOD (documented by Microsoft for any country/region); the key left of Z on
// 102/105-key keyboards is VK_OEM_102. Every other main-block key takes the code of its place on a
// US keyboard where no other key of the group claimed it by its character, and otherwise one of
// the codes those keys left free. Windows layouts have tables of their own for these keys (German
// gives ß VK_OEM_4): this rule approximates them, and within one group no two keys share a code.
// Keys outside the main block go by their key symbol.
uint8_t VirtualKeyOfKey(Display* display, unsigned keycode, unsigned state);

// The virtual-key code of a key symbol of the function keys, keypad, cursor block, modifiers and
// media keys (and of the US main block), or 0 for a symbol that has none.
uint8_t VirtualKeyFromKeysym(KeySym sym);

// The key symbol that names a virtual-key code's key (the main-block one where the keypad has a
// twin), or NoSymbol for a code VirtualKeyFromKeysym never gives.
KeySym KeysymFromVirtualKey(uint8_t vk);

}  // namespace larkspur
