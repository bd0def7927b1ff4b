#pragma once
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace larkspur {

// Vector artwork (an SVG file or resource) as a pixmap of the given size in device-independent
// pixels, sharp at the application's device pixel ratio. Artwork of ":/larkspur/" rendered at
// build time for that size and ratio is taken instead of rendered. A missing or broken file
// gives a transparent pixmap.
QPixmap RenderArtwork(const QString& path, QSize size);

// Renders the SVG itself at an integer device pixel ratio.
QPixmap RenderArtworkAt(const QString& path, QSize size, qreal ratio);

// Artwork rendered at build time: the raw premultiplied ARGB pixels, row after row, of an SVG at
// a size and ratio, kept uncompressed in the resources under ":/larkspur/raster/" and this name.
QString RasterName(const QString& svgPath, QSize size, int ratio);
// That rendering on the resource's bytes, or a null image where the build made none.
QImage RasterisedArtwork(const QString& svgPath, QSize size, int ratio);

// The program's icon at the sizes a window manager is handed.
QIcon ProgramIcon();

}  // namespace larkspur
