#include "platform/keymap.h"

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <array>
#include <bitset>
#include <iterator>

namespace larkspur {
namespace {

// The main block by X key code (the kernel's key number + 8, as evdev servers number keys), with
// the code of each key's place on a US keyboard. Each code appears once.
struct Place {
    uint8_t keycode;
    uint8_t vk;
};
// clang-format off
constexpr Place kMainBlock[] = {
    {49, 0xC0}, {10, '1'}, {11, '2'}, {12, '3'}, {13, '4'}, {14, '5'}, {15, '6'}, {16, '7'},
    {17, '8'}, {18, '9'}, {19, '0'}, {20, 0xBD}, {21, 0xBB},
    {24, 'Q'}, {25, 'W'}, {26, 'E'}, {27, 'R'}, {28, 'T'}, {29, 'Y'}, {30, 'U'}, {31, 'I'},
    {32, 'O'}, {33, 'P'}, {34, 0xDB}, {35, 0xDD},
    {38, 'A'}, {39, 'S'}, {40, 'D'}, {41, 'F'}, {42, 'G'}, {43, 'H'}, {44, 'J'}, {45, 'K'},
    {46, 'L'}, {47, 0xBA}, {48, 0xDE}, {51, 0xDC},
    {52, 'Z'}, {53, 'X'}, {54, 'C'}, {55, 'V'}, {56, 'B'}, {57, 'N'}, {58, 'M'}, {59, 0xBC},
    {60, 0xBE}, {61, 0xBF},
};
// clang-format on
constexpr size_t kMainKeys = std::size(kMainBlock);
constexpr unsigned kLessGreaterKey = 94;  // left of Z on 102/105-key keyboards
constexpr uint8_t kOem102 = 0xE2;

// Codes left free by keys that took another by their character go out in this order: the
// punctuation codes first, so that a punctuation key keeps one of those where it can.
constexpr uint8_t kFreeOrder[] = {0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDC, 0xDD,
                                  0xDE, '0',  '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',
                                  '9',  'A',  'B',  'C',  'D',  'E',  'F',  'G',  'H',  'I',
                                  'J',  'K',  'L',  'M',  'N',  'O',  'P',  'Q',  'R',  'S',
                                  'T',  'U',  'V',  'W',  'X',  'Y',  'Z'};

uint8_t LetterOrDigit(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z) return static_cast<uint8_t>('A' + (sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z) return static_cast<uint8_t>('A' + (sym - XK_A));
    if (sym >= XK_0 && sym <= XK_9) return static_cast<uint8_t>('0' + (sym - XK_0));
    return 0;
}

uint8_t PlusCommaMinusPeriod(KeySym sym) {
    switch (sym) {
        case XK_plus: return 0xBB;
        case XK_comma: return 0xBC;
        case XK_minus: return 0xBD;
        case XK_period: return 0xBE;
        default: return 0;
    }
}

// The symbol at a level of a group, with a group the key lacks brought into range as XKB does.
KeySym SymbolAt(XkbDescPtr xkb, unsigned keycode, unsigned group, unsigned level) {
    if (keycode < xkb->min_key_code || keycode > xkb->max_key_code) return NoSymbol;
    const unsigned groups = XkbKeyNumGroups(xkb, keycode);
    if (groups == 0) return NoSymbol;
    if (group >= groups) {
        const unsigned info = XkbKeyGroupInfo(xkb, keycode);
        switch (XkbOutOfRangeGroupAction(info)) {
            case XkbRedirectIntoRange:
                group = XkbOutOfRangeGroupNumber(info);
                if (group >= groups) group = 0;
                break;
            case XkbClampIntoRange: group = groups - 1; break;
            default: group %= groups;
        }
    }
    if (level >= XkbKeyGroupWidth(xkb, keycode, group)) return NoSymbol;
    return XkbKeySymEntry(xkb, keycode, level, group);
}

// The codes of the main block in one group, in kMainBlock's order.
std::array<uint8_t, kMainKeys> MainBlockCodes(XkbDescPtr xkb, unsigned group) {
    std::array<uint8_t, kMainKeys> codes{};
    std::bitset<256> taken;
    auto take = [&](size_t i, uint8_t vk) {
        if (codes[i] || !vk || taken.test(vk)) return;
        codes[i] = vk;
        taken.set(vk);
    };
    // By character: letters and digits before the punctuation (AZERTY's "-"/"6" key is 6),
    // level 1 before level 2, the first key in order where two type the same.
    for (auto rule : {LetterOrDigit, PlusCommaMinusPeriod})
        for (unsigned level : {0u, 1u})
            for (size_t i = 0; i < kMainKeys; ++i)
                take(i, rule(SymbolAt(xkb, kMainBlock[i].keycode, group, level)));
    // By place; the keys whose place was claimed share out the codes left free. The main block
    // holds as many codes as keys, so every key gets one.
    for (size_t i = 0; i < kMainKeys; ++i) take(i, kMainBlock[i].vk);
    const uint8_t* free = std::begin(kFreeOrder);
    for (size_t i = 0; i < kMainKeys; ++i) {
        while (!codes[i] && free != std::end(kFreeOrder)) take(i, *free++);
    }
    return codes;
}

}  // namespace

uint8_t VirtualKeyOfKey(Display* display, unsigned keycode, unsigned state) {
    if (keycode == kLessGreaterKey) return kOem102;
    // The map is read anew for each key: one round trip, and never stale. The program's own
    // connection has its events read by Qt through XCB, so Xlib's copy of the map is not kept
    // current there.
    XkbDescPtr xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!xkb) return 0;
    const unsigned group = XkbGroupForCoreState(state);
    uint8_t vk = 0;
    bool main = false;
    for (size_t i = 0; i < kMainKeys; ++i) {
        if (kMainBlock[i].keycode != keycode) continue;
        vk = MainBlockCodes(xkb, group)[i];
        main = true;
    }
    if (!main) {
        // The unshifted symbol names the key (Shift+Tab is Tab); keypad keys follow Num Lock.
        KeySym sym = SymbolAt(xkb, keycode, group, 0);
        if (IsKeypadKey(sym) && (state & Mod2Mask)) {
            const KeySym numeric = SymbolAt(xkb, keycode, group, 1);
            if (numeric != NoSymbol) sym = numeric;
        }
        vk = VirtualKeyFromKeysym(sym);
    }
    XkbFreeKeyboard(xkb, 0, True);
    return vk;
}

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

}  // namespace larkspur
