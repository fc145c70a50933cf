#include "stills.h"

#include "framewriter.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cmath>

namespace lumivale::stills {

Result<QString> supportDirectory()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return failure(QStringLiteral("FileSystem"), 1,
                       QStringLiteral("The user's data folder cannot be found"));
    const QString folder = base + u'/' + kFolderName;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return failure(QStringLiteral("FileSystem"), 2,
                       QStringLiteral("Cannot create the folder \"%1\"").arg(folder));
    return folder;
}

QString sanitizedWallpaperID(const QString &wallpaperID)
{
    QStringList pieces;
    QString piece;
    // Code points, not UTF-16 units, so letters outside the basic plane stay.
    const QList<uint> codePoints = wallpaperID.toUcs4();
    for (const uint codePoint : codePoints) {
        const auto character = char32_t(codePoint);
        if (QChar::isLetterOrNumber(character) || QChar::isMark(character)) {
            piece += QString::fromUcs4(&character, 1);
        } else if (!piece.isEmpty()) {
            pieces.append(piece);
            piece.clear();
        }
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    return pieces.join(u'-');
}

Result<QUrl> lockScreenFallbackURL(const QString &wallpaperID)
{
    const QString sanitized = sanitizedWallpaperID(wallpaperID);
    const QString name = sanitized.isEmpty()
                             ? QStringLiteral("LockScreenFallback.jpg")
                             : QStringLiteral("LockScreenFallback-%1.jpg").arg(sanitized);
    return supportDirectory().transform(
        [&](const QString &folder) { return QUrl::fromLocalFile(folder + u'/' + name); });
}

bool fallbackNeedsRegeneration(const QUrl &videoFile, const QUrl &pictureFile)
{
    const QFileInfo picture(pictureFile.toLocalFile());
    if (!picture.exists())
        return true;
    const QFileInfo video(videoFile.toLocalFile());
    const QDateTime videoDate = video.exists() ? video.lastModified() : QDateTime();
    const QDateTime pictureDate = picture.lastModified();
    if (!videoDate.isValid())
        return true; // a video of unknown age is the newest there is
    if (!pictureDate.isValid())
        return true;
    return videoDate > pictureDate;
}

bool isOwnPicture(const QString &path)
{
    const QFileInfo picture(path);
    const QString name = picture.fileName();
    const bool ourName = name == kFrozenWallpaperFileName ||
                         (name.startsWith(QStringLiteral("LockScreenFallback")) &&
                          name.endsWith(QStringLiteral(".jpg")));
    if (!ourName)
        return false;
    const Result<QString> folder = supportDirectory();
    if (!folder)
        return false;
    const QFileInfo ours(*folder);
    const QString pictureFolder = picture.absolutePath();
    return pictureFolder == ours.absoluteFilePath() ||
           QFileInfo(pictureFolder).canonicalFilePath() == ours.canonicalFilePath();
}

double lockScreenFrameSeconds(std::optional<double> durationSeconds)
{
    if (durationSeconds && std::isfinite(*durationSeconds) && *durationSeconds > 0.2)
        return *durationSeconds - framewriter::kFallbackFrameSeconds;
    return framewriter::kFallbackFrameSeconds;
}

} // namespace lumivale::stills
