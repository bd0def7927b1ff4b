#pragma once
#include <string>

namespace larkspur {

// The directory of the running executable without a trailing "/" ("/" itself for the root),
// read from /proc/self/exe once.
const std::string& ExecutableDirectory();

// ExecutableDirectory() followed by exactly one "/": home of recordings and the temporary file.
const std::string& ExeDir();

}  // namespace larkspur
