#pragma once
#include <string>

// Where the recorder keeps its files. A copy whose own folder can be written (one the user
// unpacked or built) keeps everything beside its executable; an installed one, whose folder only
// the system may write, keeps them where Linux programs keep them: its settings in the user's
// configuration folder, its recordings in the user's music folder. Nothing else in the program
// knows which of the two it is.
namespace larkspur {

struct RecorderFolders {
    std::string settings;    // Config.ini and HotKey.ini; ends in "/"
    std::string recordings;  // ~temp.wav and the automatically named recordings; ends in "/"
};

// Decided at the first call (at start-up) and kept for the run; an installed copy's folders are
// made then, so that the first INI file and the first recording find them.
const RecorderFolders& Folders();

// The decision itself, for the executable's folder `exeDir` (ending in "/"): it, where this
// process may write there; else $XDG_CONFIG_HOME/larkspur/ and the music folder's Larkspur/.
RecorderFolders FoldersFor(const std::string& exeDir);

}  // namespace larkspur
