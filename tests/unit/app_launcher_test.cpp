// The launcher the build prepares for desktops: the .desktop entry starts the built program and
// matches its window class, and the icon exists in every hicolor size.
#include "tests/gui/app_qt_print.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QTextStream>
#include <gtest/gtest.h>

namespace {

const QString kShare = QStringLiteral(LARKSPUR_SHARE_DIR);

TEST(Launcher, DesktopEntryStartsTheBuiltProgram) {
    QFile file(kShare + "/applications/org.larkspur.Larkspur.desktop");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream in(&file);
    ASSERT_EQ(in.readLine(), "[Desktop Entry]");
    QMap<QString, QString> keys;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty() || line.startsWith('#')) continue;
        ASSERT_FALSE(line.startsWith('[')) << "one group only";
        const qsizetype eq = line.indexOf('=');
        ASSERT_GT(eq, 0) << line.toStdString();
        ASSERT_FALSE(keys.contains(line.left(eq))) << "duplicate key " << line.toStdString();
        keys[line.left(eq)] = line.mid(eq + 1);
    }
    EXPECT_EQ(keys["Type"], "Application");
    EXPECT_EQ(keys["Name"], "Larkspur");
    EXPECT_EQ(keys["Icon"], "larkspur");
    EXPECT_EQ(keys["Terminal"], "false");
    EXPECT_EQ(keys["StartupWMClass"], "Kestrel Audio Recorder");
    EXPECT_TRUE(keys["Categories"].endsWith(';'));

    const QString exec = keys["Exec"];
    ASSERT_TRUE(exec.startsWith('"') && exec.endsWith('"')) << exec.toStdString();
    const QFileInfo program(exec.mid(1, exec.size() - 2));
    EXPECT_EQ(program.canonicalFilePath(),
              QFileInfo(QString::fromLocal8Bit(qgetenv("LARKSPUR_OUT_DIR")) + "/larkspur").canonicalFilePath());
    EXPECT_TRUE(program.isExecutable());
}

TEST(Launcher, IconInEveryHicolorSize) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        QImage icon(QStringLiteral("%1/icons/hicolor/%2x%2/apps/larkspur.png").arg(kShare).arg(size));
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.size(), QSize(size, size));
        EXPECT_TRUE(icon.hasAlphaChannel());
        // A rounded tile: clear corners, an opaque middle.
        EXPECT_EQ(icon.pixelColor(0, 0).alpha(), 0);
        EXPECT_EQ(icon.pixelColor(size / 2, size / 2).alpha(), 255);
    }
    EXPECT_TRUE(QFileInfo::exists(kShare + "/icons/hicolor/scalable/apps/larkspur.svg"));
}

}  // namespace
