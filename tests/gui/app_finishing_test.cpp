// Finishing a recording on the real main window (offscreen): naming, the Save dialog, WAV and MP3
// output, and what is kept when the output cannot be written.
#include "app/output_name.h"
#include "app/recording_control.h"
#include "audio/capture_device.h"
#include "audio/mp3/wav2mp3.h"
#include "tests/gui/app_recording_support.h"
#include "tests/unit/mp3_test_support.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <cstdlib>
#include <functional>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspur::test {
namespace {

class FinishingTest : public RecorderTest {
protected:
    // Record for the given time, then Stop.
    void RecordAndStop(std::chrono::seconds length) {
        form_->ToolButton1Click();
        RecordFor(length);
        form_->ToolButton3Click();
    }

    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // The MP3 holds the double's 1 kHz tone for the given time, at the recording's rate and channels.
    static void ExpectMp3(const QString& path, long rate, int channels, std::chrono::milliseconds length) {
        const mp3test::DecodedMp3 d = mp3test::Decode(path.toStdString());
        ASSERT_EQ(d.rate, rate);
        ASSERT_EQ(d.channels, channels);
        for (const auto& f : d.frames) EXPECT_EQ(f.bitrate, 192);
        const std::size_t frames = std::size_t(length.count()) * rate / 1000;
        const auto dp = mp3test::LameDelayPadding(rate, channels, frames);
        EXPECT_EQ(d.Frames(), frames + dp.delay + dp.padding);
        const auto x = mp3test::Channel(d.samples, channels, 0, frames / 4, frames / 2);
        EXPECT_NEAR(mp3test::Frequency(x, rate), 1000, 5);
        EXPECT_NEAR(mp3test::Rms(x), 0.5 / std::sqrt(2.0), 0.02);
    }

    QString TextOf(QFileDialog* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        return edit ? edit->text() : QStringLiteral("<no file-name box>");
    }
};

TEST_F(FinishingTest, AutomaticNamesComeFromOneReadingOfTheLocalTime) {
    clock_.SetLocal(2006, 3, 7, 14, 5, 7);
    RecordAndStop(2s);  // stopped at 14:05:09
    EXPECT_EQ(Files(), QStringList{"2006_3_7_14_5_9.wav"});
    EXPECT_EQ(form_->OutputPath(), Dir() + "2006_3_7_14_5_9.wav");
    EXPECT_EQ(WaveMilliseconds(form_->OutputPath()), 2000);

    clock_.SetLocal(2006, 12, 25, 9, 29, 57);
    RecordAndStop(3s);
    EXPECT_EQ(Files(), (QStringList{"2006_12_25_9_30_0.wav", "2006_3_7_14_5_9.wav"}));
    EXPECT_EQ(WaveMilliseconds(Dir() + "2006_12_25_9_30_0.wav"), 3000);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(shell_.requests.empty());
}

TEST_F(FinishingTest, SaveToMp3ConvertsAndLeavesNoWaveFile) {
    ChooseMp3(true);
    ChoosePlay(true);
    clock_.SetLocal(2006, 3, 7, 14, 5, 7);
    RecordAndStop(2s);
    EXPECT_EQ(Files(), QStringList{"2006_3_7_14_5_9.mp3"});
    EXPECT_EQ(form_->OutputPath(), Dir() + "2006_3_7_14_5_9.mp3");
    EXPECT_EQ(form_->Mp3Path, form_->OutputPath());
    ExpectMp3(form_->OutputPath(), 44100, 2, 2000ms);
    ASSERT_EQ(shell_.requests.size(), 1u);
    EXPECT_EQ(shell_.requests[0].target, form_->OutputPath());
    EXPECT_EQ(shell_.requests[0].verb, "");
    EXPECT_EQ(shell_.requests[0].owner, form_.get());
    EXPECT_TRUE(boxes_.empty());
}

// The MP3 encoded while recording is put in place (the file written during the recording is the
// output) and holds the converter's bytes for the same recording, pauses included.
TEST_F(FinishingTest, TheMp3EncodedWhileRecordingIsTheConvertersMp3) {
    const auto recordWithPauses = [&] {
        form_->ToolButton1Click();
        for (int i = 0; i < 3; ++i) {
            RecordFor(1s);
            form_->ToolButton2Click();
            Pass(700ms);
            form_->ToolButton1Click();
        }
        RecordFor(1s);
    };
    ChooseMp3(true);
    recordWithPauses();
    const QString early = Dir() + "~temp.mp3";
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(early).constData(), &st), 0) << "no early MP3";
    form_->ToolButton3Click();
    const QString mp3 = form_->OutputPath();
    EXPECT_EQ(Files(), QStringList{QFileInfo(mp3).fileName()});
    struct stat out {};
    ASSERT_EQ(::stat(QFile::encodeName(mp3).constData(), &out), 0);
    EXPECT_EQ(out.st_ino, st.st_ino) << "the MP3 was converted, not encoded while recording";
    EXPECT_EQ(form_->Mp3Path, mp3);

    // The same recording as a wave file, converted.
    ChooseMp3(false);
    clock_.Advance(2s);
    recordWithPauses();
    EXPECT_FALSE(QFileInfo::exists(early)) << "an early MP3 where none can be wanted";
    form_->ToolButton3Click();
    const QString converted = Dir() + "converted.mp3";
    ASSERT_TRUE(Wav2Mp3(nullptr, form_->OutputPath(), converted));
    EXPECT_TRUE(Read(mp3) == Read(converted));
    EXPECT_TRUE(boxes_.empty());
}

