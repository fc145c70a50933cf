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

std::optional<double> loadDuration(const QString &videoPath, Error &error)
{
    return videoframes::loadDuration(QUrl::fromLocalFile(videoPath), error);
}

std::optional<QImage> decodeFrame(const QString &videoPath, double seconds, Error &error,
                                  const QSize &screenSize)
{
    videoframes::FrameRequest request;
    request.seconds = seconds;
    request.pick = videoframes::Pick::ShownAt;
    request.boundingSize = QSizeF(screenSize);
    request.fit = videoframes::Fit::Cover;
    return videoframes::decodeFrame(QUrl::fromLocalFile(videoPath), request, error);
}

std::optional<Error> writeJpeg(const QImage &image, const QString &destination)
{
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(&encoded, "jpeg");
    writer.setQuality(kJpegQuality);
    if (image.isNull() || !writer.write(image) || encoded.data().isEmpty())
        return encodeError();

    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded.data()) != encoded.size() ||
        !file.commit()) {
        return Error(
            QStringLiteral("FileSystem"), int(file.error()),
            QStringLiteral("Cannot write \"%1\": %2").arg(destination, file.errorString()));
    }
    return std::nullopt;
}

std::optional<Error> writeFrame(const QUrl &videoFile, double seconds, const QUrl &destination,
                                const QSize &screenSize)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        seconds = kFallbackFrameSeconds;
    Error error;
    const std::optional<QImage> frame =
        decodeFrame(videoFile.toLocalFile(), seconds, error, screenSize);
    if (!frame)
        return error;
    return writeJpeg(*frame, destination.toLocalFile());
}

} // namespace lumivale::framewriter
