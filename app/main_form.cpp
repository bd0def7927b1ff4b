#include "app/main_form.h"

#include "app/finishing.h"
#include "app/level_presenter.h"
#include "app/output_name.h"
#include "app/recording_control.h"
#include "audio/media_player.h"
#include "audio/mp3/wav2mp3.h"
#include "config/audio_option_form.h"
#include "config/general_option_form.h"
#include "help/help_commands.h"
#include "hotkeys/hook_library.h"
#include "platform/artwork.h"
#include "platform/error_box.h"
#include "platform/exe_dir.h"
#include "platform/recorder_folders.h"
#include "platform/message_box.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QFrame>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QWindow>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QToolButton>

namespace larkspur {
namespace {

constexpr int kClientWidth = 392;
constexpr int kClientHeight = 333;
constexpr int kToolBarHeight = 44;
constexpr int kPanelHeight = 17;
constexpr int kButtonWidth = 41;
constexpr int kButtonHeight = 39;
constexpr int kButtonTop = 2;  // below the toolbar's etched top edge

QFont SansSerif(int pixelSize) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

// The etched line a flat toolbar draws along its top edge, below the menu bar.
// The picture's box: the picture is larger than the box and is cut off at the right and bottom;
// neither the mouse wheel nor the arrow keys ever scroll it.
class FixedScrollBox final : public QScrollArea {
public:
    using QScrollArea::QScrollArea;

protected:
    bool viewportEvent(QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            event->ignore();
            return false;
        }
        return QScrollArea::viewportEvent(event);
    }
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
    void keyPressEvent(QKeyEvent* event) override { event->ignore(); }
    void scrollContentsBy(int, int) override {}
};

class EtchedToolBar final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override;
};

// The 8-pixel gap between button groups, with a thin etched divider.
class ToolSeparator final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override;
};

void EtchedToolBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, 1, width() - 1, 1);
}

void ToolSeparator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int x = width() / 2 - 1;
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(x, 4, x, height() - 5);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(x + 1, 4, x + 1, height() - 5);
}

}  // namespace

QFileDialog* DeferredSaveDialog::get() const {
    if (!made_) made_ = make_();
    return made_;
}

TForm1::TForm1(QWidget* parent) : TForm1(nullptr, QFile::decodeName(Folders().recordings.c_str()), parent) {}

