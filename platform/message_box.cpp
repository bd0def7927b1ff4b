#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace larkspur {
namespace {

MessageBoxSink& Sink() {
    static MessageBoxSink sink;
    return sink;
}

QString& Title() {
    static QString title = QStringLiteral("Larkspur");
    return title;
}

QMessageBox::Icon ToQt(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Error: return QMessageBox::Critical;
        case BoxIcon::Information: return QMessageBox::Information;
        case BoxIcon::Warning: return QMessageBox::Warning;
        case BoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void ShowMessageBox(const QString& caption, const QString& text, BoxIcon icon) {
    if (Sink()) {
        Sink()({caption, text, icon});
        return;
    }
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void ShowPlainMessage(const QString& text) { ShowMessageBox(ApplicationTitle(), text, BoxIcon::None); }

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    MessageBoxSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

QString ApplicationTitle() { return Title(); }

void SetApplicationTitle(const QString& title) {
    Title() = title;
    // The task-bar text is the main window's icon text (_NET_WM_ICON_NAME on X11).
    if (qApp) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("Form1")) w->setWindowIconText(title);
        }
    }
}

}  // namespace larkspur
