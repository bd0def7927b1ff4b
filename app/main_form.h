#pragma once
#include "app/level_strip.h"
#include "app/recorder_ports.h"
#include "hotkeys/dispatch.h"

#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QAction;
class QDialog;
class QFileDialog;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QToolButton;

namespace larkspur {

class CaptureDevice;
class Finisher;
class LevelPresenter;
class RecordingControl;
class TMediaPlayer;

// The Save dialog is first needed at a Stop: it is built at its first use, which keeps its file
// system model and its widgets off the start-up path. Owned by the window it is made for.
class DeferredSaveDialog {
public:
    explicit DeferredSaveDialog(std::function<QFileDialog*()> make) : make_(std::move(make)) {}
    QFileDialog* operator->() const { return get(); }
    QFileDialog* get() const;

private:
    std::function<QFileDialog*()> make_;
    mutable QFileDialog* made_ = nullptr;
};

// A timer with the integer tag the recorder keeps its blink phase in.
class TTimer : public QTimer {
    Q_OBJECT
public:
    using QTimer::QTimer;
    int Tag = 0;
};

// The main window: menu bar, toolbar, title picture with the status line, and the bottom strip.
// Every component carries its name as object name.
class TForm1 : public QMainWindow,
               private RecorderView,
               private RecorderSettings,
               private SaveNameDialog,
               private Mp3Converter,
               private HotKeyTarget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    // The recording device over the given capture layer (the sound server's when null), with the
    // temporary file and automatic names in recordingDir (ending in "/") instead of the recorder's.
    TForm1(std::shared_ptr<CaptureDevice> capture, const QString& recordingDir, QWidget* parent = nullptr);
    ~TForm1() override;

    // Creation event: the entry calls it right after construction, through Guarded().
    void FormCreate();
    // Close event: runs before the window closes; the close always proceeds.
    void FormClose();

    // The dialogs the toolbar and the Options menu show modally.
    void SetOptionDialogs(QDialog* general, QDialog* audio, QDialog* keyboard);
    void SetAboutBox(QDialog* about);
    // The recording state, as the hotkeys read it.
    bool IsRecording() const override;
    bool IsPaused() const override;
    // Stop was pressed and the recording is still being finished (Save dialog, conversion), or a
    // recording is being started (a box about its temporary file may be up): hotkeys are ignored,
    // so that neither runs halfway through the other.
    bool IsFinishing() const override;
    const RecordingControl& Recording() const { return *recording_; }
    // The last finished recording's output file.
    const QString& OutputPath() const;

    // Toolbar: ToolButton4 is the separator.
    QWidget* ToolBar1;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    QToolButton* ToolButton3;
    QWidget* ToolButton4;
    QToolButton* ToolButton5;
    QToolButton* ToolButton6;
    QToolButton* ToolButton7;
    // The toolbar's 32 x 32 images: 0 Stop, 1 Pause, 2 Record, 3 General, 4 Audio, 5 Keyboard.
    QList<QPixmap> ImageList1;

    QScrollArea* ScrollBox1;
    QLabel* Image1;
    QLabel* Label1;
    QWidget* MediaPlayer1;  // where the recording device sits; never shown
    LevelStrip* Panel1;

    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* Recorder1;
    QAction* Pause1;
    QAction* Stop1;
    QAction* N1;
    QAction* Exit1;
    QMenu* Options1;
    QAction* GeneralOptions1;
    QAction* N5;
    QAction* AudioOptions1;
    QAction* N6;
    QAction* KeybordOptions1;
    QMenu* Help1;
    QAction* Submitquestionbug1;
    QAction* N3;
    QAction* LarkspurWebSite1;
    QAction* KestrelOtherSoftware1;
    QAction* N4;
    QAction* About1;

    TTimer* Timer1;
    DeferredSaveDialog SaveDialog1;

    // Name of the MP3 file the converter writes; set just before each conversion, and where an
    // MP3 encoded while recording is put.
    QString Mp3Path;

public slots:
    void ToolButton1Click();
    void ToolButton2Click();
    void ToolButton3Click();
    void Timer1Timer();
    void SaveDialog1TypeChange();
    void ToolButton5Click();
    void ToolButton6Click();
    void ToolButton7Click();
    void Exit1Click();
    void Submitquestionbug1Click();
    void LarkspurWebSite1Click();
    void KestrelOtherSoftware1Click();
    void About1Click();

protected:
    void showEvent(QShowEvent* event) override;
    // The level meter reads again when the window comes back on screen.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildToolBar(QWidget* client);
    void BuildPicture(QWidget* client);
    void BuildMenu();
    QFileDialog* MakeSaveDialog();
    void SetMenusEnabled(bool enabled) override;
    // The rest of what the recording changes and reads on the window.
    void SetButtonsEnabled(bool record, bool pause, bool stop, bool options) override;
    QString Caption() const override { return windowTitle(); }
    void SetCaption(const QString& caption) override { setWindowTitle(caption); }
    void SetTimerEnabled(bool enabled) override;
    void ShowState(RecordingState state, const std::shared_ptr<LevelTap>& levels) override;
    int TimerTag() const override { return Timer1->Tag; }
    void SetTimerTag(int tag) override { Timer1->Tag = tag; }
    // Read from the Audio and General options at the moment of use; without them, each list's
    // first entry, WAV, automatic naming, no playing.
    int SampleRateIndex() const override;
    int SampleSizeIndex() const override;
    int TrackIndex() const override;
    bool SaveToMp3() const override;
    bool AskForFileName() const override;
    bool PlayAfterRecording() const override;
    int FilterIndex() const override;
    std::optional<QString> Ask(const QString& preset) override;
    void SetMp3Path(const QString& mp3Path) override { Mp3Path = mp3Path; }
    bool Convert(const QString& wavPath) override;
    static void ShowModal(QDialog* dialog);
    // What a hotkey clicks: the buttons' handlers, run even while a button is disabled.
    void ClickRecord() override { ToolButton1Click(); }
    void ClickPause() override { ToolButton2Click(); }
    void ClickStop() override { ToolButton3Click(); }

    QDialog* generalOptions_ = nullptr;
    QDialog* audioOptions_ = nullptr;
    QDialog* keyOptions_ = nullptr;
    QDialog* aboutBox_ = nullptr;
    bool centred_ = false;

    std::unique_ptr<TMediaPlayer> player_;  // the recording device; MediaPlayer1 marks its place
    const QString recordingDir_;  // where the Save dialog starts
    std::unique_ptr<Finisher> finisher_;
    std::unique_ptr<RecordingControl> recording_;
    LevelPresenter* levels_;  // the bottom strip's meter
    std::unique_ptr<HookMessageFilter> hookFilter_;  // WM_HOOKKEY to HookKeyMessage
};

}  // namespace larkspur
