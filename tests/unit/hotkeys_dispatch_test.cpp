// Matching key reports against the hotkey table and the actions of the two hotkeys.
#include <gtest/gtest.h>

#include <string>

#include "hotkeys/dispatch.h"
#include "hotkeys/hotkey_table.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using testing::SetTable;

constexpr uint8_t F12 = 0x7B, F11 = 0x7A;
constexpr uint32_t kReleased = 0xC0000000u;

// The main window's recording state and its three buttons, with the clicks they received.
class FakeWindow : public HotKeyTarget {
public:
    bool recording = false;
    bool paused = false;
    bool finishing = false;
    std::string clicks;

    bool IsRecording() const override { return recording; }
    bool IsPaused() const override { return paused; }
    bool IsFinishing() const override { return finishing; }
    void ClickRecord() override { clicks += "R"; }
    void ClickPause() override { clicks += "P"; }
    void ClickStop() override { clicks += "S"; }
};

THookKeyMessage Press(uint8_t key, uint8_t modifiers = 0) {
    THookKeyMessage m;
    m.WParam = key;
    m.LParam = 0x00010001u;
    m.Modifiers = modifiers;
    return m;
}

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { SetTable(2, {{F12, 0}, {F11, 0}}); }
    std::string After(const THookKeyMessage& m) {
        window.clicks.clear();
        HookKeyMessage(window, m);
        return window.clicks;
    }
    FakeWindow window;
};

// A key a key field took after the watch saw it matches the table as it stood before; other
// reports, and those of unknown time, match the table as it is.
TEST_F(Dispatch, AKeyAFieldTookMatchesTheTableBeforeIt) {
    KeepTableBeforeKey(1000);
    SetTable(2, {{0x52, 1}, {F11, 0}});  // the field took Ctrl+R into entry 0
    THookKeyMessage ctrlR = Press(0x52, 1);
    ctrlR.Time = 1000;
    EXPECT_EQ(After(ctrlR), "");
    THookKeyMessage f12 = Press(F12);
    f12.Time = 1000;
    EXPECT_EQ(After(f12), "R");
    ctrlR.Time = 1001;
    EXPECT_EQ(After(ctrlR), "R");
    EXPECT_EQ(After(Press(0x52, 1)), "R");
}

TEST_F(Dispatch, RecordPauseKeyFollowsTheRecordingState) {
    EXPECT_EQ(After(Press(F12)), "R");  // idle: a new recording
    window.recording = true;
    EXPECT_EQ(After(Press(F12)), "P");  // recording: pause
    window.paused = true;
    EXPECT_EQ(After(Press(F12)), "R");  // paused: resume
}

TEST_F(Dispatch, StopKeyStopsOnlyARecording) {
    window.recording = true;
    EXPECT_EQ(After(Press(F11)), "S");
    window.paused = true;
    EXPECT_EQ(After(Press(F11)), "S");
    window.recording = window.paused = false;
    EXPECT_EQ(After(Press(F11)), "");  // idle: the Stop handler is not run at all
}

TEST_F(Dispatch, EntriesFromTwoOnMatchButDoNothing) {
    SetTable(3, {{F12, 0}, {F11, 0}, {0x52, 1}});
    window.recording = true;
    EXPECT_EQ(After(Press(0x52, 1)), "");
    // It matched: a later entry with the same combination is never reached.
    SetTable(4, {{F12, 0}, {F11, 0}, {0x52, 1}, {0x52, 1}});
    EXPECT_EQ(After(Press(0x52, 1)), "");
}

TEST_F(Dispatch, AReleaseNeverMatches) {
    auto release = Press(F12);
    release.LParam |= kReleased;
    EXPECT_EQ(After(release), "");
    release.LParam = 1u << 31;
    EXPECT_EQ(After(release), "");
}

TEST_F(Dispatch, ModifiersMustMatchExactly) {
    EXPECT_EQ(After(Press(F12, 1)), "");  // Ctrl+F12 is not F12
    SetTable(2, {{F12, 1}, {F11, 0}});
    EXPECT_EQ(After(Press(F12)), "");     // F12 alone is not Ctrl+F12
    EXPECT_EQ(After(Press(F12, 3)), "");
    EXPECT_EQ(After(Press(F12, 1)), "R");
}

TEST_F(Dispatch, TheLowerOfTwoEqualEntriesWins) {
    SetTable(2, {{F12, 0}, {F12, 0}});
    window.recording = true;
    EXPECT_EQ(After(Press(F12)), "P");  // never Stop
}

TEST_F(Dispatch, DeletedAndOutOfRangeEntriesNeverMatch) {
    SetTable(2, {{255, 255}, {F11, 9}});
    window.recording = true;
    for (uint8_t mods = 0; mods < 8; ++mods) {
        EXPECT_EQ(After(Press(255, mods)), "");
        EXPECT_EQ(After(Press(F11, mods)), "");
    }
}

TEST_F(Dispatch, ACountOfZeroIgnoresEverything) {
    SetTable(0, {{F12, 0}, {F11, 0}});
    EXPECT_EQ(After(Press(F12)), "");
    window.recording = true;
    EXPECT_EQ(After(Press(F11)), "");
}

TEST_F(Dispatch, ReportsAreIgnoredWhileARecordingIsBeingFinished) {
    window.finishing = true;  // Stop pressed, the Save dialog open: IsRecording is already off
    EXPECT_EQ(After(Press(F12)), "");
    EXPECT_EQ(After(Press(F11)), "");
    window.finishing = false;
    EXPECT_EQ(After(Press(F12)), "R");
}

TEST_F(Dispatch, EditsInTheTableApplyAtOnce) {
    HotKeyCodes[0] = 0x52;
    CASKeyCodes[0] = 1;
    EXPECT_EQ(After(Press(F12)), "");
    EXPECT_EQ(After(Press(0x52, 1)), "R");
}

}  // namespace
}  // namespace larkspur
