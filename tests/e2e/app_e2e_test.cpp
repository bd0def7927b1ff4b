// The built program on a real X server: its window maps with its title and class, centred, fixed
// in size, and File > Exit or the close box end it with exit code 0, leaving nothing in its home;
// an error at start-up is shown and the main window still comes up.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "support/e2e_support.h"

namespace {

// What a window manager sends when the close box is clicked.
void SendDeleteWindow(unsigned long window);

using larkspur::test::Tool;

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qgetenv("DISPLAY").isEmpty()) << "runs under its own Xvfb";
        ASSERT_TRUE(copy_.Valid());
        // A home of its own, also its working directory: the program keeps nothing there (its
        // files are found by its own directory, not the working directory).
        ASSERT_TRUE(home_.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home_.path());
        env.insert("XDG_CONFIG_HOME", home_.path() + "/.config");
        env.insert("XDG_CACHE_HOME", home_.path() + "/.cache");
        env.insert("XDG_DATA_HOME", home_.path() + "/.local/share");
        program_.setProcessEnvironment(env);
        program_.setWorkingDirectory(home_.path());
    }

    void TearDown() override {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(5000);
        }
    }

    // Starts the program and waits for its main window.
    void StartAndMap() {
        copy_.Start(program_);
        ASSERT_EQ(program_.state(), QProcess::Running);
        const QStringList windows = larkspur::test::WaitForProgramWindows();
        ASSERT_EQ(windows.size(), 1) << "one visible window of class \"Kestrel Audio Recorder\"";
        window_ = windows.first().toULong();
    }

    QString Property(const char* name) {
        return Tool("xprop", {"-id", QString::number(window_), name});
    }

    void ExpectCleanExit() {
        ASSERT_TRUE(program_.waitForFinished(10000)) << "the program did not end";
        EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program_.exitCode(), 0);
        QStringList written;
        for (QDirIterator it(home_.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            written << it.next();
        EXPECT_TRUE(written.isEmpty()) << written.join(", ").toStdString();
    }

    larkspur::test::ProgramCopy copy_;
    QTemporaryDir home_;
    QProcess program_;
    unsigned long window_ = 0;
};

