#pragma once
#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QTimer>

class QAction;
class QDialog;
class QFileDialog;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QToolButton;

namespace larkspur {

// A timer with the integer tag the recorder keeps its blink phase in.
class TTimer : public QTimer {
    Q_OBJECT
public:
    using QTimer::QTimer;
    int Tag = 0;
};

// The main window: menu bar, toolbar, title picture with the status line, and the bottom strip.
// Every component carries its name as object name.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    // Creation event: the entry calls it right after construction, through Guarded().
    void FormCreate();
    // Close event: runs before the window closes; the close always proceeds.
    void FormClose();

    // The dialogs the toolbar and the Options menu show modally.
    void SetOptionDialogs(QDialog* general, QDialog* audio, QDialog* keyboard);
    void SetAboutBox(QDialog* about);

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
    QLabel* Panel1;

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
    QFileDialog* SaveDialog1;

    // Name of the MP3 file the converter writes; set just before each conversion.
    QString Mp3Path;

public slots:
    void ToolButton1Click();
    void ToolButton2Click();
    void ToolButton3Click();
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
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildToolBar(QWidget* client);
    void BuildPicture(QWidget* client);
    void BuildMenu();
    void SetMenusEnabled(bool enabled);
    static void ShowModal(QDialog* dialog);

    QDialog* generalOptions_ = nullptr;
    QDialog* audioOptions_ = nullptr;
    QDialog* keyOptions_ = nullptr;
    QDialog* aboutBox_ = nullptr;
    bool centred_ = false;
};

}  // namespace larkspur
