// The Audio and General options dialogs on real widgets (offscreen), with Config.ini beside this
// test's executable.
#include "config/audio_option_form.h"
#include "config/config_file.h"
#include "config/folder_picker.h"
#include "config/general_option_form.h"
#include "platform/error_box.h"
#include "platform/exe_dir.h"
#include "platform/message_box.h"
#include "platform/mixer.h"
#include "platform/shell.h"
#include "platform/sound_sources.h"
#include "tests/support/captured_boxes.h"
#include "tests/support/recording_shell.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace larkspur;

namespace {

// A system without a mixer device; counts the attempts.
class AbsentMixer final : public Mixer {
public:
    int opens = 0;
    bool Open(unsigned) override { return ++opens, false; }
    bool LineInfoByComponentType(std::uint32_t, MixerLine&) override { return false; }
    bool LineControls(std::uint32_t, std::uint32_t, std::vector<MixerControl>&) override { return false; }
    bool ListTexts(const MixerDetails&, std::vector<std::string>&) override { return false; }
    bool Values(const MixerDetails&, std::vector<std::uint32_t>&) override { return false; }
    bool SetValues(const MixerDetails&, const std::vector<std::uint32_t>&) override { return false; }
    void Close() override {}
};

class ScriptedPicker final : public FolderPicker {
public:
    std::optional<QString> answer;
    QString title;
    QWidget* owner = reinterpret_cast<QWidget*>(1);
    std::optional<QString> PickFolder(QWidget* o, const QString& t) override {
        owner = o;
        title = t;
        return answer;
    }
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(ConfigPath());
    }
    void TearDown() override {
        fs::remove_all(ConfigPath());
    }

    static void WriteConfig(const std::string& text) { std::ofstream(ConfigPath(), std::ios::binary) << text; }
    static std::string ReadConfig() {
        std::ifstream in(ConfigPath(), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    // Start-up runs the creation event through the error box.
    template <class Form>
    static void Create(Form& form) {
        Guarded([&] { form.FormCreate(); });
    }
    void ExpectOneErrorBox(const QString& message) {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, ErrorBoxText(message));
        EXPECT_EQ(boxes_[0].caption, ApplicationTitle());
        EXPECT_EQ(boxes_[0].icon, BoxIcon::Error);
        boxes_.clear();
    }

    test::CapturedBoxes captured_;
    std::vector<MessageBoxRequest>& boxes_ = captured_.boxes;
};

// The named widgets that Tab visits, in order, starting from first.
QStringList TabOrder(QWidget* first) {
    QStringList names;
    QWidget* w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")))
            names << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first);
    return names;
}

class AudioOptionsTest : public DialogTest {
protected:
    AbsentMixer mixer_;
    std::vector<int> filter_indexes_;
    std::unique_ptr<TAudioOptionForm> form_ = std::make_unique<TAudioOptionForm>(
        [this](int i) { filter_indexes_.push_back(i); }, nullptr, &mixer_);
};

