#include "help/help_commands.h"

#include "platform/exe_dir.h"
#include "platform/shell.h"

namespace larkspur {

void SubmitQuestionBug() {
    TheShell().Execute({nullptr, QStringLiteral("open"),
                        QStringLiteral("mailto:") + QString::fromLatin1(kSupportMailAddress)});
}

void OpenProductWebSite(QWidget* mainWindow) {
    TheShell().Execute({mainWindow, QString(), QString::fromLatin1(kProductWebPage)});
}

void OpenOtherSoftwarePage(QWidget* mainWindow) {
    TheShell().Execute({mainWindow, QString(), QString::fromStdString(ExeDir()) + QStringLiteral("Web/ourproducts.htm")});
}

}  // namespace larkspur
