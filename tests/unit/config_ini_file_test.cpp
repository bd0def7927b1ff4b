#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <csignal>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using larkspur::EConvertError;
using larkspur::EIniFileException;
using larkspur::StrToInt;
using larkspur::TIniFile;

namespace {

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Spit(const fs::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

// Runs fn in a child process and returns its exit status.
template <class F>
int InChild(F fn) {
    const pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// As the unprivileged user "nobody" (root ignores file permissions).
template <class F>
int AsNobody(F fn) {
    return InChild([&] {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0)
            return 99;
        return fn();
    });
}

// In a mount namespace of its own, so that what fn mounts goes with the child.
template <class F>
int InMountNamespace(F fn) {
    return InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return 98;
        return fn();
    });
}

// 0 when the write went through, 1 when it raised the error.
int Writes(const std::string& path, const std::string& key, const std::string& value) {
    try {
        TIniFile(path).WriteString("Audio", key, value);
        return 0;
    } catch (const EIniFileException&) {
        return 1;
    }
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "ini-test.XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        fs::permissions(dir_, fs::perms(0755));
        path_ = (dir_ / "Config.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::string path_;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefaultAndCreationTouchesNothing) {
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Audio", "Rate", "0"), "0");
    EXPECT_FALSE(fs::exists(path_));
    Spit(path_, "[Audio]\nRate=3\n");
    EXPECT_EQ(ini.ReadString("General", "Rate", "0"), "0");
    EXPECT_EQ(ini.ReadString("Audio", "Size", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Audio", "Rate", "0"), "3");
}

TEST_F(IniFileTest, RoundTripsEveryKindOfValue) {
    const std::string long_value(3000, 'x');
    const std::string bytes = "\xff\x80\x20\x7f!\xe9";
    {
        TIniFile ini(path_);
        ini.WriteString("Audio", "Format", "1");
        ini.WriteString("Audio", "Rate", "-1");
        ini.WriteString("General", "Temp", "/tmp/some dir/");
        ini.WriteString("General", "Empty", "");
        ini.WriteString("HotKey", "Key0", bytes);
        ini.WriteString("HotKey", "Long", long_value);
    }
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Audio", "Format", "0"), "1");
    EXPECT_EQ(ini.ReadString("Audio", "Rate", "0"), "-1");
    EXPECT_EQ(ini.ReadString("General", "Temp", "0"), "/tmp/some dir/");
    EXPECT_EQ(ini.ReadString("General", "Empty", "0"), "");
    EXPECT_EQ(ini.ReadString("HotKey", "Key0", "0"), bytes);
    EXPECT_EQ(ini.ReadString("HotKey", "Long", "0"), long_value.substr(0, 2047));
    // The long value itself is stored whole; only reading cuts it.
    EXPECT_NE(Slurp(path_).find(long_value), std::string::npos);
    EXPECT_EQ(Slurp(path_), "[Audio]\nFormat=1\nRate=-1\n[General]\nTemp=/tmp/some dir/\nEmpty=\n"
                            "[HotKey]\nKey0=" + bytes + "\nLong=" + long_value + "\n");
}

TEST_F(IniFileTest, ForeignSectionsKeysAndCommentsSurviveByteForByte) {
    const std::string before =
        "; settings\r\n"
        "[Other]\r\n"
        "Thing = keep me \r\n"
        "[audio]\r\n"
        "  RATE  =  4  \r\n"
        "; a comment = with equals\r\n"
        "Extra=x\r\n"
        "\r\n"
        "[Tail]\r\n"
        "junk line without equals\r\n"
        "Last=1";
    Spit(path_, before);
    TIniFile ini(path_);
    ini.WriteString("Audio", "Rate", "2");     // replaced in place, its key text kept
    ini.WriteString("Audio", "Format", "0");   // added after the section's last line
    ini.WriteString("General", "Play", "1");   // new section at the end
    ini.WriteString("Tail", "Last", "1");      // same value: nothing moves
    EXPECT_EQ(Slurp(path_),
              "; settings\r\n"
              "[Other]\r\n"
              "Thing = keep me \r\n"
              "[audio]\r\n"
              "  RATE  =2\r\n"
              "; a comment = with equals\r\n"
              "Extra=x\r\n"
              "Format=0\r\n"
              "\r\n"
              "[Tail]\r\n"
              "junk line without equals\r\n"
              "Last=1\r\n"
              "[General]\r\n"
              "Play=1\r\n");
    EXPECT_EQ(ini.ReadString("other", "THING", "0"), "keep me");
    EXPECT_EQ(ini.ReadString("AUDIO", "rate", "0"), "2");
    EXPECT_EQ(ini.ReadString("Audio", "; a comment", "none"), "none");
}

// A carriage return alone ends a line as LF and CRLF do (old Mac files, or mixed ones); what is
// added keeps the file's own line ends.
TEST_F(IniFileTest, ACarriageReturnAloneEndsALine) {
    Spit(path_, "[Audio]\r\nFormat=0\rRate=3\r[General]\rPlay=1");
    TIniFile mixed(path_);
    EXPECT_EQ(mixed.ReadString("Audio", "Format", "x"), "0");
    EXPECT_EQ(mixed.ReadString("Audio", "Rate", "x"), "3");
    EXPECT_EQ(mixed.ReadString("General", "Play", "x"), "1");

    Spit(path_, "[Audio]\rFormat=0\rRate=3\r");
    TIniFile old(path_);
    old.WriteString("Audio", "Rate", "2");
    old.WriteString("Audio", "Size", "1");
    old.WriteString("General", "Play", "0");
    EXPECT_EQ(Slurp(path_), "[Audio]\rFormat=0\rRate=2\rSize=1\r[General]\rPlay=0\r");
}

TEST_F(IniFileTest, BlanksAndOnePairOfMatchingQuotesAreRemoved) {
    Spit(path_,
         "[Q]\n"
         "a=\t \"  two blanks  \" \n"
         "b='single'\n"
         "c=\"mixed'\n"
         "d=\"\n"
         "e=\"\"\n"
         "f=\"\"x\"\"\n"
         "g='\n"
         "h= inner  blanks stay \n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Q", "a", "0"), "  two blanks  ");
    EXPECT_EQ(ini.ReadString("Q", "b", "0"), "single");
    EXPECT_EQ(ini.ReadString("Q", "c", "0"), "\"mixed'");
    EXPECT_EQ(ini.ReadString("Q", "d", "0"), "\"");
    EXPECT_EQ(ini.ReadString("Q", "e", "0"), "");
    EXPECT_EQ(ini.ReadString("Q", "f", "0"), "\"x\"");
    EXPECT_EQ(ini.ReadString("Q", "g", "0"), "'");
    EXPECT_EQ(ini.ReadString("Q", "h", "0"), "inner  blanks stay");
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyOfAName) {
    Spit(path_, "[S]\nk=1\nK=2\n[s]\nk=3\nn=4\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("S", "k", "0"), "1");
    ini.WriteString("S", "k", "9");
    EXPECT_EQ(Slurp(path_), "[S]\nk=9\nK=2\n[s]\nk=3\nn=4\n");
}

TEST_F(IniFileTest, DoubledSeparatorStillReachesTheFile) {
    const std::string doubled = dir_.string() + "//Config.ini";
    TIniFile(doubled).WriteString("Audio", "Track", "1");
    EXPECT_EQ(TIniFile(path_).ReadString("Audio", "Track", "0"), "1");
    EXPECT_EQ(TIniFile("/" + doubled).ReadString("Audio", "Track", "0"), "1");
}

TEST_F(IniFileTest, UnwritableTargetsRaiseTheErrorAndLeaveTheFileAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string before = "[Audio]\nRate=1\n";
    Spit(path_, before);
    fs::permissions(path_, fs::perms(0644));
    const int status = AsNobody([&] {
        try {
            TIniFile(path_).WriteString("Audio", "Rate", "2");
            return 1;
        } catch (const EIniFileException& e) {
            return e.what() == "Unable to write to " + path_ ? 0 : 2;
        }
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Slurp(path_), before);

    // A new file in a directory this user may not write to.
    const std::string fresh = (dir_ / "New.ini").string();
    EXPECT_EQ(AsNobody([&] { return Writes(fresh, "B", "C"); }), 1);
    EXPECT_FALSE(fs::exists(fresh));
}

// Found by fuzzing: a file whose last line ends in a bare CR, once a key was added after it, read
// "Count=2\r" and no longer parsed.
TEST_F(IniFileTest, StrayCarriageReturnsAtLineEndsStayOffTheValues) {
    Spit(path_, "[Audio]\r\r\nFormat=0\r\r\n[HotKey]\r\nCount=2\r");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Audio", "Format", "1"), "0");
    ini.WriteString("HotKey", "HotKey0", "a");
    EXPECT_EQ(ini.ReadString("HotKey", "Count", ""), "2");
    EXPECT_EQ(ini.ReadString("HotKey", "HotKey0", ""), "a");
    EXPECT_EQ(Slurp(path_), "[Audio]\r\r\nFormat=0\r\r\n[HotKey]\r\nCount=2\rHotKey0=a\r\n");
}

TEST_F(IniFileTest, AByteOrderMarkHidesNoSectionAndStaysInTheFile) {
    Spit(path_, "\xEF\xBB\xBF[Audio]\nFormat=0\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Audio", "Format", "1"), "0");
    ini.WriteString("Audio", "Rate", "2");
    EXPECT_EQ(Slurp(path_), "\xEF\xBB\xBF[Audio]\nFormat=0\nRate=2\n");
}

// A FIFO or a device in the file's place would hold a reader for ever (or feed it without end).
TEST_F(IniFileTest, OnlyARegularFileIsRead) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(TIniFile(path_).ReadString("Audio", "Format", "dflt"), "dflt");
    fs::remove(path_);
    fs::create_symlink("/dev/zero", path_);
    EXPECT_EQ(TIniFile(path_).ReadString("Audio", "Format", "dflt"), "dflt");
    EXPECT_THROW(TIniFile(path_).WriteString("Audio", "Format", "1"), EIniFileException);
}

TEST_F(IniFileTest, PlacesNoOneCanWriteAndLineBreaksRaiseTheErrorAndLeaveTheFileAlone) {
    const std::string before = "[Audio]\nRate=1\n";
    Spit(path_, before);
    // Even root can't write under a regular file, or to a directory standing in the file's place.
    Spit(dir_ / "plain", "x");
    for (const std::string& bad : {(dir_ / "plain" / "Config.ini").string(), dir_.string()}) {
        try {
            TIniFile(bad).WriteString("A", "B", "C");
            ADD_FAILURE() << bad;
        } catch (const EIniFileException& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + bad);
        }
    }
    EXPECT_THROW(TIniFile(path_).WriteString("Audio", "Rate", "1\nInjected=1"), EIniFileException);
    EXPECT_EQ(Slurp(path_), before);
}

// A file-size limit makes the write fail part-way, as a full disk would.
TEST_F(IniFileTest, WriteThatRunsOutOfSpaceLeavesTheOldFileWhole) {
    const std::string before = "[Audio]\nRate=1\n";
    Spit(path_, before);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            TIniFile(path_).WriteString("Audio", "Rate", std::string(10000, '9'));
            _exit(1);
        } catch (const EIniFileException&) {
            _exit(0);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Slurp(path_), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, WritableFileInAClosedDirectoryIsRewrittenInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    Spit(path_, "[Audio]\nRate=1\nSize=1\n");
    fs::permissions(path_, fs::perms(0666));
    const ino_t inode = Inode(path_);
    const int status = AsNobody([&] {
        try {
            TIniFile ini(path_);
            ini.WriteString("Audio", "Rate", "0");
            ini.WriteString("Audio", "Size", "0");
            return 0;
        } catch (...) {
            return 1;
        }
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Inode(path_), inode);
    EXPECT_EQ(Slurp(path_), "[Audio]\nRate=0\nSize=0\n");
}

// A file that may be written but not replaced: another user's file in a sticky folder (EPERM),
// and a file bind-mounted on its own (EBUSY).
TEST_F(IniFileTest, AFileThatCannotBeReplacedIsRewrittenInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user and to mount";
    Spit(path_, "[Audio]\nRate=1\n");
    fs::permissions(path_, fs::perms(0666));
    fs::permissions(dir_, fs::perms(01777));
    EXPECT_EQ(AsNobody([&] { return Writes(path_, "Rate", "0"); }), 0);
    EXPECT_EQ(Slurp(path_), "[Audio]\nRate=0\n");

    const std::string source = (dir_ / "bound.ini").string();
    Spit(source, "[Audio]\nRate=1\n");
    EXPECT_EQ(InMountNamespace([&] {
                  if (mount(source.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) != 0) return 97;
                  return Writes(path_, "Size", "1");
              }),
              0);
    EXPECT_EQ(Slurp(source), "[Audio]\nRate=1\nSize=1\n");
    // No sibling file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

// On a full disk the rewrite in place refuses what does not fit before it touches the file.
TEST_F(IniFileTest, AnInPlaceRewriteThatDoesNotFitLeavesTheOldFileWhole) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user and to mount";
    const std::string before = "[Audio]\nRate=1\n" + std::string(3000, ';') + "\n";
    const fs::path small = dir_ / "small";
    fs::create_directory(small);
    const std::string path = (small / "Config.ini").string();
    const int status = InMountNamespace([&] {
        if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k,mode=0755") != 0) return 97;
        Spit(path, before);
        fs::permissions(path, fs::perms(0666));
        {
            std::ofstream filler(small / "filler", std::ios::binary);
            const std::string page(4096, 'x');
            while (filler.write(page.data(), page.size())) filler.flush();
        }
        const int big = AsNobody([&] { return Writes(path, "Rate", std::string(20000, '9')); });
        if (big != 1) return 10 + big;
        if (Slurp(path) != before) return 20;
        const int fits = AsNobody([&] { return Writes(path, "Rate", "2"); });
        if (fits != 0) return 30 + fits;
        return Slurp(path) == "[Audio]\nRate=2\n" + std::string(3000, ';') + "\n" ? 0 : 40;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(IniFileTest, KeepsModeAndWritesThroughASymbolicLink) {
    fs::create_directory(dir_ / "real");
    const fs::path real = dir_ / "real" / "HotKey.ini";
    Spit(real, "[HotKey]\nCount=2\n");
    fs::permissions(real, fs::perms(0640));
    fs::create_symlink("real/HotKey.ini", dir_ / "HotKey.ini");
    TIniFile((dir_ / "HotKey.ini").string()).WriteString("HotKey", "Count", "3");
    EXPECT_TRUE(fs::is_symlink(dir_ / "HotKey.ini"));
    EXPECT_EQ(Slurp(real), "[HotKey]\nCount=3\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0640));
    // No sibling file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);
}

// Another process rewrites the file in a loop, alternating a long and a short version, and is
// killed at random moments. Every read sees one complete version: never an empty, truncated or
// mixed file.
TEST_F(IniFileTest, NeverObservedHalfWrittenWhileAnotherProcessRewritesIt) {
    const std::string long_value(20000, 'L');
    const std::string long_file = "[Audio]\nFormat=0\n[Big]\nValue=" + long_value + "\n";
    const std::string short_file = "[Audio]\nFormat=0\n[Big]\nValue=s\n";
    Spit(path_, short_file);
    std::mt19937 random(42);
    int reads = 0;
    for (int round = 0; round < 20; ++round) {
        const pid_t writer = fork();
        if (writer == 0) {
            TIniFile ini(path_);
            for (unsigned i = 0;; ++i) ini.WriteString("Big", "Value", i % 2 ? long_value : "s");
        }
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(std::uniform_int_distribution(5, 40)(random));
        while (std::chrono::steady_clock::now() < until) {
            const std::string seen = Slurp(path_);
            ASSERT_TRUE(seen == long_file || seen == short_file) << "size " << seen.size();
            ++reads;
        }
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        const std::string after = Slurp(path_);
        ASSERT_TRUE(after == long_file || after == short_file) << "size " << after.size();
    }
    EXPECT_GT(reads, 100);
}

TEST(StrToInt, AcceptsWholeDecimalNumbersOnly) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("-1"), -1);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "abc", "1.5", "0x10", "$10", " 1", "1 ", "2147483648", "--1", "+-1",
                            "+", "-", "1e3", "\xff"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

}  // namespace
