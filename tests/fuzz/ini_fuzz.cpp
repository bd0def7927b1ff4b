// libFuzzer target: the INI reader on arbitrary bytes, and a write read back: the value written
// is the value read, whatever the file held before.
#include "config/ini_file.h"
#include "fuzz_file.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile file("Config.ini");
    file.Write(data, size);
    larkspur::TIniFile ini(file.Path());
    for (const char* section : {"Audio", "General", "HotKey"})
        for (const char* key : {"Format", "Rate", "Count", "HotKey0"})
            if (ini.ReadString(section, key, "0").size() > 2047) std::abort();
    // The first line's text as a key name exercises names the file itself holds.
    const std::string line(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data),
                                                                        std::min<std::size_t>(size, 40)));
    ini.ReadString("Audio", line, "");
    try {
        ini.WriteString("Audio", "Rate", "3");
    } catch (const larkspur::EIniFileException&) {
        std::abort();  // the file is writable here
    }
    if (ini.ReadString("Audio", "Rate", "") != "3") std::abort();
    return 0;
}
