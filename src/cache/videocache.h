#pragma once

#include "catalogue/wallpaper.h"
#include "platform/error.h"

#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPromise>
#include <QSet>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class QThread;

namespace lumivale {

class DownloadWorker;

// How far one download has come. `bytesExpected` is -1 while the server has
// not said how long the body is.
struct DownloadProgress
{
    qint64 bytesReceived = 0;
    qint64 bytesExpected = -1;

    friend bool operator==(const DownloadProgress &, const DownloadProgress &) = default;
};

// The answer of VideoCache::download(): the local file, or why there is none.
using VideoDownloadResult = Result<QUrl>;

// Wallpaper videos on the local disk, so that the desktop plays a local file.
//
// The folder ("LumivaleWallpapers" in the user's cache folder,
// $XDG_CACHE_HOME/LumivaleWallpapers) holds one "<wallpaper ID>.mp4" per
// wallpaper and nothing else; its listing is the whole state. After each
// download the folder is trimmed to at most kMaxCachedFiles videos and, while
// it holds more than kMaxCacheBytes, the newest unprotected videos go first
// (see trim()). Every change of the contents is announced with
// NotificationCenter's "videoCacheDidChange".
//
// Downloads run on a thread of the cache's own with its own HTTP client: the
// body goes into a file in a sibling folder ("LumivaleWallpapers.partial", same
// file system) and is renamed into place only when complete and flushed to
// disk, so the cache folder never holds a partial video, not even after a power
// cut. Partial files left by an earlier process are removed when the cache is
// created. A download fails when the server sends nothing for the transfer
// timeout, or announces or sends more than kMaxCacheBytes.
//
// Neither the trim nor clearCache() deletes a file in use: one the files-in-use
// provider names (the videos on the desktop), one a download in flight is
// writing, or one handed to a caller of download() during the last
// kRecentlyHandedOutMs, which it may be about to apply.
//
// Threads: download() may be awaited from any thread that runs an event loop;
// the other operations may be called from any thread and work on the caller's
// thread, except clearCache() and the setters, which belong to the thread that
// owns the object (the main thread for shared()). `downloadProgress` is
// published there, and the files-in-use provider is called there, so that
// thread must run an event loop while downloads finish. shared() must first
// be reached from the main thread.
class VideoCache : public QObject
{
    Q_OBJECT
    // The downloads in flight by wallpaper ID; an entry leaves when its
    // download ends, however it ends.
    Q_PROPERTY(QHash<QString, lumivale::DownloadProgress> downloadProgress READ downloadProgress
                   NOTIFY downloadProgressChanged)

public:
    static inline const QString kErrorDomain = QStringLiteral("VideoCache");
    static inline const QString kFolderName = QStringLiteral("LumivaleWallpapers");
    static constexpr int kMaxCachedFiles = 50;
    static constexpr qint64 kMaxCacheBytes = 2147483648; // 2 GiB
    enum ErrorCode {
        NoVideoURL = -1,
        EmptyDownload = -2,
        InvalidWallpaperID = -3,
        UnsupportedVideoURL = -4,
        VideoTooLarge = -5,
    };
    // How long a file handed out by download() stays protected from the trim
    // and clearCache(), so that its caller can still apply it.
    static constexpr qint64 kRecentlyHandedOutMs = 60 * 1000;

    // The local files something outside the cache is using now. Called on the
    // thread that owns the cache.
    using FilesInUseProvider = std::function<QList<QUrl>()>;
    // Milliseconds on a monotonic scale.
    using Clock = std::function<qint64()>;

    // One video as a trim sees it.
    struct CacheEntry
    {
        QByteArray fileName;     // in the folder, as the file system spells it
        qint64 size = 0;         // unreadable: 0
        qint64 modifiedAtNs = 0; // since the epoch; unreadable: the most distant past
    };

    // The process's cache over the user's cache folder; created on first use,
    // never destroyed.
    static VideoCache &shared();
    // A cache over `cacheDirectory`, created if missing (a failure to create it
    // is ignored; the operations then report it). Tests make their own.
    explicit VideoCache(const QString &cacheDirectory, QObject *parent = nullptr);
    // Downloads still in flight are aborted and fail.
    ~VideoCache() override;

    static QString defaultCacheDirectory();
    const QString &cacheDirectory() const { return m_cacheDirectory; }
    // Where downloads are written until they are complete.
    const QString &partialDirectory() const { return m_partialDirectory; }

    // Whether `wallpaperID` can be one file name in the folder: not empty, not
    // starting with "." (a hidden file escapes the trim and the byte total),
    // without "/" or NUL, and short enough with ".mp4" appended. IDs come from
    // a web service; anything else is refused.
    static bool isValidWallpaperID(const QString &wallpaperID);

