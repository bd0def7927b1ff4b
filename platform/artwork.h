#pragma once
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace larkspur {

// Vector artwork (an SVG file or resource) as a pixmap of the given size in device-independent
// pixels, sharp at the application's device pixel ratio. Artwork of ":/larkspur/" rendered at
// build time for that size and ratio (":/larkspur/raster/<name>-<w>x<h>@<ratio>x.png") is loaded
// instead of rendered. A missing or broken file gives a transparent pixmap.
QPixmap RenderArtwork(const QString& path, QSize size);

// Renders the SVG itself at an integer device pixel ratio.
QPixmap RenderArtworkAt(const QString& path, QSize size, qreal ratio);

// The program's icon at the sizes a window manager is handed.
QIcon ProgramIcon();

}  // namespace larkspur
