// The floor for the start-up benchmark: a bare Qt Widgets window with the main window's size and
// a menu bar, on the same platform plugin. No Qt program maps a window sooner or holds less.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QMainWindow window;
    for (const char* title : {"&File", "&Option", "&Help"}) window.menuBar()->addMenu(QString::fromLatin1(title));
    auto* client = new QWidget(&window);
    client->setFixedSize(392, 333);
    window.setCentralWidget(client);
    window.show();
    return QApplication::exec();
}
