#include "platform/artwork.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
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

QPixmap RenderArtwork(const QString& path, QSize size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    // Parsing and painting an SVG costs milliseconds at every start; the sizes the windows use
    // are rendered at build time for the common ratios.
    if (path.startsWith(QLatin1String(":/larkspur/")) && (ratio == 1 || ratio == 2)) {
        QPixmap raster(QStringLiteral(":/larkspur/raster/%1-%2x%3@%4x.png")
                           .arg(QFileInfo(path).completeBaseName())
                           .arg(size.width())
                           .arg(size.height())
                           .arg(int(ratio)));
        if (raster.size() == size * ratio) {
            raster.setDevicePixelRatio(ratio);
            return raster;
        }
    }
    return RenderArtworkAt(path, size, ratio);
}

QIcon ProgramIcon() {
    // Pixel sizes, as the window manager takes them; an SVG icon would be rendered at each at
    // the first show.
    QIcon icon;
    for (int size : {16, 32, 64, 128}) {
        QPixmap pixmap(QStringLiteral(":/larkspur/raster/larkspur-%1x%1@1x.png").arg(size));
        icon.addPixmap(pixmap.isNull() ? RenderArtworkAt(QStringLiteral(":/larkspur/larkspur.svg"), {size, size}, 1)
                                       : pixmap);
    }
    return icon;
}

}  // namespace larkspur
