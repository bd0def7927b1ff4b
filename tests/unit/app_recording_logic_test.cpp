// Formatting, naming, moving and the format template of the recorder, without a window.
#include "app/format_template.h"
#include "app/output_name.h"
#include "app/recording_control.h"
#include "audio/wave_file.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "tests/support/captured_boxes.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace larkspur {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(FormatHms, PadsToTwoDigitsAndKeepsLongHours) {
    EXPECT_EQ(FormatHms(0), "00:00:00");
    EXPECT_EQ(FormatHms(7), "00:00:07");
    EXPECT_EQ(FormatHms(59), "00:00:59");
    EXPECT_EQ(FormatHms(60), "00:01:00");
    EXPECT_EQ(FormatHms(3599), "00:59:59");
    EXPECT_EQ(FormatHms(3600), "01:00:00");
    EXPECT_EQ(FormatHms(86399), "23:59:59");
    EXPECT_EQ(FormatHms(360000), "100:00:00");
}

TEST(FormatFromChoices, MapsEveryPositionOfTheThreeLists) {
    const std::int32_t rates[] = {44100, 32000, 24000, 22050, 16000};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(FormatFromChoices(i, 0, 0).sampleRate, rates[i]);
    EXPECT_EQ(FormatFromChoices(0, 1, 0).bitsPerSample, 8);
    EXPECT_EQ(FormatFromChoices(0, 0, 1).channels, 1);
    EXPECT_EQ(FormatFromChoices(4, 1, 1), (RecordingFormat{1, 8, 16000}));
}

TEST(FormatFromChoices, AListWithoutAPositionUsesItsFirstEntry) {
    const RecordingFormat first{2, 16, 44100};
    EXPECT_EQ(FormatFromChoices(-1, -1, -1), first);
    EXPECT_EQ(FormatFromChoices(5, 2, 2), first);
    EXPECT_EQ(FormatFromChoices(3, -1, 1), (RecordingFormat{1, 16, 22050}));
}

SystemTime At(int y, int mo, int d, int h, int mi, int s) {
    SystemTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return t;
}

TEST(AutomaticName, NumbersWithoutLeadingZeros) {
    EXPECT_EQ(AutomaticName("/rec/", At(2006, 3, 7, 14, 5, 9)), "/rec/2006_3_7_14_5_9.wav");
    EXPECT_EQ(AutomaticName("/rec/", At(2006, 12, 25, 9, 30, 0)), "/rec/2006_12_25_9_30_0.wav");
}

TEST(FileExtensions, TheLastDotOfTheFileNameOnly) {
    EXPECT_EQ(FileExt("/a/take.wav"), ".wav");
    EXPECT_EQ(FileExt("/a/take.x.MP3"), ".MP3");
    EXPECT_EQ(FileExt("/a.b/take"), "");
    EXPECT_EQ(ChangeFileExt("/a/take.wav", ".mp3"), "/a/take.mp3");
    EXPECT_EQ(ChangeFileExt("/a.b/take1", ".mp3"), "/a.b/take1.mp3");
    EXPECT_EQ(ChangeFileExt("/a/take.", ".wav"), "/a/take.wav");
    EXPECT_TRUE(IsMp3Name("/a/x.mp3"));
    EXPECT_TRUE(IsMp3Name("/a/x.MP3"));
    EXPECT_FALSE(IsMp3Name("/a/x.Mp3"));
    EXPECT_FALSE(IsMp3Name("/a/x.mP3"));
    EXPECT_FALSE(IsMp3Name("/a/x.mp3.wav"));
    EXPECT_FALSE(IsMp3Name("/a.mp3/x"));
}

TEST(TypeChangedFileName, RewritesAfterTheLastDot) {
    EXPECT_EQ(TypeChangedFileName("*.wav", 2), "*.mp3");
    EXPECT_EQ(TypeChangedFileName("*.mp3", 1), "*.wav");
    EXPECT_EQ(TypeChangedFileName("take.wav", 2), "take.mp3");
    EXPECT_EQ(TypeChangedFileName("take.a.b", 1), "take.a.wav");
    EXPECT_EQ(TypeChangedFileName("take.", 2), "take.mp3");
    EXPECT_EQ(TypeChangedFileName("take", 2), std::nullopt);
    EXPECT_EQ(TypeChangedFileName("", 1), std::nullopt);
    // A folder typed before the name keeps its own dots.
    EXPECT_EQ(TypeChangedFileName("my.dir/take", 2), std::nullopt);
}

TEST(FreeName, AddsACounterBeforeTheExtension) {
    QTemporaryDir dir;
    const QString base = dir.filePath("take.wav");
    EXPECT_EQ(FreeName(base), base);
    WriteAll(base, "x");
    EXPECT_EQ(FreeName(base), dir.filePath("take (1).wav"));
    QDir(dir.path()).mkdir("take (1).wav");  // a folder takes a name as well
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere"), dir.filePath("take (2).wav")));  // so does a dead link
    EXPECT_EQ(FreeName(base), dir.filePath("take (3).wav"));
    WriteAll(dir.filePath("take1"), "x");
    EXPECT_EQ(FreeName(dir.filePath("take1")), dir.filePath("take1 (1)"));
}

