#include "platform/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <iterator>

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
        for (const Mixer& m : kMixers) {
            const QString path = QStandardPaths::findExecutable(QString::fromLatin1(m.program));
            if (!path.isEmpty() && QProcess::startDetached(path, m.args)) return;
        }
    }

    bool HasVolumeControl() const override {
        return std::any_of(std::begin(kMixers), std::end(kMixers), [](const Mixer& m) {
            return !QStandardPaths::findExecutable(QString::fromLatin1(m.program)).isEmpty();
        });
    }

private:
    // pavucontrol opens on its recording tab; otherwise the first mixer installed.
    struct Mixer {
        const char* program;
        QStringList args;
    };
    inline static const Mixer kMixers[] = {
        {"pavucontrol", {"--tab=2"}},
        {"pavucontrol-qt", {"--tab=2"}},
        {"gnome-control-center", {"sound"}},
        {"kmix", {}},
    };
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