    // The folder joined with "<ID>.mp4"; an empty URL for an ID that is not a
    // valid file name, so that no ID ever names a path outside the folder. No
    // disk access.
    QUrl fileURL(const QString &wallpaperID) const;
    // Whether a file exists at fileURL(); false for an invalid ID.
    bool isCached(const QString &wallpaperID) const;

    // The local file of the wallpaper's video, downloaded first when it is not
    // cached. At most one download per ID runs at a time: later callers join
    // the one in flight and get the same answer. The download continues when
    // the caller stops waiting. Fails with this domain and NoVideoURL ("Wallpaper
    // has no video URL"), UnsupportedVideoURL (kVideoURLSchemeRefusal, for
    // anything but an http or https URL; nothing is read or written),
    // InvalidWallpaperID ("Wallpaper ID is not a valid file name"), the HTTP
    // status ("Video download failed with HTTP <status>"), EmptyDownload
    // ("Downloaded video is empty") or VideoTooLarge; network errors (domain
    // "Network", a timeout with QNetworkReply::TimeoutError) and file system
    // errors (domain "FileSystem") pass through. A failed download leaves no
    // file and posts nothing; a successful one posts "videoCacheDidChange"
    // before its callers resume.
    QCoro::Task<VideoDownloadResult> download(Wallpaper wallpaper);

    // IDs with a ".mp4" file in the folder (hidden files included); empty when
    // the folder cannot be listed.
    QSet<QString> cachedIDs() const;
    // Bytes of all visible files in the folder, any extension; 0 when it cannot
    // be listed.
    qint64 totalBytes() const;
    // Deletes everything in the folder but the files in use (see the class
    // comment), then posts "videoCacheDidChange". Fails (and posts nothing)
    // when the folder is missing; fails after posting when something in it
    // cannot be removed. Downloads in flight are not touched: they land in the
    // folder when they finish.
    Result<> clearCache();

    // Names the files in use; none by default.
    void setFilesInUseProvider(FilesInUseProvider provider);
    // kDefaultTransferTimeoutMs unless set; applies to downloads started later.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }
    int transferTimeout() const { return m_transferTimeoutMs; }
    // kMaxCacheBytes unless set (tests); applies to downloads started later.
    void setMaxDownloadBytes(qint64 bytes) { m_maxDownloadBytes = bytes; }
    // A steady clock unless set (tests).
    void setClock(Clock clock);

    const QHash<QString, DownloadProgress> &downloadProgress() const { return m_progress; }

    // Keeps `directory` within the limits, never deleting a file named in
    // `protectedPaths`: visible "*.mp4" files, the protected ones first and the
    // rest newest first, are walked; an unprotected entry at index
    // kMaxCachedFiles or beyond, or met while the running total exceeds
    // kMaxCacheBytes, is deleted and its size subtracted (also when the
    // deletion fails). Fails only when the folder cannot be listed.
    static Result<> trim(const QString &directory, const QSet<QString> &protectedPaths);

Q_SIGNALS:
    void downloadProgressChanged();

private:
    QFuture<VideoDownloadResult> startDownload(const QString &wallpaperID, const QUrl &source);
    // On the download thread, once the video is in place.
    void trimAfterDownload(const QString &wallpaperID, VideoDownloadResult result,
                           std::shared_ptr<QPromise<VideoDownloadResult>> promise);
    void finishDownload(const QString &wallpaperID, const VideoDownloadResult &result);
    void markHandedOut(const QString &wallpaperID);
    // The paths that neither the trim nor clearCache() may delete, besides
    // `inUse`. Takes the lock.
    QSet<QString> protectedPaths(const QList<QUrl> &inUse);
    void setProgress(const QString &wallpaperID, std::optional<DownloadProgress> progress);
    QString filePath(const QString &wallpaperID) const;

    const QString m_cacheDirectory;
    const QString m_partialDirectory;
    // Guards m_activeDownloads, m_handedOutAt and m_clock.
    QMutex m_downloadLock;
    QHash<QString, QFuture<VideoDownloadResult>> m_activeDownloads;
    // When each wallpaper's file was last handed out, by m_clock.
    QHash<QString, qint64> m_handedOutAt;
    Clock m_clock;
    FilesInUseProvider m_filesInUse;
    std::atomic<int> m_transferTimeoutMs;
    std::atomic<qint64> m_maxDownloadBytes = kMaxCacheBytes;
    QHash<QString, DownloadProgress> m_progress;
    QThread *m_downloadThread = nullptr;
    DownloadWorker *m_worker = nullptr;

    friend class DownloadWorker;
};

} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::DownloadProgress)
