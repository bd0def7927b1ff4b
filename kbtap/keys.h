// Scan codes of X key events, as Windows reports them. Private to the library.
#pragma once
#include <X11/X.h>
#include <cstdint>

namespace kbtap {

// The set-1 scan code of an X key code in bits 0-7 and the extended-key flag in bit 8, or 0 when
// the key has none. X servers number keys as the kernel does plus 8, and the kernel's numbers are
// the set-1 scan codes for the main block.
uint16_t ScanCodeFromKeycode(unsigned keycode);

}  // namespace kbtap
