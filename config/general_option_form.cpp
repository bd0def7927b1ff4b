#include "config/general_option_form.h"

#include "config/config_file.h"
#include "config/folder_picker.h"
#include "config/ini_file.h"
#include "platform/error_box.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace larkspur {
namespace {

// Paths travel through Config.ini as the file system's bytes.
std::string ToBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString FromBytes(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

TGeneralOptionForm::TGeneralOptionForm(QWidget* parent, FolderPicker* picker)
    : OptionDialog("GeneralOptionForm", QStringLiteral("General Option"), 385, 441, parent),
      picker_(picker ? *picker : DesktopFolderPicker()) {
    // Created in tab order: Button1, GroupBox1, GroupBox2, GroupBox3, GroupBox4, Button2.
    Button1 = MakeButton(this, "Button1", QStringLiteral("OK"), {176, 398, 81, 27});

    GroupBox1 = MakeGroupBox(this, "GroupBox1", QStringLiteral("Settings"), {8, 8, 361, 65});
    CheckBox1 = new QCheckBox(QStringLiteral("Play AVI file when recording stops"), GroupBox1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(24, 24, 265, 17);

    GroupBox2 = MakeGroupBox(this, "GroupBox2", QStringLiteral("Temporary directory for recording"),
                             {8, 80, 361, 97});
    Edit7 = new QLineEdit(GroupBox2);
    Edit7->setObjectName(QStringLiteral("Edit7"));
    Edit7->setGeometry(16, 28, 337, 21);
    Edit7->setFrame(false);
    SpeedButton1 = MakeSpeedButton(GroupBox2, "SpeedButton1", QStringLiteral("Browse"),
                                   QStyle::SP_DirOpenIcon, Qt::ToolButtonTextBesideIcon,
                                   {168, 59, 81, 26});
    SpeedButton2 = MakeSpeedButton(GroupBox2, "SpeedButton2", QStringLiteral("Default"),
                                   QStyle::SP_DirHomeIcon, Qt::ToolButtonTextBesideIcon,
                                   {272, 59, 81, 26});

    GroupBox3 = MakeGroupBox(this, "GroupBox3", QStringLiteral("Recording thread priority"),
                             {8, 184, 361, 97});
    RadioButton1 = MakeRadio(GroupBox3, "RadioButton1", QStringLiteral("Normal"), {24, 24, 113, 17});
    RadioButton2 = MakeRadio(GroupBox3, "RadioButton2", QStringLiteral("Hightest"), {208, 24, 113, 17});
    RadioButton3 = MakeRadio(GroupBox3, "RadioButton3", QStringLiteral("Above Normal"), {24, 64, 113, 17});
    RadioButton4 = MakeRadio(GroupBox3, "RadioButton4", QStringLiteral("Time Critical"), {208, 64, 113, 17});
    RadioButton1->setChecked(true);

    GroupBox4 = MakeGroupBox(this, "GroupBox4", QStringLiteral("Name of AVI file"), {8, 288, 361, 97});
    RadioButton5 = MakeRadio(GroupBox4, "RadioButton5", QStringLiteral("Ask for file name"),
                             {24, 32, 249, 17});
    RadioButton6 = MakeRadio(GroupBox4, "RadioButton6",
                             QStringLiteral("Automatic file naming ( Use Date / Time )"),
                             {24, 64, 249, 17});
    RadioButton6->setChecked(true);

    Button2 = MakeButton(this, "Button2", QStringLiteral("Cancel"), {288, 398, 81, 27});

    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([&] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([&] { Button2Click(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { Guarded([&] { SpeedButton1Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this,
            [this] { Guarded([&] { SpeedButton2Click(); }); });
    InstallKeyPreview();
}

void TGeneralOptionForm::FormCreate() { LoadSettings(); }

bool TGeneralOptionForm::PlayAfterRecording() const { return CheckBox1->isChecked(); }
bool TGeneralOptionForm::AskForFileName() const { return RadioButton5->isChecked(); }

void TGeneralOptionForm::Button1Click() {
    SaveSettings();
    close();
}

void TGeneralOptionForm::Button2Click() {
    LoadSettings();
    close();
}

void TGeneralOptionForm::SpeedButton1Click() {
    // The picker belongs to the window that owns the program's forms, not to this dialog.
    const auto dir = picker_.PickFolder(parentWidget(), QStringLiteral("Please choose directory"));
    if (!dir) return;
    Edit7->setText(dir->endsWith(QLatin1Char('/')) ? *dir : *dir + QLatin1Char('/'));
}

void TGeneralOptionForm::SpeedButton2Click() { Edit7->setText(FromBytes(DefaultTempDirectory())); }

void TGeneralOptionForm::LoadSettings() {
    const TIniFile ini(ConfigPath());
    CheckBox1->setChecked(ini.ReadString("General", "Play", "0") == "1");
    Edit7->setText(FromBytes(TempDirectoryOnLoad(ini.ReadString("General", "Temp", "0"))));
    QRadioButton* const priorities[] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
    const int priority = StrToInt(ini.ReadString("General", "RecordThread", "0"));
    if (priority >= 0 && priority <= 3) priorities[priority]->setChecked(true);
    (ini.ReadString("General", "AVIName", "0") == "1" ? RadioButton5 : RadioButton6)->setChecked(true);
}

void TGeneralOptionForm::SaveSettings() {
    TIniFile ini(ConfigPath());
    ini.WriteString("General", "Play", CheckBox1->isChecked() ? "1" : "0");
    ini.WriteString("General", "Temp", TempDirectoryOnSave(ToBytes(Edit7->text())));
    const QRadioButton* const priorities[] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
    std::string code = "0";
    for (int i = 0; i < 4; ++i)
        if (priorities[i]->isChecked()) code = std::to_string(i);
    ini.WriteString("General", "RecordThread", code);
    ini.WriteString("General", "AVIName", RadioButton5->isChecked() ? "1" : "0");
}

}  // namespace larkspur
