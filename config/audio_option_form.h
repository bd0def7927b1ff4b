#pragma once
#include "config/option_dialog.h"

#include <QPointer>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QRadioButton;

namespace larkspur {

class Mixer;
class RecordingControlWindow;
class SoundSources;

// The "Audio Options" dialog: WAV or MP3, and the sample rate, sample size and channels of new
// recordings, kept in [Audio] of Config.ini. Its controls are the live settings.
class TAudioOptionForm : public OptionDialog {
    Q_OBJECT
public:
    // setSaveFilterIndex gives the main window's Save dialog its file type on OK (1 "*.wav",
    // 2 "*.mp3"). The loop-back selection runs on mixer, or on the system's mixer when none.
    explicit TAudioOptionForm(std::function<void(int)> setSaveFilterIndex, QWidget* parent = nullptr,
                              Mixer* mixer = nullptr);

    // Creation event: selects the loop-back recording source, then loads [Audio]. The program
    // entry calls it right after construction, through Guarded().
    void FormCreate();

    // The current choices, read when a recording starts or stops.
    bool SaveToMp3() const;
    // List positions; -1 when a stored number outside the list left none selected.
    int SampleRateIndex() const;
    int SampleSizeIndex() const;
    int TrackIndex() const;

    void Button1Click();  // OK: save, then close
    void Button2Click();  // Cancel: load, then close
    // "Volume / Device": the Recording Control window, over the sources watchSources gives.
    void SpeedButton3Click();
    void SetSoundSources(std::function<std::unique_ptr<SoundSources>()> watchSources) {
        watchSources_ = std::move(watchSources);
    }

    QPushButton* Button1;
    QGroupBox* GroupBox1;
    QLabel* Label10;
    QComboBox* ComboBox1;
    QLabel* Label11;
    QComboBox* ComboBox2;
    QLabel* Label12;
    QComboBox* ComboBox3;
    QGroupBox* GroupBox2;
    QToolButton* SpeedButton3;
    QPushButton* Button2;
    QGroupBox* GroupBox3;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;

private:
    void LoadSettings();
    void SaveSettings();

    std::function<void(int)> setSaveFilterIndex_;
    Mixer* mixer_;
    std::function<std::unique_ptr<SoundSources>()> watchSources_;
    QPointer<RecordingControlWindow> recordingControl_;  // while it is open
};

}  // namespace larkspur
