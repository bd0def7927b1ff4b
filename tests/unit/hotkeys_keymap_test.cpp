// Key events to virtual-key codes on real layouts of a real X server: the codes the key fields
// store and libkbtap.so reports.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "support/hotkeys_support.h"

// Last: Xlib's macros clash with Qt's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "platform/keymap.h"

namespace larkspur {
namespace {

// X key codes of the main block, the key left of Z (94) included.
std::vector<unsigned> MainBlock() {
    std::vector<unsigned> keys{94};
    for (const auto& [first, last] : {std::pair{10u, 21u}, {24u, 35u}, {38u, 48u}, {51u, 61u}})
        for (unsigned key = first; key <= last; ++key) keys.push_back(key);
    return keys;
}

class Keymap : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(display_) << "no X display"; }
    void TearDown() override {
        if (display_) XCloseDisplay(display_);
    }
    uint8_t Code(unsigned keycode, unsigned group = 0, unsigned state = 0) {
        return VirtualKeyOfKey(display_, keycode, XkbBuildCoreState(state, group));
    }

    Display* display_ = XOpenDisplay(nullptr);
};

TEST_F(Keymap, KeysTakeTheCodesOfTheirCharactersInTheActiveGroup) {
    {
        testing::KeyboardLayout layout("us,de");
        EXPECT_EQ(Code(52, 0), 0x5A);  // z, then y on German
        EXPECT_EQ(Code(52, 1), 0x59);
        EXPECT_EQ(Code(29, 1), 0x5A);
        EXPECT_EQ(Code(35, 0), 0xDD);  // ], then +
        EXPECT_EQ(Code(35, 1), 0xBB);
        EXPECT_EQ(Code(61, 1), 0xBD);  // German -
        const uint8_t sharp_s = Code(20, 1);
        EXPECT_TRUE(sharp_s == 0xBA || sharp_s == 0xBF || sharp_s == 0xC0 ||
                    (sharp_s >= 0xDB && sharp_s <= 0xDE))
            << int(sharp_s);
        for (unsigned group : {0u, 1u}) EXPECT_EQ(Code(94, group), 0xE2);
        // Outside the main block, by key symbol: F12, keypad 8 with and without Num Lock.
        EXPECT_EQ(Code(96, 1), 0x7B);
        EXPECT_EQ(Code(80, 1, Mod2Mask), 0x68);
        EXPECT_EQ(Code(80, 1), 0x26);
    }
    {
        testing::KeyboardLayout layout("fr");
        EXPECT_EQ(Code(10), 0x31);  // & 1
        EXPECT_EQ(Code(15), 0x36);  // - 6
        EXPECT_EQ(Code(24), 0x41);  // a
        EXPECT_EQ(Code(21), 0xBB);  // = +
        EXPECT_EQ(Code(94), 0xE2);
    }
    {
        // Letter keys without Latin symbols take the code of their place, as the US group has it.
        testing::KeyboardLayout layout("ru,us");
        EXPECT_EQ(Code(24, 0), 0x51);
        for (unsigned key : MainBlock()) {
            const uint8_t us = Code(key, 1);
            if ((us >= 'A' && us <= 'Z') || (us >= '0' && us <= '9')) {
                EXPECT_EQ(Code(key, 0), us) << key;
            }
        }
    }
}

TEST_F(Keymap, NoTwoMainBlockKeysOfAGroupShareACode) {
    testing::KeyboardLayout layout("us,de,fr,ru,gr");  // XKB keeps four groups
    for (unsigned group = 0; group < 4; ++group) {
        std::map<uint8_t, unsigned> owner;
        for (unsigned key : MainBlock()) {
            const uint8_t code = Code(key, group);
            EXPECT_NE(code, 0) << "group " << group << " key " << key;
            const auto [it, fresh] = owner.emplace(code, key);
            EXPECT_TRUE(fresh) << "group " << group << ": keys " << it->second << " and " << key
                               << " share " << int(code);
        }
    }
}

}  // namespace
}  // namespace larkspur