TEST_F(ProgramTest, WindowMapsWithTitleClassAndFixedSizeThenFileExitEndsIt) {
    StartAndMap();
    EXPECT_EQ(Property("WM_CLASS"), "WM_CLASS(STRING) = \"larkspur\", \"Kestrel Audio Recorder\"");
    EXPECT_EQ(Property("_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"Larkspur\"");
    EXPECT_EQ(Property("_NET_WM_ICON_NAME"), "_NET_WM_ICON_NAME(UTF8_STRING) = \"Larkspur\"");
    EXPECT_EQ(Property("_NET_WM_PID"), QString("_NET_WM_PID(CARDINAL) = %1").arg(program_.processId()));
    EXPECT_TRUE(Property("_NET_WM_ICON").contains("Icon (32 x 32)")) << "the program's icon is set";

    // Fixed size: 392 wide, the menu bar above the 333-pixel client area.
    const QString hints = Property("WM_NORMAL_HINTS");
    const QRegularExpressionMatch min = QRegularExpression("minimum size: (\\d+) by (\\d+)").match(hints);
    const QRegularExpressionMatch max = QRegularExpression("maximum size: (\\d+) by (\\d+)").match(hints);
    ASSERT_TRUE(min.hasMatch() && max.hasMatch()) << hints.toStdString();
    EXPECT_EQ(min.captured(0).mid(8), max.captured(0).mid(8));
    EXPECT_EQ(min.captured(1).toInt(), 392);
    const int height = min.captured(2).toInt();
    EXPECT_GT(height, 333);
    EXPECT_LT(height, 333 + 40);

    // Centred on the 1280 x 1024 screen.
    const QString geometry = Tool("xdotool", {"getwindowgeometry", QString::number(window_)});
    const QRegularExpressionMatch at = QRegularExpression("Position: (\\d+),(\\d+)").match(geometry);
    ASSERT_TRUE(at.hasMatch()) << geometry.toStdString();
    EXPECT_NEAR(at.captured(1).toInt(), (1280 - 392) / 2, 1);
    EXPECT_NEAR(at.captured(2).toInt(), (1024 - height) / 2, 1);

    // File > Exit: open the File menu with the mouse, then its last item.
    Tool("xdotool", {"mousemove", "--window", QString::number(window_), "14", "10", "click", "1"});
    QThread::msleep(300);
    Tool("xdotool", {"key", "Up", "Return"});
    ExpectCleanExit();
}

TEST_F(ProgramTest, TheCloseBoxEndsItWithExitCodeZero) {
    StartAndMap();
    SendDeleteWindow(window_);
    ExpectCleanExit();
}

TEST_F(ProgramTest, AnErrorWhileAWindowIsCreatedIsShownAndStartUpGoesOn) {
    copy_.Write("Config.ini", "[Audio]\nFormat=1\nRate=abc\n");
    copy_.Start(program_);
    // The error box comes first, before the main window is shown.
    const QStringList boxes = larkspur::test::WaitForProgramWindows();
    ASSERT_EQ(boxes.size(), 1);
    const QString box = boxes.first();
    EXPECT_TRUE(Tool("xprop", {"-id", box, "_NET_WM_WINDOW_TYPE"}).contains("_NET_WM_WINDOW_TYPE_DIALOG"));
    EXPECT_EQ(Tool("xdotool", {"getwindowname", box}), "Larkspur");
    Tool("xdotool", {"windowfocus", "--sync", box});
    Tool("xdotool", {"key", "Return"});

    QStringList windows;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && (windows = larkspur::test::WaitForProgramWindows()).contains(box))
        QThread::msleep(50);
    ASSERT_EQ(windows.size(), 1) << "the main window comes up after the box";
    window_ = windows.first().toULong();
    EXPECT_EQ(Property("_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"Larkspur\"");
    EXPECT_TRUE(Property("WM_NORMAL_HINTS").contains("minimum size: 392 by")) << "the main window";
    SendDeleteWindow(window_);
    ExpectCleanExit();
}

// The program reads no command-line arguments, so no toolkit option is taken from there.
TEST_F(ProgramTest, ToolkitOptionsOnTheCommandLineAreNotTaken) {
    copy_.Start(program_, {"-display", ":59999", "-platform", "offscreen"});
    const QStringList windows = larkspur::test::WaitForProgramWindows();
    ASSERT_EQ(windows.size(), 1) << "the window is on the display of DISPLAY";
    SendDeleteWindow(windows.first().toULong());
    ExpectCleanExit();
}

// Without /proc the program cannot find its own folder: it says so and ends, and takes nothing
// from the working directory, where a libkbtap.so may lie.
TEST_F(ProgramTest, WithoutProcItSaysSoAndEndsWithExitCodeOne) {
    QFile::copy(copy_.Path("libkbtap.so"), home_.filePath("libkbtap.so"));
    copy_.Start(program_, {}, {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                              "mount -t tmpfs none /proc && exec \"$0\""});
    const QStringList boxes = larkspur::test::WaitForProgramWindows();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(Tool("xprop", {"-id", boxes.first(), "_NET_WM_WINDOW_TYPE"}).contains("DIALOG"));
    Tool("xdotool", {"windowfocus", "--sync", boxes.first()});
    Tool("xdotool", {"key", "Return"});
    ASSERT_TRUE(program_.waitForFinished(10000));
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 1);
    QFile::remove(home_.filePath("libkbtap.so"));
}

}  // namespace

// Xlib last: its macros (None, Bool, Status) clash with GoogleTest's names.
#include <X11/Xlib.h>

namespace {

void SendDeleteWindow(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
