#pragma once
#include <string>

namespace larkspur {

// The directory of the running executable without a trailing "/" ("/" itself for the root),
// read from /proc/self/exe once; empty where that cannot be read. Nothing is then looked for
// elsewhere (the current directory could hold anyone's libkbtap.so).
const std::string& ExecutableDirectory();

// ExecutableDirectory() followed by exactly one "/"; empty where the directory is unknown. Where
// the recorder keeps its files is Folders() (platform/recorder_folders.h).
const std::string& ExeDir();

}  // namespace larkspur
