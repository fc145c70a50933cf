#pragma once

#include "platform/error.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace lumivale::service {

// One video of a library as its metadata file describes it: everything the
// manifest says about it except the like state, plus the file that holds it.
struct LibraryEntry
{
    QString id;
    QString file; // a plain file name in the library folder
    QString name;
    QString category;
    QString resolution;
    std::optional<QDateTime> createdAt;
    std::optional<qint64> sizeBytes;
    std::optional<double> durationSeconds;
    std::optional<QStringList> gradient;

    QJsonObject toJson() const;
    friend bool operator==(const LibraryEntry &, const LibraryEntry &) = default;
};

// A library is a folder of video files and one metadata file, "library.json",
// that `scan` writes and a person may edit: {"wallpapers": [entry, ...]}, each
// entry under the manifest's keys plus "file". Plain functions: any thread.
inline const QString kLibraryFileName = QStringLiteral("library.json");
inline const QString kLibraryErrorDomain = QStringLiteral("Library");

// The entries of the library in `folder`, in file order. Entries that name no
// file, a file outside the folder, a duplicate ID or an ID the application
// cannot store are dropped with one line each on standard output; a missing
// metadata file gives an empty library. Fails only when the file exists but
// is not a metadata file.
Result<QList<LibraryEntry>> readLibrary(const QString &folder);

// Writes the metadata file atomically (a reader never sees half of it).
Result<> writeLibrary(const QString &folder, const QList<LibraryEntry> &entries);

// Whether `id` can be a wallpaper ID: the application stores each video as
// "<id>.mp4" in its cache, so an ID must make a plain file name.
bool isUsableWallpaperID(const QString &id);

// Whether `file` is a plain file name: not empty, no "/", not "." or "..".
bool isPlainFileName(const QString &file);

} // namespace lumivale::service
