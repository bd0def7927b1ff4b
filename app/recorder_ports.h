#pragma once
#include <QString>
#include <memory>
#include <optional>

// What the recording logic needs of the main window and of the option dialogs, so that it runs
// and is tested without a display.
namespace larkspur {

class LevelTap;

// Where a recording stands. Idle -> Starting (the temporary file claimed, the device opened) ->
// Recording <-> Paused -> Finishing (Stop pressed: the Save dialog, the conversion) -> Idle; a
// start that cannot claim its file goes back to Idle.
enum class RecordingState { Idle, Starting, Recording, Paused, Finishing };

// The main window's controls that follow the recording state.
class RecorderView {
public:
    virtual ~RecorderView() = default;
    // The top-level menus File, Options and Help.
    virtual void SetMenusEnabled(bool enabled) = 0;
    // Record, Pause, Stop, and the three option buttons together.
    virtual void SetButtonsEnabled(bool record, bool pause, bool stop, bool options) = 0;
    virtual QString Caption() const = 0;
    virtual void SetCaption(const QString& caption) = 0;
    // Timer1, which ticks the caption.
    virtual void SetTimerEnabled(bool enabled) = 0;
    // The recording's new state, once the change is complete, with the levels of the recording
    // that exists (null without one). Nothing called from here may call back into the control.
    virtual void ShowState(RecordingState state, const std::shared_ptr<LevelTap>& levels) = 0;
    // The timer's integer tag: the blink phase of the paused caption.
    virtual int TimerTag() const = 0;
    virtual void SetTimerTag(int tag) = 0;
};

// The current choices of the Audio and General options, read at the moment of use.
class RecorderSettings {
public:
    virtual ~RecorderSettings() = default;
    // Positions in the "Sample rate:", "Sample size:" and "Track:" lists; -1 when none is selected.
    virtual int SampleRateIndex() const = 0;
    virtual int SampleSizeIndex() const = 0;
    virtual int TrackIndex() const = 0;
    virtual bool SaveToMp3() const = 0;
    virtual bool AskForFileName() const = 0;
    virtual bool PlayAfterRecording() const = 0;
};

// The Save dialog.
class SaveNameDialog {
public:
    virtual ~SaveNameDialog() = default;
    // 1 for the "*.wav" entry, 2 for "*.mp3".
    virtual int FilterIndex() const = 0;
    // Shows the dialog modally with preset in its file-name box; the confirmed name exactly as
    // the dialog returns it, or nothing when cancelled.
    virtual std::optional<QString> Ask(const QString& preset) = 0;
};

// The WAV-to-MP3 converter and the name it writes (the main window's Mp3Path).
class Mp3Converter {
public:
    virtual ~Mp3Converter() = default;
    // Names the MP3 file of the recording being finished, whether it is converted or was
    // encoded while recording.
    virtual void SetMp3Path(const QString& mp3Path) = 0;
    // Writes the MP3 named last from the wave file; true when the MP3 was completed.
    virtual bool Convert(const QString& wavPath) = 0;
};

}  // namespace larkspur
