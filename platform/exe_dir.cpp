#include "platform/exe_dir.h"

#include <filesystem>

namespace larkspur {

const std::string& ExecutableDirectory() {
    static const std::string dir = [] {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::string() : exe.parent_path().string();
    }();
    return dir;
}

const std::string& ExeDir() {
    static const std::string dir = ExecutableDirectory().empty() || ExecutableDirectory().ends_with('/')
                                       ? ExecutableDirectory()
                                       : ExecutableDirectory() + "/";
    return dir;
}

}  // namespace larkspur