// Asked for a name, the recording may become either; the early MP3 goes when a WAV is chosen,
// and one left by a crash goes at the next Record.
TEST_F(FinishingTest, AnEarlyMp3NeverOutlivesItsRecording) {
    Write(Dir() + "~temp.mp3", "left by a crash");
    ChooseAskForName(true);
    form_->ToolButton1Click();
    RecordFor(2s);
    EXPECT_NE(Read(Dir() + "~temp.mp3"), "left by a crash");
    WhenSaveDialogShows([&](QFileDialog* d) { TypeAndAccept(d, Dir() + "take.wav"); });
    form_->ToolButton3Click();
    EXPECT_EQ(Files(), QStringList{"take.wav"});
}

TEST_F(FinishingTest, TwoRecordingsInOneSecondBothSurvive) {
    RecordAndStop(1s);
    clock_.Jump(-1s);
    RecordAndStop(1s);
    EXPECT_EQ(Files(), (QStringList{"2006_3_7_14_5_10 (1).wav", "2006_3_7_14_5_10.wav"}));
}

TEST_F(FinishingTest, TheSaveDialogStoresANameWithoutExtensionAsWave) {
    ChooseAskForName(true);
    ChoosePlay(true);
    bool finishing = false;
    QString preset;
    WhenSaveDialogShows([&](QFileDialog* d) {
        finishing = form_->IsFinishing() && !form_->IsRecording();
        preset = TextOf(d);
        TypeAndAccept(d, Dir() + "take1");
    });
    RecordAndStop(2s);
    EXPECT_TRUE(finishing);
    EXPECT_EQ(preset, "*.mp3");  // the dialog starts on the MP3 entry
    EXPECT_FALSE(form_->IsFinishing());
    EXPECT_EQ(Files(), QStringList{"take1"});
    EXPECT_EQ(WaveMilliseconds(Dir() + "take1"), 2000);
    ASSERT_EQ(shell_.requests.size(), 1u);
    EXPECT_EQ(shell_.requests[0].target, Dir() + "take1");
}

TEST_F(FinishingTest, ThePresetPatternIsNoFileName) {
    ChooseAskForName(true);
    int shown = 0;
    WhenSaveDialogShows([&](QFileDialog* d) {
        ++shown;
        WhenSaveDialogShows([&](QFileDialog* again) {
            ++shown;
            EXPECT_EQ(TextOf(again), "*.mp3");
            TypeAndAccept(again, Dir() + "take.wav");
        });
        TypeAndAccept(d, Dir() + "*.mp3");
    });
    RecordAndStop(2s);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(Files(), QStringList{"take.wav"});
}

TEST_F(FinishingTest, AnUpperCaseMp3NameIsConvertedUnderTheLowerCaseName) {
    ChooseAskForName(true);
    ChoosePlay(true);
    WhenSaveDialogShows([&](QFileDialog* d) { TypeAndAccept(d, Dir() + "take.MP3"); });
    RecordAndStop(2s);
    EXPECT_EQ(Files(), QStringList{"take.mp3"});
    EXPECT_EQ(form_->OutputPath(), Dir() + "take.mp3");
    ExpectMp3(Dir() + "take.mp3", 44100, 2, 2000ms);
    // The file written is the one played.
    ASSERT_EQ(shell_.requests.size(), 1u);
    EXPECT_EQ(shell_.requests[0].target, Dir() + "take.mp3");
}

