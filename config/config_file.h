#pragma once
#include <string>

// Where Config.ini lives and the rules for its [General] Temp directory.
namespace larkspur {

// Config.ini in the recorder's settings folder.
std::string ConfigPath();

// The default temporary directory: the recorder's folder for recordings, ending in "/".
std::string DefaultTempDirectory();

// The directory a stored [General] Temp value stands for: "0" is the default without any check;
// an empty text or one that names no existing directory is replaced by the default, which is
// then created when missing.
std::string TempDirectoryOnLoad(const std::string& stored);

// The directory written for the text the user typed: an empty text or one that names no
// existing directory is replaced by the default, which is then created when missing.
std::string TempDirectoryOnSave(const std::string& typed);

}  // namespace larkspur