TForm1::TForm1(std::shared_ptr<CaptureDevice> capture, const QString& recordingDir, QWidget* parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      SaveDialog1([this] { return MakeSaveDialog(); }),
      recordingDir_(recordingDir) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Larkspur"));
    setWindowIconText(ApplicationTitle());
    setFont(SansSerif(11));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    ImageList1 = {
        RenderArtwork(QStringLiteral(":/larkspur/toolbar/stop.svg"), {32, 32}),
        RenderArtwork(QStringLiteral(":/larkspur/toolbar/pause.svg"), {32, 32}),
        RenderArtwork(QStringLiteral(":/larkspur/toolbar/record.svg"), {32, 32}),
        RenderArtwork(QStringLiteral(":/larkspur/toolbar/general.svg"), {32, 32}),
        RenderArtwork(QStringLiteral(":/larkspur/toolbar/audio.svg"), {32, 32}),
        RenderArtwork(QStringLiteral(":/larkspur/toolbar/keyboard.svg"), {32, 32}),
    };

    BuildToolBar(client);
    BuildPicture(client);

    Panel1 = new LevelStrip(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    BuildMenu();

    Timer1 = new TTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    // A coarse timer may fire up to 25 ms early, before the second it is meant to show.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    player_ = capture ? std::make_unique<TMediaPlayer>(std::move(capture)) : std::make_unique<TMediaPlayer>();
    levels_ = new LevelPresenter(*Panel1, *this, [this] { return player_->SourceDescription(); });
    RecorderView& view = *this;
    const RecorderSettings& settings = *this;
    SaveNameDialog& dialog = *this;
    Mp3Converter& converter = *this;
    finisher_ = std::make_unique<Finisher>(*player_, settings, dialog, converter, this, recordingDir);
    recording_ = std::make_unique<RecordingControl>(view, *player_, settings, *finisher_, recordingDir);

    setFixedSize(sizeHint());
}

QFileDialog* TForm1::MakeSaveDialog() {
    auto* dialog = new QFileDialog(this);
    dialog->setObjectName(QStringLiteral("SaveDialog1"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({QStringLiteral("*.wav"), QStringLiteral("*.mp3")});
    dialog->selectNameFilter(QStringLiteral("*.mp3"));
    dialog->setSizeGripEnabled(true);
    dialog->setDirectory(recordingDir_);
    connect(dialog, &QFileDialog::filterSelected, this, &TForm1::SaveDialog1TypeChange);

    return dialog;
}

void TForm1::BuildToolBar(QWidget* client) {
    ToolBar1 = new EtchedToolBar(client);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setGeometry(0, 0, kClientWidth, kToolBarHeight);

    struct Button {
        QToolButton** member;
        const char* name;
        int left;
        int imageIndex;
        void (TForm1::*click)();
        const char* tip;
    };
    const Button buttons[] = {
        {&ToolButton1, "ToolButton1", 0, 2, &TForm1::ToolButton1Click, "Record"},
        {&ToolButton2, "ToolButton2", 41, 1, &TForm1::ToolButton2Click, "Pause"},
        {&ToolButton3, "ToolButton3", 82, 0, &TForm1::ToolButton3Click, "Stop"},
        {&ToolButton5, "ToolButton5", 131, 3, &TForm1::ToolButton5Click, "General Options"},
        {&ToolButton6, "ToolButton6", 172, 4, &TForm1::ToolButton6Click, "Audio Options"},
        {&ToolButton7, "ToolButton7", 213, 5, &TForm1::ToolButton7Click, "Keyboard Options"},
    };
    for (const Button& b : buttons) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setGeometry(b.left, kButtonTop, kButtonWidth, kButtonHeight);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setIconSize({32, 32});
        button->setIcon(QIcon(ImageList1.at(b.imageIndex)));
        button->setProperty("ImageIndex", b.imageIndex);
        button->setToolTip(QString::fromLatin1(b.tip));
        // What assistive technology reads and finds a button by: it shows no text.
        button->setAccessibleName(button->toolTip());
        connect(button, &QToolButton::clicked, this, b.click);
        *b.member = button;
    }

    ToolButton4 = new ToolSeparator(ToolBar1);
    ToolButton4->setObjectName(QStringLiteral("ToolButton4"));
    ToolButton4->setGeometry(123, kButtonTop, 8, kButtonHeight);
    ToolButton4->setProperty("ImageIndex", -1);
}

void TForm1::BuildPicture(QWidget* client) {
    ScrollBox1 = new FixedScrollBox(client);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setGeometry(0, kToolBarHeight, kClientWidth, kClientHeight - kToolBarHeight - kPanelHeight);
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* contents = new QWidget;
    contents->setObjectName(QStringLiteral("ScrollBox1Contents"));
    contents->setFixedSize(400, 280);

    Image1 = new QLabel(contents);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(RenderArtwork(QStringLiteral(":/larkspur/title.svg"), {400, 280}));
    Image1->setGeometry(0, 0, 400, 280);

    Label1 = new QLabel(contents);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 8, 353, 25);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setAttribute(Qt::WA_TranslucentBackground);
    Label1->setFont(SansSerif(13));
    QPalette white = Label1->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    Label1->setPalette(white);

    MediaPlayer1 = new QWidget(contents);
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
    MediaPlayer1->setGeometry(48, 224, 253, 30);
    MediaPlayer1->hide();

    ScrollBox1->setWidget(contents);
}

void TForm1::BuildMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setNativeMenuBar(false);

    auto item = [this](QMenu* menu, const char* name, const char* caption, void (TForm1::*handler)()) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto separator = [](QMenu* menu, const char* name) {
        QAction* action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    File1 = MainMenu1->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Recorder1 = item(File1, "Recorder1", "Record", &TForm1::ToolButton1Click);
    Pause1 = item(File1, "Pause1", "Pause", &TForm1::ToolButton2Click);
    Stop1 = item(File1, "Stop1", "Stop", &TForm1::ToolButton3Click);
    N1 = separator(File1, "N1");
    Exit1 = item(File1, "Exit1", "Exit", &TForm1::Exit1Click);

    Options1 = MainMenu1->addMenu(QStringLiteral("Options"));
    Options1->setObjectName(QStringLiteral("Options1"));
    GeneralOptions1 = item(Options1, "GeneralOptions1", "General Options", &TForm1::ToolButton5Click);
    N5 = separator(Options1, "N5");
    AudioOptions1 = item(Options1, "AudioOptions1", "Audio Options", &TForm1::ToolButton6Click);
    N6 = separator(Options1, "N6");
    KeybordOptions1 = item(Options1, "KeybordOptions1", "Keyboard Options", &TForm1::ToolButton7Click);

    Help1 = MainMenu1->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Submitquestionbug1 = item(Help1, "Submitquestionbug1", "Submit Question/Bug", &TForm1::Submitquestionbug1Click);
    N3 = separator(Help1, "N3");
    LarkspurWebSite1 = item(Help1, "LarkspurWebSite1", "Larkspur Website", &TForm1::LarkspurWebSite1Click);
    KestrelOtherSoftware1 =
        item(Help1, "KestrelOtherSoftware1", "Kestrel Other Software", &TForm1::KestrelOtherSoftware1Click);
    N4 = separator(Help1, "N4");
    About1 = item(Help1, "About1", "About", &TForm1::About1Click);
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    Label1->setText(QStringLiteral("Welcome to use our software"));
    // The library's reports reach HookKeyMessage in every event loop, a modal dialog's too.
    const WId window = X11WindowId(*this);
    hookFilter_ = std::make_unique<HookMessageFilter>(
        window, [this](const THookKeyMessage& message) { HookKeyMessage(*this, message); });
    InstallHook(window, ExecutableDirectory());
}

void TForm1::FormClose() { UninstallHook(); }

void TForm1::SetOptionDialogs(QDialog* general, QDialog* audio, QDialog* keyboard) {
    generalOptions_ = general;
    audioOptions_ = audio;
    keyOptions_ = keyboard;
}

void TForm1::SetAboutBox(QDialog* about) { aboutBox_ = about; }

bool TForm1::IsRecording() const { return recording_->IsRecording(); }
bool TForm1::IsPaused() const { return recording_->IsPaused(); }
bool TForm1::IsFinishing() const { return recording_->IsFinishing() || recording_->IsStarting(); }
const QString& TForm1::OutputPath() const { return finisher_->OutputPath(); }

void TForm1::SetMenusEnabled(bool enabled) {
    for (QMenu* menu : {File1, Options1, Help1}) menu->setEnabled(enabled);
}

void TForm1::SetButtonsEnabled(bool record, bool pause, bool stop, bool options) {
    ToolButton1->setEnabled(record);
    ToolButton2->setEnabled(pause);
    ToolButton3->setEnabled(stop);
    for (QToolButton* b : {ToolButton5, ToolButton6, ToolButton7}) b->setEnabled(options);
}

void TForm1::SetTimerEnabled(bool enabled) {
    if (enabled) return Timer1->start();
    Timer1->stop();
}

void TForm1::ShowState(RecordingState state, const std::shared_ptr<LevelTap>& levels) { levels_->Show(state, levels); }

int TForm1::SampleRateIndex() const {
    const auto* audio = qobject_cast<const TAudioOptionForm*>(audioOptions_);
    return audio ? audio->SampleRateIndex() : 0;
}

int TForm1::SampleSizeIndex() const {
    const auto* audio = qobject_cast<const TAudioOptionForm*>(audioOptions_);
    return audio ? audio->SampleSizeIndex() : 0;
}

int TForm1::TrackIndex() const {
    const auto* audio = qobject_cast<const TAudioOptionForm*>(audioOptions_);
    return audio ? audio->TrackIndex() : 0;
}

bool TForm1::SaveToMp3() const {
    const auto* audio = qobject_cast<const TAudioOptionForm*>(audioOptions_);
    return audio && audio->SaveToMp3();
}

bool TForm1::AskForFileName() const {
    const auto* general = qobject_cast<const TGeneralOptionForm*>(generalOptions_);
    return general && general->AskForFileName();
}

bool TForm1::PlayAfterRecording() const {
    const auto* general = qobject_cast<const TGeneralOptionForm*>(generalOptions_);
    return general && general->PlayAfterRecording();
}

int TForm1::FilterIndex() const {
    return static_cast<int>(SaveDialog1->nameFilters().indexOf(SaveDialog1->selectedNameFilter())) + 1;
}

std::optional<QString> TForm1::Ask(const QString& preset) {
    SaveDialog1->selectFile(preset);
    for (;;) {
        if (SaveDialog1->exec() != QDialog::Accepted) return std::nullopt;
        const QString name = SaveDialog1->selectedFiles().value(0);
        // A pattern such as the preset "*.mp3" names no file: the dialog stays open on it
        // instead of creating a file called "*.mp3".
        const QString file = QFileInfo(name).fileName();
        if (!file.contains(QLatin1Char('*')) && !file.contains(QLatin1Char('?'))) return name;
        SaveDialog1->selectFile(file);
    }
}

bool TForm1::Convert(const QString& wavPath) { return Wav2Mp3(this, wavPath, Mp3Path); }

void TForm1::ShowModal(QDialog* dialog) {
    if (dialog) dialog->exec();
}

void TForm1::ToolButton1Click() {
    Guarded([&] { recording_->Record(); });
}

void TForm1::ToolButton2Click() {
    Guarded([&] { recording_->Pause(); });
}

void TForm1::ToolButton3Click() {
    Guarded([&] { recording_->Stop(); });
}

void TForm1::Timer1Timer() {
    Guarded([&] { recording_->Tick(); });
    levels_->Tick();
}

// The user picked another file type: the extension in the file-name box follows it.
void TForm1::SaveDialog1TypeChange() {
    Guarded([&] {
        auto* edit = SaveDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return;
        if (const auto text = TypeChangedFileName(edit->text(), FilterIndex())) edit->setText(*text);
    });
}

void TForm1::ToolButton5Click() {
    Guarded([&] { ShowModal(generalOptions_); });
}

void TForm1::ToolButton6Click() {
    Guarded([&] { ShowModal(audioOptions_); });
}

void TForm1::ToolButton7Click() {
    Guarded([&] { ShowModal(keyOptions_); });
}

void TForm1::Exit1Click() {
    Guarded([&] { close(); });
}

void TForm1::Submitquestionbug1Click() {
    Guarded([&] { SubmitQuestionBug(); });
}

void TForm1::LarkspurWebSite1Click() {
    Guarded([&] { OpenProductWebSite(this); });
}

void TForm1::KestrelOtherSoftware1Click() {
    Guarded([&] { OpenOtherSoftwarePage(this); });
}

void TForm1::About1Click() {
    Guarded([&] { ShowModal(aboutBox_); });
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (windowHandle()) windowHandle()->installEventFilter(this);  // installed again, it is not doubled
    if (centred_) return;
    centred_ = true;
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed())
        levels_->Exposed();
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    Guarded([&] { FormClose(); });
    event->accept();
}

}  // namespace larkspur