TEST_F(FinishingTest, AnUpperCaseMp3NameNeverReplacesTheLowerCaseFile) {
    ChooseAskForName(true);
    Write(Dir() + "take.mp3", "another recording");
    WhenSaveDialogShows([&](QFileDialog* d) { TypeAndAccept(d, Dir() + "take.MP3"); });
    RecordAndStop(2s);
    EXPECT_EQ(Files(), (QStringList{"take.MP3", "take.mp3"}));
    EXPECT_EQ(Read(Dir() + "take.mp3"), "another recording");
    EXPECT_EQ(form_->OutputPath(), Dir() + "take.MP3");
    ExpectMp3(Dir() + "take.MP3", 44100, 2, 2000ms);
}

TEST_F(FinishingTest, AMixedCaseMp3NameIsStoredAsWave) {
    ChooseAskForName(true);
    ChooseMp3(true);  // the typed name decides, not the option
    WhenSaveDialogShows([&](QFileDialog* d) { TypeAndAccept(d, Dir() + "take.Mp3"); });
    RecordAndStop(2s);
    EXPECT_EQ(Files(), QStringList{"take.Mp3"});
    EXPECT_EQ(WaveMilliseconds(Dir() + "take.Mp3"), 2000);
}

TEST_F(FinishingTest, CancelDiscardsTheRecording) {
    ChooseAskForName(true);
    ChoosePlay(true);
    WhenSaveDialogShows([&](QFileDialog* d) { Cancel(d); });
    RecordAndStop(2s);
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(shell_.requests.empty());
    EXPECT_EQ(ApplicationTitle(), "Larkspur - Stop");
}

TEST_F(FinishingTest, PickingAnotherTypeRewritesTheExtensionInTheNameBox) {
    ChooseAskForName(true);
    form_->SaveDialog1->selectNameFilter("*.wav");
    QStringList seen;
    WhenSaveDialogShows([&](QFileDialog* d) {
        auto* types = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        seen << TextOf(d);
        QTest::keyClick(types, Qt::Key_Down);  // the user picks "*.mp3"
        seen << TextOf(d);
        QTest::keyClick(types, Qt::Key_Up);
        seen << TextOf(d);
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("take");
        QTest::keyClick(types, Qt::Key_Down);
        seen << TextOf(d);
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("take.");
        QTest::keyClick(types, Qt::Key_Up);  // the "." alone is enough
        seen << TextOf(d);
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("take.wav");
        QTest::keyClick(types, Qt::Key_Up);  // already "*.wav": no type change
        seen << TextOf(d);
        QTest::keyClick(types, Qt::Key_Down);
        seen << TextOf(d);
        TypeAndAccept(d, Dir() + TextOf(d));
    });
    RecordAndStop(2s);
    EXPECT_EQ(seen, (QStringList{"*.wav", "*.mp3", "*.wav", "take", "take.wav", "take.wav", "take.mp3"}));
    EXPECT_EQ(Files(), QStringList{"take.mp3"});
    ExpectMp3(Dir() + "take.mp3", 44100, 2, 2000ms);
    // The dialog keeps the entry last chosen for the next time.
    EXPECT_EQ(form_->SaveDialog1->selectedNameFilter(), "*.mp3");
}

