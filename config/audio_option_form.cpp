#include "config/audio_option_form.h"

#include "config/config_file.h"
#include "config/ini_file.h"
#include "config/loopback_selection.h"
#include "config/recording_control_window.h"
#include "platform/error_box.h"
#include "platform/capture_source.h"
#include "platform/mixer.h"
#include "platform/sound_sources.h"
#include "platform/shell.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace larkspur {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    // Labels size themselves to their text, which the desktop's font may make wider.
    const QSize fit = label->sizeHint().expandedTo(geometry.size());
    label->setGeometry({geometry.topLeft(), fit});
    return label;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QStringList& items,
                    const QRect& geometry) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    box->addItems(items);
    box->setCurrentIndex(0);
    return box;
}

// A stored position outside the list leaves it without a selection.
void SelectPosition(QComboBox* box, int position) {
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

}  // namespace

TAudioOptionForm::TAudioOptionForm(std::function<void(int)> setSaveFilterIndex, QWidget* parent,
                                   Mixer* mixer)
    : OptionDialog("AudioOptionForm", QStringLiteral("Audio Options"), 332, 412, parent),
      setSaveFilterIndex_(std::move(setSaveFilterIndex)),
      mixer_(mixer) {
    // Created in tab order: Button1, GroupBox1, GroupBox2, Button2, GroupBox3.
    Button1 = MakeButton(this, "Button1", QStringLiteral("OK"), {128, 374, 81, 27});

    GroupBox1 = MakeGroupBox(this, "GroupBox1", QStringLiteral("Parameter"), {8, 200, 313, 161});
    Label10 = MakeLabel(GroupBox1, "Label10", QStringLiteral("Sample rate:"), {16, 32, 59, 13});
    ComboBox1 = MakeList(GroupBox1, "ComboBox1",
                         {QStringLiteral("44.100K/HZ"), QStringLiteral("32.000K/HZ"),
                          QStringLiteral("24.000K/HZ"), QStringLiteral("22.050K/HZ"),
                          QStringLiteral("16.000K/HZ")},
                         {160, 24, 145, 21});
    Label11 = MakeLabel(GroupBox1, "Label11", QStringLiteral("Sample size:"), {16, 72, 59, 13});
    ComboBox2 = MakeList(GroupBox1, "ComboBox2", {QStringLiteral("16 bit"), QStringLiteral("8 bit")},
                         {160, 72, 145, 21});
    Label12 = MakeLabel(GroupBox1, "Label12", QStringLiteral("Track:"), {16, 120, 31, 13});
    ComboBox3 = MakeList(GroupBox1, "ComboBox3", {QStringLiteral("Stereo"), QStringLiteral("Mono")},
                         {160, 120, 145, 21});

    GroupBox2 = MakeGroupBox(this, "GroupBox2", QStringLiteral("Record setting:"), {8, 74, 313, 113});
    SpeedButton3 = MakeSpeedButton(GroupBox2, "SpeedButton3", QStringLiteral("Volume / Device"),
                                   QStyle::SP_MediaVolume, Qt::ToolButtonTextUnderIcon,
                                   {96, 24, 121, 65});
    SpeedButton3->setIconSize({32, 32});

    Button2 = MakeButton(this, "Button2", QStringLiteral("Cancel"), {240, 374, 81, 27});

    GroupBox3 = MakeGroupBox(this, "GroupBox3", QStringLiteral("Format"), {8, 8, 313, 57});
    RadioButton1 = MakeRadio(GroupBox3, "RadioButton1", QStringLiteral("Save to WAV"), {16, 24, 113, 17});
    RadioButton2 = MakeRadio(GroupBox3, "RadioButton2", QStringLiteral("Save to MP3"), {160, 24, 113, 17});
    RadioButton2->setChecked(true);

    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([&] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([&] { Button2Click(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this,
            [this] { Guarded([&] { SpeedButton3Click(); }); });
    InstallKeyPreview();
}

void TAudioOptionForm::FormCreate() {
    if (mixer_) {
        SelectLoopbackSource(*mixer_);
    } else {
        // The server's round trips would hold up the first paint; a recording waits for them.
        SelectCaptureSourceInBackground([] { SelectLoopbackSource(*CreateSystemMixer()); });
    }
    LoadSettings();
}

bool TAudioOptionForm::SaveToMp3() const { return RadioButton2->isChecked(); }
int TAudioOptionForm::SampleRateIndex() const { return ComboBox1->currentIndex(); }
int TAudioOptionForm::SampleSizeIndex() const { return ComboBox2->currentIndex(); }
int TAudioOptionForm::TrackIndex() const { return ComboBox3->currentIndex(); }

void TAudioOptionForm::Button1Click() {
    SaveSettings();
    close();
}

void TAudioOptionForm::Button2Click() {
    LoadSettings();
    close();
}

void TAudioOptionForm::SpeedButton3Click() {
    if (!recordingControl_)
        recordingControl_ = new RecordingControlWindow(watchSources_ ? watchSources_() : WatchSoundSources(), this);
    recordingControl_->show();
    recordingControl_->raise();
    recordingControl_->activateWindow();
}

void TAudioOptionForm::LoadSettings() {
    const TIniFile ini(ConfigPath());
    (ini.ReadString("Audio", "Format", "0") == "0" ? RadioButton1 : RadioButton2)->setChecked(true);
    SelectPosition(ComboBox1, StrToInt(ini.ReadString("Audio", "Rate", "0")));
    SelectPosition(ComboBox2, StrToInt(ini.ReadString("Audio", "Size", "0")));
    SelectPosition(ComboBox3, StrToInt(ini.ReadString("Audio", "Track", "0")));
}

void TAudioOptionForm::SaveSettings() {
    TIniFile ini(ConfigPath());
    if (RadioButton1->isChecked()) {
        ini.WriteString("Audio", "Format", "0");
        if (setSaveFilterIndex_) setSaveFilterIndex_(1);
    } else {
        ini.WriteString("Audio", "Format", "1");
        if (setSaveFilterIndex_) setSaveFilterIndex_(2);
    }
    ini.WriteString("Audio", "Rate", std::to_string(ComboBox1->currentIndex()));
    ini.WriteString("Audio", "Size", std::to_string(ComboBox2->currentIndex()));
    ini.WriteString("Audio", "Track", std::to_string(ComboBox3->currentIndex()));
}

}  // namespace larkspur
