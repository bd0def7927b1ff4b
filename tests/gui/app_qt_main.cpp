// GoogleTest entry for tests that drive widgets: one QApplication for the whole binary.
#include <QApplication>
#include <QSettings>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // As the program does: Qt's file dialogs write no history into the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
