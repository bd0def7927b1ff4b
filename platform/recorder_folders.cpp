#include "platform/recorder_folders.h"

#include "platform/exe_dir.h"

#include <QFile>
#include <QStandardPaths>

#include <filesystem>
#include <unistd.h>

namespace larkspur {
namespace {

std::string UserFolder(QStandardPaths::StandardLocation location, const char* name) {
    // Qt reads $XDG_CONFIG_HOME and user-dirs.dirs (what xdg-user-dir tells), with the usual
    // fallbacks ~/.config and ~/Music.
    return QFile::encodeName(QStandardPaths::writableLocation(location)).toStdString() + "/" + name + "/";
}

}  // namespace

RecorderFolders FoldersFor(const std::string& exeDir) {
    if (!exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0) return {exeDir, exeDir};
    return {UserFolder(QStandardPaths::GenericConfigLocation, "larkspur"),
            UserFolder(QStandardPaths::MusicLocation, "Larkspur")};
}

const RecorderFolders& Folders() {
    static const RecorderFolders folders = [] {
        RecorderFolders decided = FoldersFor(ExeDir());
        if (decided.settings != ExeDir()) {
            // A failure shows where a file is first written, with that file's message.
            std::error_code ignored;
            std::filesystem::create_directories(decided.settings, ignored);
            std::filesystem::create_directories(decided.recordings, ignored);
        }
        return decided;
    }();
    return folders;
}

}  // namespace larkspur
