#pragma once

#include "library.h"
#include "likedatabase.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

namespace lumivale::service {

// The manifest's bytes, built once per change of the library or of the like
// counts and shared by every request that finds them current.
struct ManifestSnapshot
{
    QList<LibraryEntry> entries;
    QHash<QString, qsizetype> indexByID;
    QSet<QString> files;
    QByteArray body;     // every "isLiked" false
    QByteArray gzipBody; // the same, compressed
    QByteArray tag;      // a hash of `body`: equal bytes, equal tag, in every copy of the service
    // Where each entry's `false` after "isLiked": stands in `body`.
    QList<qsizetype> isLikedOffsets;

    // The bytes for a device that likes `liked`: `body` with those entries'
    // "isLiked" turned true (same length: "true " for "false").
    QByteArray bodyFor(const QSet<QString> &liked) const;
};

// Keeps the library's metadata and the manifest built from it and the
// database's counts. The library file is looked at and the counts read again
// at most once per `refreshMs` (other copies of the service may have changed
// them), and at once after countsChanged() (this copy has).
//
// Safe from any thread; a rebuild runs on the thread that finds it needed,
// while other threads keep serving the snapshot before it.
class ManifestCache
{
public:
    ManifestCache(QString libraryFolder, LikeDatabase &database, QString videoBaseURL,
                  int refreshMs = 1000, std::function<qint64()> now = {});

    // The current snapshot for videos under `videoBaseURL` (ending in "/");
    // fails when the database cannot give the counts.
    Result<std::shared_ptr<const ManifestSnapshot>> manifest(const QString &videoBaseURL);

    // The library's entries and files, without the counts: never touches the
    // database.
    std::shared_ptr<const ManifestSnapshot> library();

    void countsChanged() { m_countsDirty = true; }

    const QString &libraryFolder() const { return m_folder; }
    // The configured base of video URLs, or empty for this server's /videos/.
    const QString &videoBaseURL() const { return m_videoBaseURL; }

private:
    bool reloadLibraryIfChanged(qint64 now);

    const QString m_folder;
    LikeDatabase &m_database;
    const QString m_videoBaseURL;
    const int m_refreshMs;
    const std::function<qint64()> m_now;
    std::atomic<bool> m_countsDirty{true};

    std::mutex m_mutex;
    qint64 m_libraryCheckedAt = -1;
    QByteArray m_libraryStamp;
    std::shared_ptr<const ManifestSnapshot> m_library; // no counts, no body
    qint64 m_countsReadAt = -1;
    QHash<QString, qint64> m_counts;
    quint64 m_generation = 0; // of library and counts together
    struct Built
    {
        quint64 generation;
        std::shared_ptr<const ManifestSnapshot> snapshot;
    };
    QHash<QString, Built> m_builtByBase;
};

// Gzip of `data` (RFC 1952), as browsers and Qt's network access accept it.
QByteArray gzipCompress(const QByteArray &data, int level);

} // namespace lumivale::service
