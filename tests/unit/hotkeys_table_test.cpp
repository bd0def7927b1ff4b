// The hotkey table, its display texts and HotKey.ini.
#include <gtest/gtest.h>

#include <QDir>
#include <fstream>
#include <map>
#include <set>

#include "config/ini_file.h"
#include "hotkeys/hotkey_table.h"
#include "platform/keyboard.h"
#include "support/hotkeys_support.h"

namespace larkspur {
namespace {

using testing::HotKeyFile;
using testing::SetTable;

const std::string kDefaultFile = "[HotKey]\nCount=2\nHotKey0={\nCASKey0=0\nHotKey1=z\nCASKey1=0\n";

TEST(HotKeyText, ModifierPrefixesNameCtrlAltShiftInThatOrder) {
    const char* expected[] = {"", "Ctrl + ", "Alt + ", "Ctrl + Alt + ", "Shift + ",
                              "Ctrl + Shift + ", "Alt + Shift + ", "Ctrl + Alt + Shift + "};
    for (int code = 0; code < 8; ++code) EXPECT_EQ(ModifierPrefix(code), expected[code]) << code;
    EXPECT_EQ(ModifierPrefix(8), "");
    EXPECT_EQ(ModifierPrefix(9), "");
    EXPECT_EQ(ModifierPrefix(255), "");
}

TEST(HotKeyText, KeyNamesNameTheKeyPressed) {
    EXPECT_EQ(KeyNameText(0x7B), "F12");
    EXPECT_EQ(KeyNameText(0x7A), "F11");
    EXPECT_EQ(KeyNameText(0x52), "R");
    EXPECT_EQ(KeyNameText(0x31), "1");
    EXPECT_EQ(KeyNameText(0x1B), "Esc");
    EXPECT_EQ(KeyNameText(0x20), "Space");
    EXPECT_EQ(KeyNameText(0x0D), "Enter");
    // The cursor block shares its scan codes with the keypad but keeps its own names.
    EXPECT_EQ(MapVirtualKeyEx(0x26) & 0xFF, MapVirtualKeyEx(0x68) & 0xFF);
    EXPECT_EQ(KeyNameText(0x26), "Up");
    EXPECT_EQ(KeyNameText(0x68), "Num 8");
    EXPECT_EQ(KeyNameText(0x2E), "Delete");
    EXPECT_EQ(KeyNameText(0x6E), "Num Del");
    EXPECT_EQ(KeyNameText(0x22), "Page Down");
    EXPECT_EQ(KeyNameText(0x63), "Num 3");
    // The modifiers alone and codes no key has show nothing.
    for (uint8_t code : {0x10, 0x11, 0x12, 0x00, 0x07, 0xFF}) EXPECT_EQ(KeyNameText(code), "") << int(code);
}

TEST(HotKeyText, NoTwoKeysShareAName) {
    // The generic and left-hand modifier codes and Clear (keypad 5) are the same keys.
    const std::set<std::pair<int, int>> same = {{0x0C, 0x65}, {0x10, 0xA0}, {0x11, 0xA2}, {0x12, 0xA4}};
    std::map<QString, int> owner;
    int named = 0;
    for (int code = 1; code < 255; ++code) {
        const unsigned scan = MapVirtualKeyEx(code);
        if (scan == 0) continue;
        const QString name = GetKeyNameText(((scan & 0xFF) << 16) | ((scan & 0xE000) ? 1u << 24 : 0));
        ASSERT_FALSE(name.isEmpty()) << code;
        ++named;
        auto [it, fresh] = owner.emplace(name, code);
        if (!fresh) {
            EXPECT_TRUE(same.count({it->second, code})) << name.toStdString();
        }
    }
    EXPECT_GT(named, 100);
}

TEST(HotKeyText, QtKeysMapToTheKeyTheyAreOn) {
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_R, Qt::ControlModifier), 0x52);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_F12, Qt::NoModifier), 0x7B);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Exclam, Qt::ShiftModifier), 0x31);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_BraceLeft, Qt::ShiftModifier), 0xDB);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Less, Qt::NoModifier), 0xE2);  // the key left of Z
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_8, Qt::KeypadModifier), 0x68);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_8, Qt::NoModifier), 0x38);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Up, Qt::KeypadModifier), 0x26);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Minus, Qt::KeypadModifier), 0x6D);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Enter, Qt::KeypadModifier), 0x0D);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Backtab, Qt::ShiftModifier), 0x09);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Control, Qt::NoModifier), 0x11);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Calculator, Qt::NoModifier), 0);
}

