#include "platform/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace larkspur {
namespace {

class DesktopShell final : public Shell {
public:
    void Execute(const ShellRequest& request) override {
        const QUrl url = QFileInfo(request.target).isAbsolute() ? QUrl::fromLocalFile(request.target)
                                                                : QUrl(request.target);
        QDesktopServices::openUrl(url);
    }

    void StartVolumeControl() override {
        // pavucontrol opens on its recording tab; otherwise the first mixer installed.
        struct Mixer { const char* program; QStringList args; };
        const Mixer mixers[] = {
            {"pavucontrol", {"--tab=2"}},
            {"pavucontrol-qt", {"--tab=2"}},
            {"gnome-control-center", {"sound"}},
            {"kmix", {}},
        };
        for (const Mixer& m : mixers) {
            const QString path = QStandardPaths::findExecutable(QString::fromLatin1(m.program));
            if (!path.isEmpty() && QProcess::startDetached(path, m.args)) return;
        }
    }
};

Shell*& Override() {
    static Shell* shell = nullptr;
    return shell;
}

}  // namespace

Shell& TheShell() {
    static DesktopShell desktop;
    return Override() ? *Override() : desktop;
}

Shell* SetShellForTest(Shell* shell) {
    Shell* previous = Override();
    Override() = shell;
    return previous;
}

}  // namespace larkspur
