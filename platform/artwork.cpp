#include "platform/artwork.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QResource>
#include <QSvgRenderer>

namespace larkspur {

QPixmap RenderArtworkAt(const QString& path, QSize size, qreal ratio) {
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    return pixmap;
}

QString RasterName(const QString& svgPath, QSize size, int ratio) {
    return QStringLiteral("%1-%2x%3@%4x.argb")
        .arg(QFileInfo(svgPath).completeBaseName())
        .arg(size.width())
        .arg(size.height())
        .arg(ratio);
}

QImage RasterisedArtwork(const QString& svgPath, QSize size, int ratio) {
    const QResource raster(QStringLiteral(":/larkspur/raster/") + RasterName(svgPath, size, ratio));
    const QSize pixels = size * ratio;
    if (!raster.isValid() || raster.compressionAlgorithm() != QResource::NoCompression ||
        raster.size() != qint64(pixels.width()) * pixels.height() * 4)
        return {};
    // Read-only, on the resource's own bytes: nothing to decode.
    QImage image(raster.data(), pixels.width(), pixels.height(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

QPixmap RenderArtwork(const QString& path, QSize size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    // Parsing and painting an SVG, or decoding a PNG, costs milliseconds at every start; the
    // sizes the windows use are rendered at build time for the common ratios.
    if (path.startsWith(QLatin1String(":/larkspur/")) && (ratio == 1 || ratio == 2)) {
        const QImage raster = RasterisedArtwork(path, size, int(ratio));
        if (!raster.isNull()) return QPixmap::fromImage(raster);
    }
    return RenderArtworkAt(path, size, ratio);
}

QIcon ProgramIcon() {
    // Pixel sizes, as the window manager takes them; an SVG icon would be rendered at each at
    // the first show.
    const QString svg = QStringLiteral(":/larkspur/larkspur.svg");
    QIcon icon;
    for (int size : {16, 32, 64, 128}) {
        const QImage raster = RasterisedArtwork(svg, {size, size}, 1);
        icon.addPixmap(raster.isNull() ? RenderArtworkAt(svg, {size, size}, 1) : QPixmap::fromImage(raster));
    }
    return icon;
}

}  // namespace larkspur
