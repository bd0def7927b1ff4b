// Where the recorder keeps its files: beside a copy it can write to, else in the user's folders
// as the environment names them.
#include "platform/recorder_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace larkspur {
namespace {

TEST(RecorderFolders, AWritableCopyKeepsEverythingBesideItsProgram) {
    const std::string dir = std::filesystem::temp_directory_path().string() + "/";
    const RecorderFolders folders = FoldersFor(dir);
    EXPECT_EQ(folders.settings, dir);
    EXPECT_EQ(folders.recordings, dir);
}

TEST(RecorderFolders, AnInstalledCopyUsesTheUsersConfigurationAndMusicFolders) {
    const auto home = std::filesystem::temp_directory_path() / ("larkspur-home-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home / "conf");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "conf").c_str(), 1);
    // A folder the process cannot write to, as /usr/lib/larkspur/ is for a user.
    const std::string installed = "/nonexistent/usr/lib/larkspur/";

    RecorderFolders folders = FoldersFor(installed);
    EXPECT_EQ(folders.settings, (home / "conf/larkspur/").string());
    EXPECT_EQ(folders.recordings, (home / "Music/Larkspur/").string());

    // The music folder as the desktop names it (what xdg-user-dir MUSIC tells).
    std::ofstream(home / "conf/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
    folders = FoldersFor(installed);
    EXPECT_EQ(folders.recordings, (home / "Tunes/Larkspur/").string());
    std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace larkspur
