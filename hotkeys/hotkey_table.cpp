#include "hotkeys/hotkey_table.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "config/ini_file.h"
#include "platform/recorder_folders.h"
#include "platform/keyboard.h"

namespace larkspur {

uint8_t HotKeyCodes[kHotKeyCapacity];
uint8_t CASKeyCodes[kHotKeyCapacity];
int32_t HotKeyCount = 0;

namespace {

constexpr std::string_view kSection = "HotKey";

// The last few keys the fields took: a report waits at most a few keystrokes behind its key.
struct TableBefore {
    uint32_t time = 0;
    HotKeyTableCopy table;
};
std::array<TableBefore, 8> tablesBefore;
std::size_t nextTableBefore = 0;

std::string& PathOverride() {
    static std::string path;
    return path;
}

std::string Index(const char* name, int n) { return name + std::to_string(n); }

// One byte per key code, written so that TIniFile reads the same byte back: it trims blanks and
// tabs, so those two go in quotes; a single character is never unquoted, so '"' stays as it is.
std::string KeyValue(uint8_t code) {
    if (code == 0) return {};
    const std::string byte(1, static_cast<char>(code));
    return code == ' ' || code == '\t' ? '"' + byte + '"' : byte;
}

void UseDefaults() {
    HotKeyCount = 2;
    HotKeyCodes[0] = vk::F12;
    CASKeyCodes[0] = 0;
    HotKeyCodes[1] = vk::F11;
    CASKeyCodes[1] = 0;
}

}  // namespace

QString ModifierPrefix(uint8_t code) {
    if (code > 7) return {};
    QString prefix;
    if (code & 1) prefix += QStringLiteral("Ctrl + ");
    if (code & 2) prefix += QStringLiteral("Alt + ");
    if (code & 4) prefix += QStringLiteral("Shift + ");
    return prefix;
}

QString KeyNameText(uint8_t code) {
    if (code == vk::Shift || code == vk::Control || code == vk::Menu) return {};
    const unsigned scan = MapVirtualKeyEx(code);
    if (scan == 0) return {};
    // The extended bit goes along, so the cursor keys keep their own names.
    return GetKeyNameText(((scan & 0xFF) << 16) | ((scan & 0xE000) ? 1u << 24 : 0));
}

QString HotKeyText(int index) {
    return ModifierPrefix(CASKeyCodes[index]) + KeyNameText(HotKeyCodes[index]);
}

void KeepTableBeforeKey(uint32_t time) {
    if (time == 0) return;
    TableBefore& kept = tablesBefore[nextTableBefore++ % tablesBefore.size()];
    kept.time = time;
    std::memcpy(kept.table.keys, HotKeyCodes, sizeof HotKeyCodes);
    std::memcpy(kept.table.modifiers, CASKeyCodes, sizeof CASKeyCodes);
}

const HotKeyTableCopy* TableBeforeKey(uint32_t time) {
    if (time == 0) return nullptr;
    for (const TableBefore& kept : tablesBefore)
        if (kept.time == time) return &kept.table;
    return nullptr;
}

std::string HotKeyIniPath() {
    return PathOverride().empty() ? Folders().settings + "HotKey.ini" : PathOverride();
}

void SetHotKeyIniPathForTest(const std::string& path) { PathOverride() = path; }

void LoadHotKeys(const std::function<void(int)>& entry_read) {
    const std::string path = HotKeyIniPath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        UseDefaults();
        try {
            SaveHotKeys();
        } catch (const EIniFileException&) {
            // A folder we can't write to: the defaults work for this run all the same.
        }
        for (int n = 0; entry_read && n < HotKeyCount; ++n) entry_read(n);
        return;
    }
    TIniFile ini(path);
    HotKeyCount = std::min(StrToInt(ini.ReadString(kSection, "Count", "0")), kHotKeyCapacity);
    for (int n = 0; n < HotKeyCount; ++n) {
        const std::string key = ini.ReadString(kSection, Index("HotKey", n), "0");
        HotKeyCodes[n] = key.empty() ? 0 : static_cast<uint8_t>(key[0]);
        CASKeyCodes[n] = static_cast<uint8_t>(StrToInt(ini.ReadString(kSection, Index("CASKey", n), "0")));
        if (entry_read) entry_read(n);
    }
}

void SaveHotKeys() {
    TIniFile ini(HotKeyIniPath());
    ini.WriteString(kSection, "Count", std::to_string(HotKeyCount));
    for (int n = 0; n < std::min(HotKeyCount, kHotKeyCapacity); ++n) {
        ini.WriteString(kSection, Index("HotKey", n), KeyValue(HotKeyCodes[n]));
        ini.WriteString(kSection, Index("CASKey", n), std::to_string(static_cast<int8_t>(CASKeyCodes[n])));
    }
}

}  // namespace larkspur
