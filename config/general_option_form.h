#pragma once
#include "config/option_dialog.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace larkspur {

class FolderPicker;

// The "General Option" dialog: play after recording, the temporary directory, the recording
// thread priority choice (stored and shown only) and the naming of finished recordings, kept in
// [General] of Config.ini. Its controls are the live settings.
class TGeneralOptionForm : public OptionDialog {
    Q_OBJECT
public:
    // Browse asks picker for the directory, or the desktop's directory chooser when none.
    explicit TGeneralOptionForm(QWidget* parent = nullptr, FolderPicker* picker = nullptr);

    // Creation event: loads [General]. The program entry calls it right after construction,
    // through Guarded().
    void FormCreate();

    // The current choices, read when a recording stops.
    bool PlayAfterRecording() const;
    bool AskForFileName() const;

    void Button1Click();  // OK: save, then close
    void Button2Click();  // Cancel: load, then close
    void SpeedButton1Click();  // Browse
    void SpeedButton2Click();  // Default

    QPushButton* Button1;
    QGroupBox* GroupBox1;
    QCheckBox* CheckBox1;
    QGroupBox* GroupBox2;
    QLineEdit* Edit7;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QGroupBox* GroupBox3;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QRadioButton* RadioButton4;
    QGroupBox* GroupBox4;
    QRadioButton* RadioButton5;
    QRadioButton* RadioButton6;
    QPushButton* Button2;

private:
    void LoadSettings();
    void SaveSettings();

    FolderPicker& picker_;
};

}  // namespace larkspur