TEST_F(FinishingTest, AnMp3AtAnUnsupportedRateIsKeptAsWave) {
    ChooseMp3(true);
    ChoosePlay(true);
    ChooseFormat(3, 0, 0);  // 22050 Hz
    clock_.SetLocal(2006, 3, 7, 14, 5, 7);
    Write(Dir() + "2006_3_7_14_5_9.wav", "an earlier recording");
    RecordAndStop(2s);
    const QString kept = Dir() + "2006_3_7_14_5_9 (1).wav";
    EXPECT_EQ(Files(), (QStringList{"2006_3_7_14_5_9 (1).wav", "2006_3_7_14_5_9.wav"}));
    EXPECT_EQ(Read(Dir() + "2006_3_7_14_5_9.wav"), "an earlier recording");
    EXPECT_EQ(WaveMilliseconds(kept), 2000);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].caption, "Wav2Mp3 ERROR");
    EXPECT_EQ(boxes_[0].text, "Unsuported sample rate");
    EXPECT_TRUE(boxes_[1].text.contains(Dir() + "2006_3_7_14_5_9.mp3")) << boxes_[1].text.toStdString();
    EXPECT_TRUE(boxes_[1].text.contains(kept)) << boxes_[1].text.toStdString();
    ASSERT_EQ(shell_.requests.size(), 1u);
    EXPECT_EQ(shell_.requests[0].target, kept);
}

TEST_F(FinishingTest, ATargetThatCannotBeWrittenKeepsTheRecordingUntilTheNextRecord) {
    ChooseAskForName(true);
    Write(Dir() + "plain", "a file, not a folder");
    WhenSaveDialogShows([&](QFileDialog* d) { TypeAndAccept(d, Dir() + "plain/take.wav"); });
    RecordAndStop(3s);
    EXPECT_EQ(Files(), (QStringList{"plain", "~temp.wav"}));
    EXPECT_EQ(WaveMilliseconds(TempPath()), 3000);
    auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(Dir() + "plain/take.wav"));
    EXPECT_TRUE(boxes[0].text.contains(TempPath()));

    // The next Record keeps it under the name its last change gives it, and says so once.
    setenv("TZ", "UTC", 1);
    tzset();
    const QDateTime modified(QDate(2006, 12, 25), QTime(9, 30, 0), QTimeZone::utc());
    QFile temp(TempPath());
    ASSERT_TRUE(temp.open(QIODevice::ReadWrite));
    ASSERT_TRUE(temp.setFileTime(modified, QFileDevice::FileModificationTime));
    temp.close();
    ChooseAskForName(false);
    form_->ToolButton1Click();
    unsetenv("TZ");
    tzset();
    boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(Dir() + "2006_12_25_9_30_0.wav")) << boxes[0].text.toStdString();
    EXPECT_EQ(WaveMilliseconds(Dir() + "2006_12_25_9_30_0.wav"), 3000);
    EXPECT_EQ(QFileInfo(TempPath()).size(), 44);  // a fresh template for the new recording
    RecordFor(1s);
    form_->ToolButton3Click();
    form_->ToolButton1Click();
    EXPECT_TRUE(TakeBoxes().empty());  // nothing left over this time
}

TEST_F(FinishingTest, AnMp3ThatCannotBeWrittenIsKeptAsTheTemporaryFile) {
    ChooseAskForName(true);
    Write(Dir() + "plain", "x");
    WhenSaveDialogShows([&](QFileDialog* d) { TypeAndAccept(d, Dir() + "plain/take.mp3"); });
    RecordAndStop(2s);
    EXPECT_EQ(Files(), (QStringList{"plain", "~temp.wav"}));
    EXPECT_EQ(WaveMilliseconds(TempPath()), 2000);
    ASSERT_FALSE(boxes_.empty());
    EXPECT_TRUE(boxes_.back().text.contains(TempPath()));
}

TEST_F(FinishingTest, TheTemporaryFileItselfAsTargetIsNeverDestroyed) {
    ChooseAskForName(true);
    WhenSaveDialogShows([&](QFileDialog* d) {
        d->setOption(QFileDialog::DontConfirmOverwrite);
        TypeAndAccept(d, TempPath());
    });
    RecordAndStop(2s);
    EXPECT_EQ(Files(), QStringList{"~temp (1).wav"});
    EXPECT_EQ(WaveMilliseconds(Dir() + "~temp (1).wav"), 2000);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.contains(Dir() + "~temp (1).wav"));
}

