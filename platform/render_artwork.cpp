// Build tool: renders vector artwork into files, each at a size and device pixel ratio: PNG, or
// the raw pixels the program takes from its resources where the name ends in ".argb".
// render_artwork <svg> <file>=<width>x<height>@<ratio>...
#include "platform/artwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <cstdio>

namespace {

bool Write(const QImage& image, const QString& file) {
    if (!file.endsWith(QLatin1String(".argb"))) return image.save(file);
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    for (int y = 0; y < pixels.height(); ++y) {
        const qint64 row = qint64(pixels.width()) * 4;
        if (out.write(reinterpret_cast<const char*>(pixels.constScanLine(y)), row) != row) return false;
    }
    return out.flush();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_artwork <svg> <file>=<width>x<height>@<ratio>...\n");
        return 2;
    }
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QRegularExpression request(QStringLiteral("^(.+)=(\\d+)x(\\d+)@(\\d+)$"));
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const auto m = request.match(arg);
        const QString file = m.captured(1);
        const QSize size(m.captured(2).toInt(), m.captured(3).toInt());
        if (!m.hasMatch() || size.isEmpty() || !QDir().mkpath(QFileInfo(file).path()) ||
            !Write(larkspur::RenderArtworkAt(svg, size, m.captured(4).toInt()).toImage(), file)) {
            std::fprintf(stderr, "render_artwork: cannot write %s\n", qPrintable(arg));
            return 1;
        }
    }
    return 0;
}
