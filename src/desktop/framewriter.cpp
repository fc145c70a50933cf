#include "framewriter.h"

#include "platform/videoframes.h"

#include <QBuffer>
#include <QImageWriter>
#include <QSaveFile>
#include <cmath>

namespace lumivale::framewriter {

Error encodeError()
{
    return Error(QStringLiteral("WallpaperManager"), 1,
                 QStringLiteral("Failed to encode frozen wallpaper frame"));
}

Result<std::optional<double>> loadDuration(const QString &videoPath)
{
    return videoframes::loadDuration(QUrl::fromLocalFile(videoPath));
}

Result<QImage> decodeFrame(const QString &videoPath, double seconds, const QSize &screenSize)
{
    videoframes::FrameRequest request;
    request.seconds = seconds;
    request.pick = videoframes::Pick::ShownAt;
    request.boundingSize = QSizeF(screenSize);
    request.fit = videoframes::Fit::Cover;
    return videoframes::decodeFrame(QUrl::fromLocalFile(videoPath), request);
}

Result<> writeJpeg(const QImage &image, const QString &destination)
{
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(&encoded, "jpeg");
    writer.setQuality(kJpegQuality);
    if (image.isNull() || !writer.write(image) || encoded.data().isEmpty())
        return failure(encodeError());

    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded.data()) != encoded.size() ||
        !file.commit()) {
        return failure(
            QStringLiteral("FileSystem"), int(file.error()),
            QStringLiteral("Cannot write \"%1\": %2").arg(destination, file.errorString()));
    }
    return {};
}

Result<> writeFrame(const QUrl &videoFile, double seconds, const QUrl &destination,
                    const QSize &screenSize)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        seconds = kFallbackFrameSeconds;
    return decodeFrame(videoFile.toLocalFile(), seconds, screenSize)
        .and_then([&](const QImage &frame) { return writeJpeg(frame, destination.toLocalFile()); });
}

} // namespace lumivale::framewriter
