#include "kbtap/keys.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace kbtap {

uint8_t VirtualKeyFromKeysym(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z) return static_cast<uint8_t>(0x41 + (sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z) return static_cast<uint8_t>(0x41 + (sym - XK_A));
    if (sym >= XK_0 && sym <= XK_9) return static_cast<uint8_t>(0x30 + (sym - XK_0));
    if (sym >= XK_F1 && sym <= XK_F24) return static_cast<uint8_t>(0x70 + (sym - XK_F1));
    if (sym >= XK_KP_0 && sym <= XK_KP_9) return static_cast<uint8_t>(0x60 + (sym - XK_KP_0));
    switch (sym) {
        case XK_BackSpace: return 0x08;
        case XK_Tab: case XK_ISO_Left_Tab: return 0x09;
        case XK_KP_Begin: return 0x0C;
        case XK_Return: case XK_KP_Enter: return 0x0D;
        case XK_Shift_L: case XK_Shift_R: return 0x10;
        case XK_Control_L: case XK_Control_R: return 0x11;
        case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R:
        case XK_ISO_Level3_Shift: return 0x12;
        case XK_Pause: return 0x13;
        case XK_Caps_Lock: return 0x14;
        case XK_Escape: return 0x1B;
        case XK_space: return 0x20;
        case XK_Prior: case XK_KP_Prior: return 0x21;
        case XK_Next: case XK_KP_Next: return 0x22;
        case XK_End: case XK_KP_End: return 0x23;
        case XK_Home: case XK_KP_Home: return 0x24;
        case XK_Left: case XK_KP_Left: return 0x25;
        case XK_Up: case XK_KP_Up: return 0x26;
        case XK_Right: case XK_KP_Right: return 0x27;
        case XK_Down: case XK_KP_Down: return 0x28;
        case XK_Print: return 0x2C;
        case XK_Insert: case XK_KP_Insert: return 0x2D;
        case XK_Delete: case XK_KP_Delete: return 0x2E;
        case XK_Super_L: return 0x5B;
        case XK_Super_R: return 0x5C;
        case XK_Menu: return 0x5D;
        case XK_KP_Multiply: return 0x6A;
        case XK_KP_Add: return 0x6B;
        case XK_KP_Separator: return 0x6C;
        case XK_KP_Subtract: return 0x6D;
        case XK_KP_Decimal: return 0x6E;
        case XK_KP_Divide: return 0x6F;
        case XK_Num_Lock: return 0x90;
        case XK_Scroll_Lock: return 0x91;
        case XF86XK_AudioMute: return 0xAD;
        case XF86XK_AudioLowerVolume: return 0xAE;
        case XF86XK_AudioRaiseVolume: return 0xAF;
        case XF86XK_AudioNext: return 0xB0;
        case XF86XK_AudioPrev: return 0xB1;
        case XF86XK_AudioStop: return 0xB2;
        case XF86XK_AudioPlay: case XF86XK_AudioPause: return 0xB3;
        case XK_semicolon: return 0xBA;
        case XK_equal: return 0xBB;
        case XK_comma: return 0xBC;
        case XK_minus: return 0xBD;
        case XK_period: return 0xBE;
        case XK_slash: return 0xBF;
        case XK_grave: return 0xC0;
        case XK_bracketleft: return 0xDB;
        case XK_backslash: return 0xDC;
        case XK_bracketright: return 0xDD;
        case XK_apostrophe: return 0xDE;
        case XK_less: return 0xE2;  // the extra key left of Z on 102-key keyboards
        default: return 0;
    }
}

KeySym KeysymFromVirtualKey(uint8_t vk) {
    if (vk >= 0x41 && vk <= 0x5A) return XK_a + (vk - 0x41);
    if (vk >= 0x30 && vk <= 0x39) return XK_0 + (vk - 0x30);
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
    // Each remaining key once, by the symbol that names it; the first match wins.
    static constexpr KeySym kNamed[] = {
        XK_BackSpace, XK_Tab, XK_KP_Begin, XK_Return, XK_Shift_L, XK_Control_L, XK_Alt_L,
        XK_Pause, XK_Caps_Lock, XK_Escape, XK_space, XK_Prior, XK_Next, XK_End, XK_Home, XK_Left,
        XK_Up, XK_Right, XK_Down, XK_Print, XK_Insert, XK_Delete, XK_Super_L, XK_Super_R, XK_Menu,
        XK_KP_Multiply, XK_KP_Add, XK_KP_Separator, XK_KP_Subtract, XK_KP_Decimal, XK_KP_Divide,
        XK_Num_Lock, XK_Scroll_Lock, XF86XK_AudioMute, XF86XK_AudioLowerVolume,
        XF86XK_AudioRaiseVolume, XF86XK_AudioNext, XF86XK_AudioPrev, XF86XK_AudioStop,
        XF86XK_AudioPlay, XK_semicolon, XK_equal, XK_comma, XK_minus, XK_period, XK_slash,
        XK_grave, XK_bracketleft, XK_backslash, XK_bracketright, XK_apostrophe, XK_less};
    for (const KeySym sym : kNamed)
        if (VirtualKeyFromKeysym(sym) == vk) return sym;
    return NoSymbol;
}

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