TEST_F(AudioOptionsTest, LayoutAsDesigned) {
    TAudioOptionForm& f = *form_;
    EXPECT_EQ(f.windowTitle(), "Audio Options");
    EXPECT_EQ(f.size(), QSize(332, 412));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_EQ(f.font().pointSize(), 8);
    EXPECT_EQ(f.findChild<QGroupBox*>("GroupBox3")->geometry(), QRect(8, 8, 313, 57));
    EXPECT_EQ(f.findChild<QComboBox*>("ComboBox1")->geometry(), QRect(160, 24, 145, 21));
    EXPECT_EQ(f.findChild<QPushButton*>("Button2")->geometry(), QRect(240, 374, 81, 27));
    EXPECT_EQ(f.SpeedButton3->text(), "Volume / Device");
    EXPECT_EQ(f.SpeedButton3->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(f.GroupBox2->title(), "Record setting:");
    QStringList rates;
    for (int i = 0; i < f.ComboBox1->count(); ++i) rates << f.ComboBox1->itemText(i);
    EXPECT_EQ(rates, QStringList({"44.100K/HZ", "32.000K/HZ", "24.000K/HZ", "22.050K/HZ", "16.000K/HZ"}));
    EXPECT_EQ(f.ComboBox2->itemText(1), "8 bit");
    EXPECT_EQ(f.ComboBox3->itemText(1), "Mono");
    EXPECT_FALSE(f.ComboBox1->isEditable());
    EXPECT_FALSE(f.Button1->autoDefault() || f.Button1->isDefault());
    EXPECT_FALSE(f.Button2->autoDefault() || f.Button2->isDefault());
    EXPECT_EQ(TabOrder(f.Button1), QStringList({"Button1", "ComboBox1", "ComboBox2", "ComboBox3",
                                                "Button2", "RadioButton1", "RadioButton2"}));
    // The layout checks "Save to MP3"; a load without Config.ini checks "Save to WAV".
    EXPECT_TRUE(f.SaveToMp3());
    Create(f);
    EXPECT_EQ(mixer_.opens, 1);
    EXPECT_FALSE(f.SaveToMp3());
    EXPECT_EQ(f.SampleRateIndex(), 0);
    EXPECT_EQ(f.SampleSizeIndex(), 0);
    EXPECT_EQ(f.TrackIndex(), 0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(fs::exists(ConfigPath()));
}

TEST_F(AudioOptionsTest, OnlyExactlyZeroSelectsWav) {
    for (const char* format : {"2", "MP3", "", "00", "0"}) {
        WriteConfig(std::string("[Audio]\nFormat=") + format + "\nRate=3\nSize=1\nTrack=1\n");
        Create(*form_);
        EXPECT_EQ(form_->SaveToMp3(), std::string(format) != "0") << format;
        EXPECT_EQ(form_->SampleRateIndex(), 3);
        EXPECT_EQ(form_->SampleSizeIndex(), 1);
        EXPECT_EQ(form_->TrackIndex(), 1);
    }
}

TEST_F(AudioOptionsTest, MalformedRateShowsTheConversionErrorAndStopsTheLoad) {
    WriteConfig("[Audio]\nFormat=1\nRate=abc\nSize=1\nTrack=1\n");
    form_->ComboBox1->setCurrentIndex(2);
    Create(*form_);
    ExpectOneErrorBox("'abc' is not a valid integer value");
    EXPECT_TRUE(form_->SaveToMp3());           // read before the bad key
    EXPECT_EQ(form_->SampleRateIndex(), 2);   // unchanged
    EXPECT_EQ(form_->SampleSizeIndex(), 0);   // never loaded
    EXPECT_EQ(form_->TrackIndex(), 0);

    // Under Cancel the dialog stays open.
    form_->show();
    form_->Button2->click();
    ExpectOneErrorBox("'abc' is not a valid integer value");
    EXPECT_TRUE(form_->isVisible());
}

TEST_F(AudioOptionsTest, NumberOutsideTheListLeavesNoSelectionAndOkWritesMinusOne) {
    WriteConfig("[Audio]\nFormat=0\nRate=9\nSize=-1\nTrack=1\n");
    Create(*form_);
    EXPECT_EQ(form_->SampleRateIndex(), -1);
    EXPECT_EQ(form_->SampleSizeIndex(), -1);
    EXPECT_EQ(form_->TrackIndex(), 1);
    form_->Button1->click();
    EXPECT_EQ(ReadConfig(), "[Audio]\nFormat=0\nRate=-1\nSize=-1\nTrack=1\n");
}

TEST_F(AudioOptionsTest, OkWritesAllFourKeysInOrderAndSetsTheSaveDialogsType) {
    WriteConfig("[Other]\nKeep=me\n");
    Create(*form_);
    form_->show();
    form_->Button1->click();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(ReadConfig(), "[Other]\nKeep=me\n[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n");
    EXPECT_EQ(filter_indexes_, std::vector<int>{1});

    form_->show();
    form_->RadioButton2->setChecked(true);
    form_->ComboBox3->setCurrentIndex(1);
    form_->Button1->click();
    EXPECT_EQ(ReadConfig(), "[Other]\nKeep=me\n[Audio]\nFormat=1\nRate=0\nSize=0\nTrack=1\n");
    EXPECT_EQ(filter_indexes_, (std::vector<int>{1, 2}));
}

TEST_F(AudioOptionsTest, EscapeKeepsEditsUnwrittenAndCancelRestoresTheFile) {
    const std::string stored = "[Audio]\nFormat=0\nRate=1\nSize=0\nTrack=0\n";
    WriteConfig(stored);
    Create(*form_);
    form_->show();
    form_->RadioButton2->setChecked(true);
    form_->ComboBox1->setCurrentIndex(3);
    form_->ComboBox1->setFocus();
    QTest::keyClick(form_->ComboBox1, Qt::Key_Escape);  // seen by the form first
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->SaveToMp3());
    EXPECT_EQ(form_->SampleRateIndex(), 3);  // the next recording uses the new rate
    EXPECT_EQ(ReadConfig(), stored);

    form_->show();  // shown again with the kept edits
    EXPECT_EQ(form_->SampleRateIndex(), 3);
    form_->Button2->click();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_FALSE(form_->SaveToMp3());
    EXPECT_EQ(form_->SampleRateIndex(), 1);
    EXPECT_TRUE(filter_indexes_.empty());
    EXPECT_EQ(ReadConfig(), stored);
}

// No default button: Enter elsewhere does nothing, but a focused button takes Enter as a click.
TEST_F(AudioOptionsTest, EnterClicksOnlyAFocusedButton) {
    const std::string stored = "[Audio]\nFormat=0\nRate=1\nSize=0\nTrack=0\n";
    WriteConfig(stored);
    Create(*form_);
    form_->show();
    QTest::keyClick(form_->Button1, Qt::Key_F1);
    QTest::keyClick(form_->Button1, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(form_->ComboBox1, Qt::Key_Return);
    QTest::keyClick(form_.get(), Qt::Key_Return);
    EXPECT_TRUE(form_->isVisible());
    EXPECT_EQ(ReadConfig(), stored);

    form_->ComboBox1->setCurrentIndex(3);
    QTest::keyClick(form_->Button2, Qt::Key_Return);  // Cancel: the file's values again
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(form_->SampleRateIndex(), 1);

    form_->show();
    form_->ComboBox1->setCurrentIndex(2);
    QTest::keyClick(form_->Button1, Qt::Key_Enter, Qt::KeypadModifier);  // OK
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(ReadConfig(), "[Audio]\nFormat=0\nRate=2\nSize=0\nTrack=0\n");
    EXPECT_EQ(filter_indexes_, std::vector<int>{1});
}

// The sources a server offers, changed by the test as a server would change them.
class ScriptedSources final : public SoundSources {
public:
    explicit ScriptedSources(std::vector<SoundSource>& list) : list_(list) {}
    std::vector<SoundSource> Now() const override { return list_; }

private:
    std::vector<SoundSource>& list_;
};

// The Recording Control as a person uses it: opened by "Volume / Device", read and driven by
// what assistive technology sees (each row by its accessible name) and by keys alone.
TEST_F(AudioOptionsTest, VolumeButtonOpensTheRecordingControlWhichChoosesWhatIsRecorded) {
    const CaptureSource mix{CaptureSource::Kind::DefaultOutputMonitor, {}};
    const CaptureSource mic{CaptureSource::Kind::Named, "usb_mic"};
    const CaptureSource player{CaptureSource::Kind::Program, "Player"};
    std::vector<SoundSource> list{{mix, "Stereo Mix", {}, 0.5}, {mic, "USB Microphone", {}, 0}};
    form_->SetSoundSources([&] { return std::make_unique<ScriptedSources>(list); });
    SetChosenCaptureSource(mix);
    int heard = 0;
    const auto watch = WatchCaptureSourceChoice([&] { ++heard; });
    test::RecordingShell shell;
    form_->show();
    form_->SpeedButton3->click();
    auto* window = form_->findChild<QDialog*>();
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Recording Control");
    QApplication::setActiveWindow(window);
    // The rows by their names, in order, and the "Select" box of each.
    const auto rows = [&] {
        QStringList names;
        for (auto* box : window->findChildren<QGroupBox*>()) names << box->accessibleName();
        return names;
    };
    const auto select = [&](const QString& row) -> QCheckBox* {
        for (auto* box : window->findChildren<QGroupBox*>())
            if (box->accessibleName() == row) return box->findChild<QCheckBox*>();
        return nullptr;
    };
    const auto refreshed = [] { QTest::qWait(120); };
    EXPECT_EQ(rows(), QStringList({"Stereo Mix", "USB Microphone"}));
    ASSERT_TRUE(select("Stereo Mix"));
    EXPECT_EQ(select("Stereo Mix")->accessibleName(), "Select");
    EXPECT_TRUE(select("Stereo Mix")->isChecked());

    // A program starts playing and appears; the keys alone choose it.
    list.push_back({player, "Player", {}, 0.2});
    refreshed();
    EXPECT_EQ(rows(), QStringList({"Stereo Mix", "USB Microphone", "Player"}));
    select("Stereo Mix")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), select("Player"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    // Several rows are mixed, in the rows' order.
    EXPECT_EQ(ChosenCaptureSources(), CaptureSources({mix, player}));
    EXPECT_EQ(heard, 1);
    EXPECT_TRUE(select("Stereo Mix")->isChecked());
    // Stereo Mix taken out leaves the program alone, and the last row selected stays selected.
    select("Stereo Mix")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(ChosenCaptureSources(), CaptureSources({player}));
    EXPECT_FALSE(select("Stereo Mix")->isChecked());
    select("Player")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(ChosenCaptureSources(), CaptureSources({player}));
    EXPECT_TRUE(select("Player")->isChecked());
    EXPECT_EQ(heard, 3);

    // A choice made elsewhere (a move in another mixer) is shown; the microphone unplugged goes.
    SetChosenCaptureSource(mix);
    list.erase(list.begin() + 1);
    refreshed();
    EXPECT_EQ(rows(), QStringList({"Stereo Mix", "Player"}));
    EXPECT_TRUE(select("Stereo Mix")->isChecked());
    EXPECT_FALSE(select("Player")->isChecked());
    EXPECT_EQ(heard, 3);

    // The desktop's own mixer is a button away; Escape closes.
    for (auto* button : window->findChildren<QPushButton*>())
        if (button->accessibleName().isEmpty() ? button->text() == "Sound Settings"
                                               : button->accessibleName() == "Sound Settings")
            button->click();
    EXPECT_EQ(shell.volumeControls, 1);
    // Closed, it goes, and with it the level meters on the server.
    const QPointer<QDialog> open(window);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::qWait(10);
    EXPECT_TRUE(open.isNull());
    SetChosenCaptureSource({});
}

TEST_F(AudioOptionsTest, FailedWriteIsShownAndTheDialogStaysOpen) {
    Create(*form_);
    fs::create_directory(ConfigPath());  // a directory where the file should be
    form_->show();
    form_->Button1->click();
    ExpectOneErrorBox(QString::fromStdString("Unable to write to " + ConfigPath()));
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(filter_indexes_.empty());
}

class GeneralOptionsTest : public DialogTest {
protected:
    ScriptedPicker picker_;
    QWidget owner_;
    std::unique_ptr<TGeneralOptionForm> form_ = std::make_unique<TGeneralOptionForm>(&owner_, &picker_);

    QString DefaultDir() const { return QString::fromStdString(ExeDir()); }
    int Priority() const {
        const QRadioButton* buttons[] = {form_->RadioButton1, form_->RadioButton2, form_->RadioButton3,
                                         form_->RadioButton4};
        for (int i = 0; i < 4; ++i)
            if (buttons[i]->isChecked()) return i;
        return -1;
    }
};

TEST_F(GeneralOptionsTest, LayoutAndDefaultsWithoutConfigIni) {
    TGeneralOptionForm& f = *form_;
    EXPECT_EQ(f.windowTitle(), "General Option");
    EXPECT_EQ(f.size(), QSize(385, 441));
    EXPECT_EQ(f.findChild<QLineEdit*>("Edit7")->geometry(), QRect(16, 28, 337, 21));
    EXPECT_FALSE(f.Edit7->hasFrame());
    EXPECT_EQ(f.findChild<QRadioButton*>("RadioButton6")->text(),
              "Automatic file naming ( Use Date / Time )");
    EXPECT_EQ(f.RadioButton2->text(), "Hightest");
    EXPECT_EQ(f.CheckBox1->text(), "Play AVI file when recording stops");
    EXPECT_EQ(f.SpeedButton1->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(f.SpeedButton2->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(TabOrder(f.Button1),
              QStringList({"Button1", "CheckBox1", "Edit7", "RadioButton1", "RadioButton2",
                           "RadioButton3", "RadioButton4", "RadioButton5", "RadioButton6", "Button2"}));
    Create(f);
    EXPECT_FALSE(f.PlayAfterRecording());
    EXPECT_EQ(f.Edit7->text(), DefaultDir());
    EXPECT_EQ(Priority(), 0);
    EXPECT_FALSE(f.AskForFileName());
    EXPECT_TRUE(f.RadioButton6->isChecked());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(fs::exists(ConfigPath()));
}

TEST_F(GeneralOptionsTest, OnOffValuesCompareTheExactText) {
    WriteConfig("[General]\nPlay=10\nRecordThread=2\nAVIName=10\n");
    Create(*form_);
    EXPECT_FALSE(form_->PlayAfterRecording());
    EXPECT_FALSE(form_->AskForFileName());
    EXPECT_EQ(Priority(), 2);
    WriteConfig("[General]\nPlay=\"1\"\nRecordThread=7\nAVIName= 1\n");
    Create(*form_);
    EXPECT_TRUE(form_->PlayAfterRecording());
    EXPECT_TRUE(form_->AskForFileName());
    EXPECT_EQ(Priority(), 2);  // 7 leaves the choice as it was
}

TEST_F(GeneralOptionsTest, MalformedRecordThreadStopsBeforeAviName) {
    WriteConfig("[General]\nPlay=1\nRecordThread=high\nAVIName=1\n");
    Create(*form_);
    ExpectOneErrorBox("'high' is not a valid integer value");
    EXPECT_TRUE(form_->PlayAfterRecording());
    EXPECT_EQ(Priority(), 0);
    EXPECT_FALSE(form_->AskForFileName());
}

TEST_F(GeneralOptionsTest, TempDirectoryIsCheckedOnLoadAndSave) {
    const fs::path existing = fs::temp_directory_path() / "larkspur-temp-dir-test";
    fs::create_directories(existing);
    WriteConfig("[General]\nTemp=" + existing.string() + "\n");
    Create(*form_);
    EXPECT_EQ(form_->Edit7->text(), QString::fromStdString(existing.string()));  // as stored

    fs::remove(existing);
    Create(*form_);
    EXPECT_EQ(form_->Edit7->text(), DefaultDir());
    WriteConfig("[General]\nTemp=\n");
    form_->show();
    form_->Edit7->setText(QStringLiteral("typed"));
    form_->Button2->click();  // Cancel loads again
    EXPECT_EQ(form_->Edit7->text(), DefaultDir());

    // A missing typed directory: the default is written, the box keeps the text.
    form_->show();
    form_->Edit7->setText(QString::fromStdString(existing.string()));
    form_->Button1->click();
    EXPECT_EQ(ReadConfig(), "[General]\nTemp=" + ExeDir() +
                                "\nPlay=0\nRecordThread=0\nAVIName=0\n");
    EXPECT_EQ(form_->Edit7->text(), QString::fromStdString(existing.string()));
}

TEST_F(GeneralOptionsTest, OkWritesAllFourKeysInOrder) {
    Create(*form_);
    form_->RadioButton4->setChecked(true);
    form_->RadioButton5->setChecked(true);
    form_->CheckBox1->setChecked(true);
    form_->Edit7->setText(QStringLiteral("0"));  // no special meaning when typed
    form_->show();
    form_->Button1->click();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(ReadConfig(), "[General]\nPlay=1\nTemp=" + ExeDir() + "\nRecordThread=3\nAVIName=1\n");
}

TEST_F(GeneralOptionsTest, BrowseAndDefaultOnlyChangeTheEditBox) {
    WriteConfig("[General]\nTemp=/\n");
    Create(*form_);
    EXPECT_EQ(form_->Edit7->text(), "/");

    picker_.answer = QStringLiteral("/tmp");
    form_->SpeedButton1->click();
    EXPECT_EQ(picker_.title, "Please choose directory");
    EXPECT_EQ(picker_.owner, &owner_);
    EXPECT_EQ(form_->Edit7->text(), "/tmp/");
    picker_.answer = QStringLiteral("/");
    form_->SpeedButton1->click();
    EXPECT_EQ(form_->Edit7->text(), "/");
    picker_.answer.reset();  // cancelled
    form_->Edit7->setText(QStringLiteral("kept"));
    form_->SpeedButton1->click();
    EXPECT_EQ(form_->Edit7->text(), "kept");

    form_->show();
    form_->SpeedButton2->click();
    EXPECT_EQ(form_->Edit7->text(), DefaultDir());
    form_->Button2->click();  // Cancel restores the stored directory
    EXPECT_EQ(form_->Edit7->text(), "/");

    form_->show();
    form_->SpeedButton2->click();
    QTest::keyClick(form_->Edit7, Qt::Key_Escape);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(form_->Edit7->text(), DefaultDir());
    EXPECT_EQ(ReadConfig(), "[General]\nTemp=/\n");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
