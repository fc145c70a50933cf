#pragma once

#include "platform/error.h"

#include <QString>
#include <QUrl>
#include <optional>

namespace lumivale::stills {

// The pictures Lumivale installs as the system's desktop picture live in one
// folder, "Lumivale" in the user's data folder ($XDG_DATA_HOME/Lumivale):
// "FrozenWallpaper.jpg", the frame on screen at quit, and one
// "LockScreenFallback-<wallpaper>.jpg" per wallpaper, a frame near its end.
// No picture is ever deleted.
//
// Plain functions over the file system: safe from any thread.

inline const QString kFolderName = QStringLiteral("Lumivale");
inline const QString kFrozenWallpaperFileName = QStringLiteral("FrozenWallpaper.jpg");

// The folder, created with its parents when missing; fails with the file
// system's complaint when it can be neither found nor made.
Result<QString> supportDirectory();

// The wallpaper ID cut at every character that is not a letter, mark or digit,
// empty pieces dropped, the rest joined with "-": "a/b  c" → "a-b-c".
QString sanitizedWallpaperID(const QString &wallpaperID);

// "LockScreenFallback-<sanitised ID>.jpg" in the folder, or
// "LockScreenFallback.jpg" when nothing of the ID is left.
Result<QUrl> lockScreenFallbackURL(const QString &wallpaperID);

// Whether the still must be (re)written: it is missing, or the video was
// modified later than it. A video whose date cannot be read counts as newest.
bool fallbackNeedsRegeneration(const QUrl &videoFile, const QUrl &pictureFile);

// Whether `path` is one of the pictures above (in the folder, whatever the
// wallpaper), as opposed to a picture of the user's.
bool isOwnPicture(const QString &path);

// The lock-screen still's time: 0.1 s before the end of a video longer than
// 0.2 s, else 0.1 s.
double lockScreenFrameSeconds(std::optional<double> durationSeconds);

} // namespace lumivale::stills