TEST(MoveRecording, RenamesAndChecksArrival) {
    QTemporaryDir dir;
    const QString from = dir.filePath("~temp.wav");
    WriteAll(from, QByteArray(1000, 'a'));
    ASSERT_TRUE(MoveRecording(from, dir.filePath("out.wav")));
    EXPECT_FALSE(QFile::exists(from));
    EXPECT_EQ(ReadAll(dir.filePath("out.wav")), QByteArray(1000, 'a'));
}

TEST(MoveRecording, FailureLeavesTheSourceAsItWas) {
    QTemporaryDir dir;
    const QString from = dir.filePath("~temp.wav");
    WriteAll(from, QByteArray(100, 'b'));
    WriteAll(dir.filePath("plain"), "x");
    EXPECT_FALSE(MoveRecording(from, dir.filePath("plain/out.wav")));  // parent is a file
    QDir(dir.path()).mkdir("folder.wav");
    EXPECT_FALSE(MoveRecording(from, dir.filePath("folder.wav")));  // a folder is in the way
    EXPECT_FALSE(MoveRecording(dir.filePath("missing.wav"), dir.filePath("x.wav")));
    EXPECT_EQ(ReadAll(from), QByteArray(100, 'b'));
    EXPECT_TRUE(QFileInfo(dir.filePath("folder.wav")).isDir());
}

TEST(MoveRecording, AcrossFileSystemsCopiesThenDeletes) {
    struct stat a {}, b {};
    if (::stat("/dev/shm", &a) != 0 || ::stat(QDir::tempPath().toLocal8Bit().constData(), &b) != 0 ||
        a.st_dev == b.st_dev) {
        GTEST_SKIP() << "no second file system here";
    }
    QTemporaryDir shm(QStringLiteral("/dev/shm/larkspur-move-XXXXXX"));
    QTemporaryDir tmp;
    ASSERT_TRUE(shm.isValid());
    const QString from = shm.filePath("~temp.wav");
    WriteAll(from, QByteArray(300000, 'c'));
    ASSERT_TRUE(MoveRecording(from, tmp.filePath("out.wav")));
    EXPECT_FALSE(QFile::exists(from));
    EXPECT_EQ(ReadAll(tmp.filePath("out.wav")), QByteArray(300000, 'c'));

    // A copy never replaces a file that is there, and a failed one leaves the source.
    WriteAll(from, QByteArray(10, 'd'));
    WriteAll(tmp.filePath("taken.wav"), "old");
    EXPECT_FALSE(MoveRecording(from, tmp.filePath("taken.wav")));
    EXPECT_EQ(ReadAll(tmp.filePath("taken.wav")), "old");
    EXPECT_EQ(ReadAll(from), QByteArray(10, 'd'));
}

class TemplateTest : public ::testing::Test {
protected:
    test::CapturedBoxes captured_;
    std::vector<MessageBoxRequest>& boxes_ = captured_.boxes;
};

std::uint32_t U32(const QByteArray& b, int at) {
    return std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8 | std::uint8_t(b[at + 2]) << 16 |
           std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}
std::uint16_t U16(const QByteArray& b, int at) { return std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8; }

TEST_F(TemplateTest, WritesTheHeaderOverAnyOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("~temp.wav");
    WriteAll(path, QByteArray(5000, 'z'));
    WriteFormatTemplate(1, 8, 22050, path);
    const QByteArray b = ReadAll(path);
    ASSERT_EQ(b.size(), 44);
    EXPECT_EQ(b.left(4), "RIFF");
    EXPECT_EQ(U32(b, 4), 36u);
    EXPECT_EQ(b.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32(b, 16), 16u);
    EXPECT_EQ(U16(b, 20), 1);
    EXPECT_EQ(U16(b, 22), 1);
    EXPECT_EQ(U32(b, 24), 22050u);
    EXPECT_EQ(U32(b, 28), 22050u);
    EXPECT_EQ(U16(b, 32), 1);
    EXPECT_EQ(U16(b, 34), 8);
    EXPECT_EQ(b.mid(36, 4), "data");
    EXPECT_EQ(U32(b, 40), 0u);

    WriteFormatTemplate(2, 16, 44100, path);
    const QByteArray s = ReadAll(path);
    EXPECT_EQ(U32(s, 28), 44100u * 4);
    EXPECT_EQ(U16(s, 32), 4);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TemplateTest, SaysSoWhenTheFileCannotBeCreated) {
    QTemporaryDir dir;
    WriteAll(dir.filePath("plain"), "x");
    WriteFormatTemplate(2, 16, 44100, dir.filePath("plain/~temp.wav"));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Can   not   Open   File!");
    EXPECT_EQ(boxes_[0].caption, ApplicationTitle());
    EXPECT_EQ(boxes_[0].icon, BoxIcon::None);
}

TEST(LocalTimeAt, FillsEveryFieldFromTheLocalZone) {
    setenv("TZ", "UTC", 1);
    tzset();
    // Tuesday 7 March 2006, 14:05:09.250 UTC
    const auto moment = std::chrono::system_clock::time_point(std::chrono::milliseconds(1141740309250LL));
    EXPECT_EQ(LocalTimeAt(moment), (SystemTime{2006, 3, 2, 7, 14, 5, 9, 250}));
    setenv("TZ", "JST-9", 1);  // nine hours ahead
    tzset();
    const SystemTime tokyo = LocalTimeAt(moment);
    EXPECT_EQ(tokyo.day, 7);
    EXPECT_EQ(tokyo.dayOfWeek, 2);
    EXPECT_EQ(tokyo.hour, 23);
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace larkspur
