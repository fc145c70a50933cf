#include "galleryimageprovider.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace lumivale {
namespace {

// Three box blurs of the alpha channel approximate a Gaussian of `radius`.
void blurAlpha(QImage &image, int radius)
{
    if (radius <= 0)
        return;
    const int width = image.width();
    const int height = image.height();
    const int box = std::max(1, int(std::lround(radius / 1.7)));
    std::vector<int> line(size_t(std::max(width, height)));
    std::vector<int> out(line.size());
    auto alphaAt = [&](int x, int y) -> uchar & { return image.scanLine(y)[x * 4 + 3]; };
    const auto pass = [&](int length, auto read, auto write) {
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = read(i);
        int sum = 0;
        for (int i = -box; i <= box; ++i)
            sum += line[size_t(std::clamp(i, 0, length - 1))];
        for (int i = 0; i < length; ++i) {
            out[size_t(i)] = sum / (2 * box + 1);
            sum += line[size_t(std::min(i + box + 1, length - 1))] -
                   line[size_t(std::max(i - box, 0))];
        }
        for (int i = 0; i < length; ++i)
            write(i, out[size_t(i)]);
    };
    for (int round = 0; round < 3; ++round) {
        for (int y = 0; y < height; ++y)
            pass(
                width, [&](int x) { return int(alphaAt(x, y)); },
                [&](int x, int v) { alphaAt(x, y) = uchar(v); });
        for (int x = 0; x < width; ++x)
            pass(
                height, [&](int y) { return int(alphaAt(x, y)); },
                [&](int y, int v) { alphaAt(x, y) = uchar(v); });
    }
}

} // namespace

GalleryImageProvider::GalleryImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{}

QImage GalleryImageProvider::requestImage(const QString &id, QSize *size,
                                          const QSize &requestedSize)
{
    const QStringList parts = id.split(QLatin1Char('/'));
    QImage image;
    if (parts.size() == 3 && parts[0] == QLatin1String("icon")) {
        const QSize wanted = requestedSize.isValid() ? requestedSize : QSize(16, 16);
        image = icon(parts[1], QColor(parts[2]), wanted);
    } else if (parts.size() == 4 && parts[0] == QLatin1String("shadow")) {
        image = shadow(parts[1].toInt(), parts[2].toInt(), parts[3].toDouble());
    } else if (parts.size() == 3 && parts[0] == QLatin1String("corner")) {
        image = corner(parts[1].toInt(), QColor(parts[2]));
    }
    if (size)
        *size = image.size();
    return image;
}

QImage GalleryImageProvider::icon(const QString &name, const QColor &color, const QSize &size)
{
    QFile file(QStringLiteral(":/lumivale/icons/%1.svg").arg(name));
    if (!color.isValid() || size.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    QBuffer buffer(&svg);
    QImageReader reader(&buffer, "svg");
    reader.setScaledSize(size);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

QImage GalleryImageProvider::shadow(int cornerRadius, int blurRadius, qreal opacity)
{
    cornerRadius = std::clamp(cornerRadius, 0, 256);
    blurRadius = std::clamp(blurRadius, 0, 128);
    // The shape's straight middle is one pixel: the nine-slice stretches it.
    const int border = cornerRadius + blurRadius;
    const int side = 2 * border + 1;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, int(std::clamp(opacity, 0.0, 1.0) * 255)));
        painter.drawRoundedRect(
            QRectF(blurRadius, blurRadius, side - 2 * blurRadius, side - 2 * blurRadius),
            cornerRadius, cornerRadius);
    }
    blurAlpha(image, blurRadius);
    return image;
}

QImage GalleryImageProvider::corner(int radius, const QColor &color)
{
    radius = std::clamp(radius, 1, 256);
    QImage image(radius, radius, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outside;
    outside.addRect(0, 0, radius, radius);
    QPainterPath inside;
    inside.addEllipse(QRectF(0, 0, 2.0 * radius, 2.0 * radius));
    painter.fillPath(outside.subtracted(inside), color);
    return image;
}

} // namespace lumivale
