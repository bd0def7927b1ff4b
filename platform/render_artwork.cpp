// Build tool: renders vector artwork into PNG files, each at a size and device pixel ratio.
// render_artwork <svg> <png>=<width>x<height>@<ratio>...
#include "platform/artwork.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_artwork <svg> <png>=<width>x<height>@<ratio>...\n");
        return 2;
    }
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QRegularExpression spec(QStringLiteral("^(.+)=(\\d+)x(\\d+)@(\\d+)$"));
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const auto m = spec.match(arg);
        const QString file = m.captured(1);
        const QSize size(m.captured(2).toInt(), m.captured(3).toInt());
        if (!m.hasMatch() || size.isEmpty() || !QDir().mkpath(QFileInfo(file).path()) ||
            !larkspur::RenderArtworkAt(svg, size, m.captured(4).toInt()).toImage().save(file)) {
            std::fprintf(stderr, "render_artwork: cannot write %s\n", qPrintable(arg));
            return 1;
        }
    }
    return 0;
}
