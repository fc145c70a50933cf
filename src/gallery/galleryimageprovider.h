#pragma once

#include <QQuickImageProvider>

namespace lumivale {

// The gallery's drawn pictures, made once per size and kept by the scene
// graph's image cache, so no effect runs per frame:
//
// - "icon/<name>/<colour>": one of our SVG glyphs (resources/icons), drawn
//   black, filled with the colour ("#aarrggbb" or "#rrggbb") at the requested
//   size;
// - "shadow/<corner radius>/<blur radius>/<opacity>": a black rounded
//   rectangle's soft shadow for a nine-slice BorderImage; the blur radius
//   plus the corner radius is the border to give it on every side;
// - "corner/<radius>/<colour>": the outside of a rounded corner (top left;
//   mirror it for the others) in the colour behind a card, laid over the
//   card's square corner so the card looks rounded without a mask.
//
// Unknown names give a null image. Any thread (the scene's image loader).
class GalleryImageProvider : public QQuickImageProvider
{
public:
    static constexpr char kName[] = "gallery";

    GalleryImageProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    static QImage icon(const QString &name, const QColor &color, const QSize &size);
    static QImage shadow(int cornerRadius, int blurRadius, qreal opacity);
    static QImage corner(int radius, const QColor &color);
};

} // namespace lumivale
