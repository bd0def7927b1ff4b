#include "kbtap/keys.h"

namespace kbtap {

uint16_t ScanCodeFromKeycode(unsigned keycode) {
    constexpr uint16_t kExtended = 0x100;
    if (keycode < 9) return 0;
    const unsigned key = keycode - 8;
    if (key <= 88) return static_cast<uint16_t>(key);  // Esc (1) .. F12 (88)
    switch (key) {
        case 96: return kExtended | 0x1C;   // keypad Enter
        case 97: return kExtended | 0x1D;   // right Ctrl
        case 98: return kExtended | 0x35;   // keypad /
        case 99: return kExtended | 0x37;   // Print Screen
        case 100: return kExtended | 0x38;  // right Alt
        case 102: return kExtended | 0x47;  // Home
        case 103: return kExtended | 0x48;  // Up
        case 104: return kExtended | 0x49;  // Page Up
        case 105: return kExtended | 0x4B;  // Left
        case 106: return kExtended | 0x4D;  // Right
        case 107: return kExtended | 0x4F;  // End
        case 108: return kExtended | 0x50;  // Down
        case 109: return kExtended | 0x51;  // Page Down
        case 110: return kExtended | 0x52;  // Insert
        case 111: return kExtended | 0x53;  // Delete
        case 113: return kExtended | 0x20;  // Mute
        case 114: return kExtended | 0x2E;  // Volume Down
        case 115: return kExtended | 0x30;  // Volume Up
        case 119: return 0x45;              // Pause
        case 125: return kExtended | 0x5B;  // left Windows
        case 126: return kExtended | 0x5C;  // right Windows
        case 127: return kExtended | 0x5D;  // Menu
        case 163: return kExtended | 0x19;  // Next Track
        case 164: return kExtended | 0x22;  // Play/Pause
        case 165: return kExtended | 0x10;  // Previous Track
        case 166: return kExtended | 0x24;  // Stop
        default: return 0;
    }
}

}  // namespace kbtap
