#include "platform/artwork.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace larkspur {

QPixmap RenderArtwork(const QString& path, QSize size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
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

}  // namespace larkspur
