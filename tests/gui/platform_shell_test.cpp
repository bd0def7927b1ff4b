// The desktop's shell for real (on X: Qt's offscreen platform hands nothing to the desktop), with stand-ins for xdg-open and pavucontrol on PATH that record
// how they were called: each argument reaches the program as one, and no command shell is used.
#include "platform/shell.h"
#include "tests/gui/app_qt_print.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <cstdlib>
#include <gtest/gtest.h>

namespace larkspur {
namespace {

class DesktopShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bin_.isValid());
        for (const char* name : {"xdg-open", "pavucontrol"}) {
            QFile stub(bin_.filePath(name));
            ASSERT_TRUE(stub.open(QIODevice::WriteOnly));
            // One line for the program's name, then one for each argument.
            stub.write("#!/bin/sh\nprintf '%s\\n' \"$(basename \"$0\")\" \"$@\" >> \"$(dirname \"$0\")/calls\"\n");
            stub.close();
            stub.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        path_ = std::getenv("PATH");
        setenv("PATH", (bin_.path().toStdString() + ":" + path_).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", path_.c_str(), 1); }

    // The calls recorded so far, waiting for `lines` lines.
    QStringList Calls(int lines) {
        QStringList calls;
        [[maybe_unused]] const bool arrived = QTest::qWaitFor([&] {
            QFile f(bin_.filePath("calls"));
            calls = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                               : QStringList();
            return calls.size() >= lines;
        });
        return calls;
    }

    QTemporaryDir bin_;
    std::string path_;
};

TEST_F(DesktopShellTest, LinksAndFilesGoToTheDesktopsOpenerAsOneArgument) {
    TheShell().Execute({nullptr, QString(), "mailto:support@larkspur.example.com"});
    EXPECT_EQ(Calls(2), (QStringList{"xdg-open", "mailto:support@larkspur.example.com"}));
    const QString file = bin_.filePath("take one; rm -rf x.wav");
    TheShell().Execute({nullptr, QString(), file});
    const QStringList calls = Calls(4);
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls[2], "xdg-open");
    // One argument, the file's URL: no shell ever split it at the blanks or the ";".
    EXPECT_EQ(QUrl(calls[3]).toLocalFile(), file);
}

TEST_F(DesktopShellTest, TheVolumeControlOpensOnItsRecordingTab) {
    TheShell().StartVolumeControl();
    EXPECT_EQ(Calls(2), (QStringList{"pavucontrol", "--tab=2"}));
}

}  // namespace
}  // namespace larkspur
