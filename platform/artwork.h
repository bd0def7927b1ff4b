#pragma once
#include <QPixmap>
#include <QSize>
#include <QString>

namespace larkspur {

// Renders vector artwork (an SVG file or resource) into a pixmap of the given size in
// device-independent pixels, sharp at the application's device pixel ratio. A missing or broken
// file gives a transparent pixmap.
QPixmap RenderArtwork(const QString& path, QSize size);

}  // namespace larkspur
