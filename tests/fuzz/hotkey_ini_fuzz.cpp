// libFuzzer target: HotKey.ini's decoding into the hotkey table on arbitrary bytes, and the
// table written and read back unchanged.
#include "config/ini_file.h"
#include "fuzz_file.h"
#include "hotkeys/hotkey_table.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile file("HotKey.ini");
    static const bool pathSet = (larkspur::SetHotKeyIniPathForTest(file.Path()), true);
    (void)pathSet;
    file.Write(data, size);
    using namespace larkspur;
    try {
        LoadHotKeys();
    } catch (const EConvertError&) {
        return 0;  // a malformed number: shown to the user, nothing decoded
    }
    if (HotKeyCount > 99) std::abort();
    const int count = HotKeyCount;
    std::uint8_t keys[99], modifiers[99];
    const int n = std::max(count, 0);
    std::memcpy(keys, HotKeyCodes, n);
    std::memcpy(modifiers, CASKeyCodes, n);
    // A stray carriage return at the start of a value decodes as the one key no INI line can
    // carry (Enter); such a table cannot be written back, by design.
    if (std::any_of(keys, keys + n, [](std::uint8_t k) { return k == '\r' || k == '\n'; })) return 0;
    try {
        SaveHotKeys();
        LoadHotKeys();
    } catch (const std::exception&) {
        std::abort();  // what the program wrote, it reads back
    }
    if (HotKeyCount != count) std::abort();
    for (int i = 0; i < n; ++i) {
        if (HotKeyCodes[i] != keys[i] || CASKeyCodes[i] != modifiers[i]) std::abort();
    }
    return 0;
}
