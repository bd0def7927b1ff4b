#include "platform/keyboard.h"

#include <array>
#include <string_view>

namespace larkspur {
namespace {

constexpr unsigned kExtended = 0xE000;

struct Key {
    uint8_t code;
    uint16_t scan;  // with kExtended for the extended keys
    std::string_view name;
};

// clang-format off
constexpr Key kKeys[] = {
    {0x08, 0x0E, "Backspace"}, {0x09, 0x0F, "Tab"}, {0x0C, 0x4C, "Num 5"}, {0x0D, 0x1C, "Enter"},
    {0x10, 0x2A, "Shift"}, {0x11, 0x1D, "Ctrl"}, {0x12, 0x38, "Alt"}, {0x13, 0x45, "Pause"},
    {0x14, 0x3A, "Caps Lock"}, {0x1B, 0x01, "Esc"}, {0x20, 0x39, "Space"},
    {0x21, kExtended | 0x49, "Page Up"}, {0x22, kExtended | 0x51, "Page Down"},
    {0x23, kExtended | 0x4F, "End"}, {0x24, kExtended | 0x47, "Home"},
    {0x25, kExtended | 0x4B, "Left"}, {0x26, kExtended | 0x48, "Up"},
    {0x27, kExtended | 0x4D, "Right"}, {0x28, kExtended | 0x50, "Down"},
    {0x2C, kExtended | 0x37, "Print Screen"}, {0x2D, kExtended | 0x52, "Insert"},
    {0x2E, kExtended | 0x53, "Delete"},
    {0x30, 0x0B, "0"}, {0x31, 0x02, "1"}, {0x32, 0x03, "2"}, {0x33, 0x04, "3"}, {0x34, 0x05, "4"},
    {0x35, 0x06, "5"}, {0x36, 0x07, "6"}, {0x37, 0x08, "7"}, {0x38, 0x09, "8"}, {0x39, 0x0A, "9"},
    {0x41, 0x1E, "A"}, {0x42, 0x30, "B"}, {0x43, 0x2E, "C"}, {0x44, 0x20, "D"}, {0x45, 0x12, "E"},
    {0x46, 0x21, "F"}, {0x47, 0x22, "G"}, {0x48, 0x23, "H"}, {0x49, 0x17, "I"}, {0x4A, 0x24, "J"},
    {0x4B, 0x25, "K"}, {0x4C, 0x26, "L"}, {0x4D, 0x32, "M"}, {0x4E, 0x31, "N"}, {0x4F, 0x18, "O"},
    {0x50, 0x19, "P"}, {0x51, 0x10, "Q"}, {0x52, 0x13, "R"}, {0x53, 0x1F, "S"}, {0x54, 0x14, "T"},
    {0x55, 0x16, "U"}, {0x56, 0x2F, "V"}, {0x57, 0x11, "W"}, {0x58, 0x2D, "X"}, {0x59, 0x15, "Y"},
    {0x5A, 0x2C, "Z"},
    {0x5B, kExtended | 0x5B, "Left Windows"}, {0x5C, kExtended | 0x5C, "Right Windows"},
    {0x5D, kExtended | 0x5D, "Application"},
    {0x60, 0x52, "Num 0"}, {0x61, 0x4F, "Num 1"}, {0x62, 0x50, "Num 2"}, {0x63, 0x51, "Num 3"},
    {0x64, 0x4B, "Num 4"}, {0x65, 0x4C, "Num 5"}, {0x66, 0x4D, "Num 6"}, {0x67, 0x47, "Num 7"},
    {0x68, 0x48, "Num 8"}, {0x69, 0x49, "Num 9"}, {0x6A, 0x37, "Num *"}, {0x6B, 0x4E, "Num +"},
    {0x6D, 0x4A, "Num -"}, {0x6E, 0x53, "Num Del"}, {0x6F, kExtended | 0x35, "Num /"},
    {0x70, 0x3B, "F1"}, {0x71, 0x3C, "F2"}, {0x72, 0x3D, "F3"}, {0x73, 0x3E, "F4"},
    {0x74, 0x3F, "F5"}, {0x75, 0x40, "F6"}, {0x76, 0x41, "F7"}, {0x77, 0x42, "F8"},
    {0x78, 0x43, "F9"}, {0x79, 0x44, "F10"}, {0x7A, 0x57, "F11"}, {0x7B, 0x58, "F12"},
    {0x7C, 0x64, "F13"}, {0x7D, 0x65, "F14"}, {0x7E, 0x66, "F15"}, {0x7F, 0x67, "F16"},
    {0x80, 0x68, "F17"}, {0x81, 0x69, "F18"}, {0x82, 0x6A, "F19"}, {0x83, 0x6B, "F20"},
    {0x84, 0x6C, "F21"}, {0x85, 0x6D, "F22"}, {0x86, 0x6E, "F23"}, {0x87, 0x76, "F24"},
    {0x90, kExtended | 0x45, "Num Lock"}, {0x91, 0x46, "Scroll Lock"},
    {0xA0, 0x2A, "Shift"}, {0xA1, 0x36, "Right Shift"}, {0xA2, 0x1D, "Ctrl"},
    {0xA3, kExtended | 0x1D, "Right Ctrl"}, {0xA4, 0x38, "Alt"}, {0xA5, kExtended | 0x38, "Right Alt"},
    {0xAD, kExtended | 0x20, "Mute"}, {0xAE, kExtended | 0x2E, "Volume Down"},
    {0xAF, kExtended | 0x30, "Volume Up"}, {0xB0, kExtended | 0x19, "Next Track"},
    {0xB1, kExtended | 0x10, "Previous Track"}, {0xB2, kExtended | 0x24, "Media Stop"},
    {0xB3, kExtended | 0x22, "Play/Pause"},
    {0xBA, 0x27, ";"}, {0xBB, 0x0D, "="}, {0xBC, 0x33, ","}, {0xBD, 0x0C, "-"}, {0xBE, 0x34, "."},
    {0xBF, 0x35, "/"}, {0xC0, 0x29, "`"}, {0xDB, 0x1A, "["}, {0xDC, 0x2B, "\\"}, {0xDD, 0x1B, "]"},
    {0xDE, 0x28, "'"}, {0xE2, 0x56, "<"},
};
// clang-format on

}  // namespace

unsigned MapVirtualKeyEx(unsigned code) {
    for (const Key& key : kKeys)
        if (key.code == code) return key.scan;
    return 0;
}

QString GetKeyNameText(uint32_t flags) {
    const unsigned scan = ((flags >> 16) & 0xFF) | ((flags & (1u << 24)) ? kExtended : 0);
    for (const Key& key : kKeys)
        if (key.scan == scan) return QString::fromLatin1(key.name.data(), key.name.size());
    return {};
}

uint8_t VirtualKeyFromQtKey(int key, Qt::KeyboardModifiers modifiers) {
    const bool keypad = modifiers & Qt::KeypadModifier;
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint8_t>(0x41 + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return static_cast<uint8_t>((keypad ? 0x60 : 0x30) + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<uint8_t>(0x70 + (key - Qt::Key_F1));
    switch (key) {
        case Qt::Key_Backspace: return 0x08;
        case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
        case Qt::Key_Clear: return 0x0C;
        case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
        case Qt::Key_Shift: return 0x10;
        case Qt::Key_Control: return 0x11;
        case Qt::Key_Alt: case Qt::Key_AltGr: case Qt::Key_Meta: return 0x12;
        case Qt::Key_Pause: return 0x13;
        case Qt::Key_CapsLock: return 0x14;
        case Qt::Key_Escape: return 0x1B;
        case Qt::Key_Space: return 0x20;
        case Qt::Key_PageUp: return 0x21;
        case Qt::Key_PageDown: return 0x22;
        case Qt::Key_End: return 0x23;
        case Qt::Key_Home: return 0x24;
        case Qt::Key_Left: return 0x25;
        case Qt::Key_Up: return 0x26;
        case Qt::Key_Right: return 0x27;
        case Qt::Key_Down: return 0x28;
        case Qt::Key_Print: case Qt::Key_SysReq: return 0x2C;
        case Qt::Key_Insert: return 0x2D;
        case Qt::Key_Delete: return 0x2E;
        case Qt::Key_Super_L: return 0x5B;
        case Qt::Key_Super_R: return 0x5C;
        case Qt::Key_Menu: return 0x5D;
        case Qt::Key_NumLock: return 0x90;
        case Qt::Key_ScrollLock: return 0x91;
        case Qt::Key_VolumeMute: return 0xAD;
        case Qt::Key_VolumeDown: return 0xAE;
        case Qt::Key_VolumeUp: return 0xAF;
        case Qt::Key_MediaNext: return 0xB0;
        case Qt::Key_MediaPrevious: return 0xB1;
        case Qt::Key_MediaStop: return 0xB2;
        case Qt::Key_MediaPlay: case Qt::Key_MediaPause: case Qt::Key_MediaTogglePlayPause: return 0xB3;
        // The shifted symbols of a US keyboard name the key they are on.
        case Qt::Key_ParenRight: return 0x30;
        case Qt::Key_Exclam: return 0x31;
        case Qt::Key_At: return 0x32;
        case Qt::Key_NumberSign: return 0x33;
        case Qt::Key_Dollar: return 0x34;
        case Qt::Key_Percent: return 0x35;
        case Qt::Key_AsciiCircum: return 0x36;
        case Qt::Key_Ampersand: return 0x37;
        case Qt::Key_Asterisk: return keypad ? 0x6A : 0x38;
        case Qt::Key_ParenLeft: return 0x39;
        case Qt::Key_Plus: return keypad ? 0x6B : 0xBB;
        case Qt::Key_Minus: return keypad ? 0x6D : 0xBD;
        case Qt::Key_Period: return keypad ? 0x6E : 0xBE;
        case Qt::Key_Slash: return keypad ? 0x6F : 0xBF;
        case Qt::Key_Semicolon: case Qt::Key_Colon: return 0xBA;
        case Qt::Key_Equal: return 0xBB;
        case Qt::Key_Comma: return 0xBC;
        case Qt::Key_Underscore: return 0xBD;
        case Qt::Key_Greater: return 0xBE;
        case Qt::Key_Question: return 0xBF;
        case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
        case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 0xDB;
        case Qt::Key_Backslash: case Qt::Key_Bar: return 0xDC;
        case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 0xDD;
        case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
        case Qt::Key_Less: return 0xE2;  // the extra key left of Z on 102-key keyboards
        default: return 0;
    }
}

}  // namespace larkspur
