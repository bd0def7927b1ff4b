// Translation of X key events into the Windows key codes the program works with. Private to the
// library.
#pragma once
#include <X11/X.h>
#include <cstdint>

namespace kbtap {

// The virtual-key code of a keysym, or 0 for a key that has none.
uint8_t VirtualKeyFromKeysym(KeySym sym);

// The keysym that names a virtual-key code's key (the main-block one where the keypad has a twin),
// or NoSymbol for a code VirtualKeyFromKeysym never gives.
KeySym KeysymFromVirtualKey(uint8_t vk);

// The set-1 scan code of an X key code in bits 0-7 and the extended-key flag in bit 8, or 0 when
// the key has none. X servers number keys as the kernel does plus 8, and the kernel's numbers are
// the set-1 scan codes for the main block.
uint16_t ScanCodeFromKeycode(unsigned keycode);

}  // namespace kbtap
