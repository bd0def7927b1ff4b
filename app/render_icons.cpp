// Build tool: renders the program icon into the hicolor icon theme sizes.
// render_icons <svg> <hicolor dir> <size>...
#include "platform/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: render_icons <svg> <hicolor dir> <size>...\n");
        return 2;
    }
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QString hicolor = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(hicolor).arg(size);
        const QString file = dir + QStringLiteral("/larkspur.png");
        if (size <= 0 || !QDir().mkpath(dir) ||
            !larkspur::RenderArtwork(svg, {size, size}).toImage().save(file)) {
            std::fprintf(stderr, "render_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