TEST(HotKeyFileLoad, AMissingFileIsCreatedWithF12AndF11) {
    HotKeyFile file;
    SetTable(0, {});
    std::vector<int> filled;
    LoadHotKeys([&](int n) { filled.push_back(n); });
    EXPECT_EQ(file.Read(), kDefaultFile);
    EXPECT_EQ(HotKeyCount, 2);
    EXPECT_EQ(HotKeyText(0), "F12");
    EXPECT_EQ(HotKeyText(1), "F11");
    EXPECT_EQ(filled, (std::vector<int>{0, 1}));
}

TEST(HotKeyFileLoad, WhereTheFileCannotBeCreatedTheDefaultsWorkQuietly) {
    HotKeyFile file;
    QTemporaryDir dir;
    const std::string blocker = dir.filePath("not-a-folder").toStdString();
    std::ofstream(blocker) << "x";
    SetHotKeyIniPathForTest(blocker + "/HotKey.ini");
    SetTable(0, {});
    EXPECT_NO_THROW(LoadHotKeys());
    EXPECT_EQ(HotKeyCount, 2);
    EXPECT_EQ(HotKeyCodes[0], 0x7B);
    EXPECT_EQ(HotKeyCodes[1], 0x7A);
}

TEST(HotKeyFileLoad, MissingKeysReadAsTheDigitZero) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=2\n");
    SetTable(0, {});
    LoadHotKeys();
    ASSERT_EQ(HotKeyCount, 2);
    for (int n : {0, 1}) {
        EXPECT_EQ(HotKeyCodes[n], 0x30);
        EXPECT_EQ(CASKeyCodes[n], 0);
    }
}

TEST(HotKeyFileLoad, OnlyTheFirstCharacterCountsAndAnEmptyValueIsCodeZero) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=2\nHotKey0=Apple\nCASKey0=5\nHotKey1=\nCASKey1=0\n");
    LoadHotKeys();
    EXPECT_EQ(HotKeyCodes[0], 0x41);
    EXPECT_EQ(CASKeyCodes[0], 5);
    EXPECT_EQ(HotKeyText(0), "Ctrl + Shift + A");
    EXPECT_EQ(HotKeyCodes[1], 0);
}

TEST(HotKeyFileLoad, ModifierCodesAreKeptAsReadAndShowNoPrefixOutsideZeroToSeven) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=2\nHotKey0={\nCASKey0=9\nHotKey1=z\nCASKey1=259\n");
    LoadHotKeys();
    EXPECT_EQ(CASKeyCodes[0], 9);
    EXPECT_EQ(HotKeyText(0), "F12");
    EXPECT_EQ(CASKeyCodes[1], 3);  // the low 8 bits
}

TEST(HotKeyFileLoad, ADeletedEntryRoundTrips) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=2\nHotKey0={\nCASKey0=0\nHotKey1=\xFF\nCASKey1=-1\n");
    LoadHotKeys();
    EXPECT_EQ(HotKeyCodes[1], 255);
    EXPECT_EQ(CASKeyCodes[1], 255);
    EXPECT_EQ(HotKeyText(1), "");
    file.Write("");
    SaveHotKeys();
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=2\nHotKey0={\nCASKey0=0\nHotKey1=\xFF\nCASKey1=-1\n");
}

TEST(HotKeyFileLoad, ACountAbove99IsCutAndNothingPastEntry98IsRead) {
    HotKeyFile file;
    // Entry 99 holds a malformed modifier code that would stop the load if it were read.
    file.Write("[HotKey]\nCount=500\nHotKey98=Q\nCASKey98=2\nHotKey99=W\nCASKey99=x\n");
    LoadHotKeys();
    EXPECT_EQ(HotKeyCount, 99);
    EXPECT_EQ(HotKeyCodes[98], 'Q');
    EXPECT_EQ(CASKeyCodes[98], 2);
    file.Write("");
    SaveHotKeys();
    const std::string saved = file.Read();
    EXPECT_NE(saved.find("Count=99\n"), std::string::npos);
    EXPECT_NE(saved.find("CASKey98=2\n"), std::string::npos);
    EXPECT_EQ(saved.find("HotKey99"), std::string::npos);
}

TEST(HotKeyFileLoad, AMalformedNumberStopsTheLoadWhereItIs) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=x\n");
    SetTable(2, {{0x7B, 0}, {0x7A, 0}});
    try {
        LoadHotKeys();
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
    }
    EXPECT_EQ(HotKeyCount, 2);

    file.Write("[HotKey]\nCount=3\nHotKey0=A\nCASKey0=1\nHotKey1=B\nCASKey1=abc\nHotKey2=C\nCASKey2=4\n");
    SetTable(2, {{0x7B, 0}, {0x7A, 0}, {0x20, 6}});
    std::vector<int> filled;
    EXPECT_THROW(LoadHotKeys([&](int n) { filled.push_back(n); }), EConvertError);
    EXPECT_EQ(HotKeyCount, 3);
    EXPECT_EQ(HotKeyCodes[0], 'A');
    EXPECT_EQ(CASKeyCodes[0], 1);
    EXPECT_EQ(HotKeyCodes[1], 'B');  // read before its modifier code
    EXPECT_EQ(CASKeyCodes[1], 0);    // as it was
    EXPECT_EQ(HotKeyCodes[2], 0x20);
    EXPECT_EQ(CASKeyCodes[2], 6);
    EXPECT_EQ(filled, std::vector<int>{0});
}

