// Program entry: creates the five windows once, in their fixed order, and runs the event loop
// until the main window closes.
#include "app/main_form.h"
#include "config/audio_option_form.h"
#include "config/general_option_form.h"
#include "help/about_box.h"
#include "hotkeys/key_option_form.h"
#include "platform/artwork.h"
#include "platform/error_box.h"
#include "platform/exe_dir.h"
#include "platform/message_box.h"
#include "platform/recorder_folders.h"

#include <QApplication>
#include <QFileDialog>
#include <QSettings>
#include <csignal>
#include <memory>

int main(int argc, char** argv) {
    using namespace larkspur;

    // Module initialisation: the executable's directory is fixed before anything else runs.
    ExeDir();
    // A write past the file-size limit fails with EFBIG, which every writer reports, instead of
    // killing the program with a recording in progress.
    std::signal(SIGXFSZ, SIG_IGN);

    // The hotkey watch needs an X window; on Wayland desktops the program runs under XWayland.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");

    // The program reads no command-line arguments: Qt gets only its name, so no toolkit option
    // (-display, -platform...) is taken from the command line.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("larkspur"), nullptr};
    QApplication app(qtArgc, qtArgv);
    // Qt's file dialogs keep their history in Qt's user settings; this program keeps nothing on
    // disk but its INI files and recordings, so those settings go where nothing can be written.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    // The X11 class of the program's windows (WM_CLASS).
    QApplication::setApplicationName(QStringLiteral("Kestrel Audio Recorder"));
    QApplication::setWindowIcon(ProgramIcon());
    if (ExeDir().empty()) {
        ShowPlainMessage(QStringLiteral("Larkspur cannot tell which folder it was started from "
                                        "(/proc/self/exe cannot be read), so it cannot find the "
                                        "files that belong beside it."));
        return 1;
    }
    Folders();

    try {
        // Each window is built, then its creation event runs; an error there is shown and the
        // window stays created.
        auto Form1 = std::make_unique<TForm1>();
        Guarded([&] { Form1->FormCreate(); });

        auto AboutBox = std::make_unique<TAboutBox>();
        Guarded([&] { AboutBox->FormCreate(); });

        // OK in the Audio options gives the Save dialog its file type: 1 "*.wav", 2 "*.mp3".
        auto AudioOptionForm = std::make_unique<TAudioOptionForm>(
            [form = Form1.get()](int index) {
                form->SaveDialog1->selectNameFilter(form->SaveDialog1->nameFilters().value(index - 1));
            },
            Form1.get());
        Guarded([&] { AudioOptionForm->FormCreate(); });

        auto GeneralOptionForm = std::make_unique<TGeneralOptionForm>(Form1.get());
        Guarded([&] { GeneralOptionForm->FormCreate(); });

        auto KeyOptionForm = std::make_unique<TKeyOptionForm>(Form1.get());
        Guarded([&] { KeyOptionForm->FormCreate(); });

        Form1->SetAboutBox(AboutBox.get());
        Form1->SetOptionDialogs(GeneralOptionForm.get(), AudioOptionForm.get(), KeyOptionForm.get());

        Form1->show();
        QApplication::exec();
    } catch (...) {
        ShowCurrentException();
    }
    return 0;
}
