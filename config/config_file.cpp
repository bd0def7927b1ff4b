#include "config/config_file.h"

#include "platform/recorder_folders.h"

#include <filesystem>

namespace larkspur {
namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

std::string ConfigPath() { return Folders().settings + "Config.ini"; }

std::string DefaultTempDirectory() { return Folders().recordings; }

std::string TempDirectoryOnSave(const std::string& typed) {
    if (IsDirectory(typed)) return typed;
    const std::string fallback = DefaultTempDirectory();
    std::error_code ignored;  // a failure to create it is not examined
    std::filesystem::create_directory(fallback, ignored);
    return fallback;
}

std::string TempDirectoryOnLoad(const std::string& stored) {
    return stored == "0" ? DefaultTempDirectory() : TempDirectoryOnSave(stored);
}

}  // namespace larkspur