TEST(HotKeyFileSave, WritesCountThenEachEntryAndLeavesLaterEntriesAlone) {
    HotKeyFile file;
    const std::string tail = "HotKey2=C\nCASKey2=1\nHotKey3=D\nCASKey3=2\nHotKey4=E\nCASKey4=-1\n";
    file.Write("[HotKey]\nCount=5\nHotKey0=A\nCASKey0=0\nHotKey1=B\nCASKey1=0\n" + tail);
    SetTable(2, {{0x7B, 1}, {0x7A, 4}});
    SaveHotKeys();
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=2\nHotKey0={\nCASKey0=1\nHotKey1=z\nCASKey1=4\n" + tail);
}

TEST(HotKeyFileSave, EntriesFromTwoOnAreSavedAndLoadedLikeTheOthers) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=3\nHotKey0={\nCASKey0=0\nHotKey1=z\nCASKey1=0\nHotKey2=R\nCASKey2=1\n");
    LoadHotKeys();
    EXPECT_EQ(HotKeyCount, 3);
    EXPECT_EQ(HotKeyText(2), "Ctrl + R");
    CASKeyCodes[2] = 7;
    SaveHotKeys();
    EXPECT_NE(file.Read().find("HotKey2=R\nCASKey2=7\n"), std::string::npos);
}

TEST(HotKeyFileSave, EveryKeyByteReadsBackTheSame) {
    HotKeyFile file;
    // The bytes an INI line could lose: control bytes (all but the line ends, which no line can
    // carry), blanks, quotes, the INI's own marks, and bytes above 127.
    std::vector<int> codes = {' ', '"', '\'', '=', ';', '[', ']', 'A', 0x7F, 0x80, 0xBA, 0xFF};
    for (int code = 0; code < 0x20; ++code)
        if (code != '\r' && code != '\n') codes.push_back(code);
    for (int code : codes) {
        SetTable(1, {{static_cast<uint8_t>(code), 0}});
        SaveHotKeys();
        HotKeyCodes[0] = 0x99;
        LoadHotKeys();
        ASSERT_EQ(HotKeyCodes[0], code) << "code " << code << " stored as " << file.Read();
    }
    SetTable(1, {{' ', 0}});
    SaveHotKeys();
    EXPECT_NE(file.Read().find("HotKey0=\" \"\n"), std::string::npos);
    SetTable(1, {{'"', 0}});  // Page Down
    SaveHotKeys();
    EXPECT_NE(file.Read().find("HotKey0=\"\n"), std::string::npos);
    SetTable(1, {{0, 0}});
    SaveHotKeys();
    EXPECT_NE(file.Read().find("HotKey0=\n"), std::string::npos);
}

TEST(HotKeyFileSave, AFileThatCannotBeWrittenRaisesTheWriteError) {
    HotKeyFile file;
    QDir().mkpath(QString::fromStdString(file.Path()));  // a folder where the file should be
    SetTable(2, {{0x7B, 0}, {0x7A, 0}});
    try {
        SaveHotKeys();
        FAIL() << "no write error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + file.Path());
    }
}

TEST(HotKeyFileSave, ACountOfZeroWritesOnlyTheCount) {
    HotKeyFile file;
    file.Write("[HotKey]\nCount=0\n");
    SetTable(0, {{0x7B, 0}, {0x7A, 0}});
    LoadHotKeys();
    EXPECT_EQ(HotKeyCount, 0);
    SaveHotKeys();
    EXPECT_EQ(file.Read(), "[HotKey]\nCount=0\n");
}

}  // namespace
}  // namespace larkspur