// What has the temporary file's name and is not the recorder's own file is moved aside with a
// message and never written through: a link to a file outside the folder, a dangling link, a
// second name of an outside file, a folder, a file that is no wave file. Every take ends in a
// regular file of its own.
TEST_F(FinishingTest, WhatIsNotTheRecordersOwnFileIsMovedAsideAndNeverWrittenThrough) {
    QTemporaryDir outside;
    const QString notes = outside.filePath("notes.txt"), hard = outside.filePath("hard.txt");
    const QByteArray mine("my notes, not a sound\n");
    Write(notes, mine);
    Write(hard, mine);
    const auto make = std::vector<std::pair<const char*, std::function<bool(const QByteArray&)>>>{
        {"link", [&](const QByteArray& at) { return symlink(QFile::encodeName(notes), at) == 0; }},
        {"dangling link", [&](const QByteArray& at) { return symlink(QFile::encodeName(outside.filePath("new.wav")), at) == 0; }},
        {"hard link", [&](const QByteArray& at) { return link(QFile::encodeName(hard), at) == 0; }},
        {"folder", [&](const QByteArray& at) { return QDir().mkdir(QFile::decodeName(at)); }},
        {"no wave file", [&](const QByteArray& at) { Write(QFile::decodeName(at), QByteArray(1000, 'x')); return true; }},
    };
    int second = 0;
    for (const auto& [what, create] : make) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(create(QFile::encodeName(TempPath())));
        clock_.SetLocal(2026, 12, 9, 10, 0, second += 10);
        RecordAndStop(1s);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_TRUE(boxes_[0].text.startsWith("\"" + TempPath() + "\" was not a recording of Larkspur's, so it was moved aside to \""))
            << boxes_[0].text.toStdString();
        boxes_.clear();
        const QFileInfo recording(form_->OutputPath());
        EXPECT_TRUE(recording.isFile() && !recording.isSymLink());
        EXPECT_EQ(WaveMilliseconds(form_->OutputPath()), 1000);
        EXPECT_EQ(Read(notes), mine);
        EXPECT_EQ(Read(hard), mine);
        EXPECT_FALSE(QFileInfo::exists(outside.filePath("new.wav")));
    }
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), (QStringList{"hard.txt", "notes.txt"}));
    // The five things moved aside, the five recordings.
    EXPECT_EQ(QDir(Dir()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 10);

    // The MP3 made while recording is a file of its own too.
    ChooseMp3(true);
    ASSERT_EQ(symlink(QFile::encodeName(notes), QFile::encodeName(Dir() + "~temp.mp3")), 0);
    RecordAndStop(1s);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Read(notes), mine);
    EXPECT_TRUE(IsMp3Name(form_->OutputPath()));
    EXPECT_FALSE(QFileInfo(form_->OutputPath()).isSymLink());
}

TEST_F(FinishingTest, ALeftoverTemplateIsReplacedSilently) {
    Write(TempPath(), QByteArray(44, 'x'));
    form_->ToolButton1Click();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Files(), QStringList{"~temp.wav"});
}

// A fault finishes the recording at the next tick, as Stop would (named, played), and is told
// after the finish; the caption shows the time recorded, not the time since.
TEST_F(FinishingTest, ADeviceFaultFinishesTheRecordingAtOnceAndIsToldAfterwards) {
    ChoosePlay(true);
    std::vector<std::size_t> playedBeforeBox;
    SetMessageBoxSink([&](const MessageBoxRequest& r) {
        boxes_.push_back(r);
        playedBeforeBox.push_back(shell_.requests.size());
    });
    form_->ToolButton1Click();
    RecordFor(3s);
    capture_->InjectFault(kCaptureSourceGone);
    Pass(1200ms);  // the tick comes late
    form_->Timer1Timer();
    EXPECT_FALSE(form_->IsRecording());
    EXPECT_FALSE(form_->Timer1->isActive());
    EXPECT_EQ(form_->windowTitle(), "Larkspur - 00:00:03");
    EXPECT_EQ(capture_->Commands().back(), "close");
    EXPECT_EQ(Files(), QStringList{"2006_3_7_14_5_13.wav"});
    EXPECT_EQ(WaveMilliseconds(Dir() + "2006_3_7_14_5_13.wav"), 3000);
    ASSERT_EQ(shell_.requests.size(), 1u);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(playedBeforeBox, std::vector<std::size_t>{1});
    EXPECT_TRUE(boxes_[0].text.contains(QString::fromStdString(*CaptureErrorText(kCaptureSourceGone))));
    EXPECT_TRUE(boxes_[0].text.contains("00:00:03"));
    form_->ToolButton3Click();  // a Stop after it changes nothing
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(Files(), QStringList{"2006_3_7_14_5_13.wav"});
}

}  // namespace
}  // namespace larkspur::test
