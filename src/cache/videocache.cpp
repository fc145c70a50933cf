#include "videocache.h"

#include "catalogue/httpclient.h"
#include "filedownload.h"
#include "platform/notificationcenter.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPromise>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcoronetworkreply.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumivale {
namespace {

const QString kFileSystemDomain = QStringLiteral("FileSystem");
const QString kNetworkDomain = QStringLiteral("Network");
const QString kVideoExtension = QStringLiteral(".mp4");
// The longest file name the usual Linux file systems accept, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;
// What a download holds in memory between the network and the disk, twice
// (the reply's buffer and the copy). Smaller buffers cost far more hand-overs
// between the threads: 1 MiB took twice as long over loopback.
constexpr qint64 kReadBufferBytes = 4 * 1024 * 1024;
constexpr qint64 kProgressIntervalMs = 100;

Error cacheError(int code, QString description)
{
    return Error(VideoCache::kErrorDomain, code, std::move(description));
}

Error systemError(int code, const QString &what)
{
    return Error(kFileSystemDomain, code,
                 QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(code))));
}

// Whether the folder can be listed; QDirIterator itself stays silent.
bool isListable(const QString &directory)
{
    const QFileInfo info(directory);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

Error tooLargeError(qint64 limit)
{
    return cacheError(
        VideoCache::VideoTooLarge,
        QStringLiteral("Video is larger than the cache can hold (%1)")
            .arg(QLocale::c().formattedDataSize(limit, 0, QLocale::DataSizeIecFormat)));
}

// A file's name, as the file system spells it, when `path` is directly in
// `directory`.
std::optional<QByteArray> nameIn(const QString &directory, const QString &path)
{
    const QFileInfo info(path);
    if (QDir::cleanPath(info.absolutePath()) !=
        QDir::cleanPath(QFileInfo(directory).absoluteFilePath()))
        return std::nullopt;
    return QFile::encodeName(info.fileName());
}

// Flushes the folder's entries, so a rename in it survives a power cut.
bool syncDirectory(const QString &directory)
{
    const int descriptor =
        open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool synced = fsync(descriptor) == 0;
    close(descriptor);
    return synced;
}

qint64 steadyClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool hasVideoExtension(const QString &fileName)
{
    return fileName.size() > kVideoExtension.size() &&
           fileName.endsWith(kVideoExtension, Qt::CaseSensitive);
}

} // namespace

// Runs the fetches on the cache's download thread, with an HTTP client of its
// own (the shared one belongs to the main thread). Lives on that thread.
class DownloadWorker : public QObject
{
public:
    explicit DownloadWorker(VideoCache &cache)
        : m_cache(cache)
    {}

    QCoro::Task<> run(QString wallpaperID, QUrl source,
                      std::shared_ptr<QPromise<VideoDownloadResult>> promise)
    {
        VideoDownloadResult result = co_await fetch(wallpaperID, source);
        if (result)
            m_cache.trimAfterDownload(wallpaperID, std::move(result), std::move(promise));
        else
            settle(wallpaperID, result, *promise);
    }

    // Trims the folder around the new video and hands the result over; on the
    // download thread.
    void finishAfterTrim(const QString &wallpaperID, VideoDownloadResult result,
                         const QSet<QString> &protectedPaths,
                         const std::shared_ptr<QPromise<VideoDownloadResult>> &promise)
    {
        if (Result<> trimmed = VideoCache::trim(m_cache.cacheDirectory(), protectedPaths); !trimmed)
            result = failure(trimmed.error());
        settle(wallpaperID, result, *promise);
    }

    // Fails every download in flight; on the download thread.
    void abortAll()
    {
        m_requests.abortAll();
        delete m_network;
        m_network = nullptr;
    }

private:
    void settle(const QString &wallpaperID, const VideoDownloadResult &result,
                QPromise<VideoDownloadResult> &promise)
    {
        m_cache.finishDownload(wallpaperID, result);
        promise.addResult(result);
        promise.finish();
    }

    QNetworkAccessManager &network()
    {
        if (!m_network)
            m_network = new QNetworkAccessManager;
        return *m_network;
    }

    void publishProgress(const QString &wallpaperID, qint64 received, qint64 expected)
    {
        VideoCache *cache = &m_cache;
        const DownloadProgress progress{received, expected > 0 ? expected : -1};
        QMetaObject::invokeMethod(
            cache, [cache, wallpaperID, progress] { cache->setProgress(wallpaperID, progress); },
            Qt::QueuedConnection);
    }

    QCoro::Task<VideoDownloadResult> fetch(QString wallpaperID, QUrl source)
    {
        const QString destination = m_cache.filePath(wallpaperID);
        QTemporaryFile partial(m_cache.partialDirectory() + QStringLiteral("/download-XXXXXX"));
        if (!QDir().mkpath(m_cache.partialDirectory()) || !partial.open()) {
            co_return failure(Error(kFileSystemDomain, partial.error(),
                                    QStringLiteral("Cannot create a download file in \"%1\": %2")
                                        .arg(m_cache.partialDirectory(), partial.errorString())));
        }

        QNetworkRequest request(source);
        const int timeoutMs = m_cache.transferTimeout();
        request.setTransferTimeout(timeoutMs);
        const qint64 limit = m_cache.m_maxDownloadBytes;
        const NetworkReplyPtr reply(network().get(request));
        QNetworkReply *rawReply = reply.get();
        // A few updates a second are all a progress bar can show.
        QElapsedTimer sincePublished;
        connect(rawReply, &QNetworkReply::downloadProgress, rawReply,
                [this, wallpaperID, &sincePublished](qint64 received, qint64 expected) {
                    const bool complete = expected > 0 && received >= expected;
                    if (sincePublished.isValid() && !complete &&
                        sincePublished.elapsed() < kProgressIntervalMs)
                        return;
                    sincePublished.start();
                    publishProgress(wallpaperID, received, expected);
                });
        const FileDownloadResult download = co_await downloadToFile(
            rawReply, partial,
            {.maxBytes = limit, .readBufferBytes = kReadBufferBytes, .startsWriteback = true},
            &m_requests);

        using Failure = FileDownloadResult::Failure;
        switch (download.failure) {
        case Failure::None:
            break;
        case Failure::HttpStatus:
            co_return failure(cacheError(
                download.httpStatus,
                QStringLiteral("Video download failed with HTTP %1").arg(download.httpStatus)));
        case Failure::TooLarge:
            co_return failure(tooLargeError(limit));
        case Failure::WriteFailed:
            co_return failure(Error(
                kFileSystemDomain, partial.error(),
                QStringLiteral("Cannot write the download file: %1").arg(partial.errorString())));
        case Failure::Cancelled:
            co_return failure(Error(kNetworkDomain, QNetworkReply::OperationCanceledError,
                                    QStringLiteral("Download cancelled")));
        case Failure::Network:
            co_return failure(networkError(*rawReply, timeoutMs, kNetworkDomain));
        case Failure::Truncated:
            co_return failure(Error(kNetworkDomain, QNetworkReply::RemoteHostClosedError,
                                    QStringLiteral("Connection closed after %1 of %2 bytes")
                                        .arg(download.bytesWritten)
                                        .arg(download.announcedBytes)));
        }
        // On the disk before it gets its name: after a power cut the cache
        // holds either the whole video or none.
        if (!partial.flush() || fsync(partial.handle()) != 0) {
            co_return failure(Error(
                kFileSystemDomain, partial.error(),
                QStringLiteral("Cannot write the download file: %1").arg(partial.errorString())));
        }
        if (partial.size() <= 0)
            co_return failure(
                cacheError(VideoCache::EmptyDownload, QStringLiteral("Downloaded video is empty")));

        // The folder may have been removed from outside meanwhile. The rename
        // replaces any older file at once, so the folder never holds a
        // half-written video and a reader never sees the name missing.
        QDir().mkpath(m_cache.cacheDirectory());
        if (std::rename(QFile::encodeName(partial.fileName()).constData(),
                        QFile::encodeName(destination).constData()) != 0) {
            co_return failure(systemError(
                errno, QStringLiteral("Cannot move the video to \"%1\"").arg(destination)));
        }
        partial.setAutoRemove(false);
        m_cache.markHandedOut(wallpaperID);
        if (!syncDirectory(m_cache.cacheDirectory())) {
            co_return failure(systemError(
                errno, QStringLiteral("Cannot flush \"%1\"").arg(m_cache.cacheDirectory())));
        }
        co_return QUrl::fromLocalFile(destination);
    }

    VideoCache &m_cache;
    QNetworkAccessManager *m_network = nullptr;
    DownloadGroup m_requests;
};

VideoCache &VideoCache::shared()
{
    static auto *instance = new VideoCache(defaultCacheDirectory());
    return *instance;
}

VideoCache::VideoCache(const QString &cacheDirectory, QObject *parent)
    : QObject(parent)
    , m_cacheDirectory(QDir::cleanPath(cacheDirectory))
    , m_partialDirectory(m_cacheDirectory + QStringLiteral(".partial"))
    , m_clock(steadyClockMs)
    , m_transferTimeoutMs(kDefaultTransferTimeoutMs)
{
    QDir().mkpath(m_cacheDirectory);
    // Whatever is here was left by a process that ended mid-download.
    QDir(m_partialDirectory).removeRecursively();
    QDir().mkpath(m_partialDirectory);

    m_downloadThread = new QThread(this);
    m_downloadThread->setObjectName(QStringLiteral("VideoCache downloads"));
    m_worker = new DownloadWorker(*this);
    m_worker->moveToThread(m_downloadThread);
    connect(m_downloadThread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_downloadThread->start();
}

VideoCache::~VideoCache()
{
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->abortAll(); }, Qt::BlockingQueuedConnection);
    m_downloadThread->quit();
    m_downloadThread->wait();
}

QString VideoCache::defaultCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' +
           kFolderName;
}

bool VideoCache::isValidWallpaperID(const QString &wallpaperID)
{
    if (wallpaperID.isEmpty() || wallpaperID.startsWith(u'.'))
        return false;
    if (wallpaperID.contains(u'/') || wallpaperID.contains(QChar(0)))
        return false;
    return QFile::encodeName(wallpaperID + kVideoExtension).size() <= kMaxFileNameBytes;
}

QString VideoCache::filePath(const QString &wallpaperID) const
{
    return m_cacheDirectory + u'/' + wallpaperID + kVideoExtension;
}

QUrl VideoCache::fileURL(const QString &wallpaperID) const
{
    if (!isValidWallpaperID(wallpaperID))
        return QUrl();
    return QUrl::fromLocalFile(filePath(wallpaperID));
}

bool VideoCache::isCached(const QString &wallpaperID) const
{
    return isValidWallpaperID(wallpaperID) && QFileInfo::exists(filePath(wallpaperID));
}

QCoro::Task<VideoDownloadResult> VideoCache::download(Wallpaper wallpaper)
{
    const QString wallpaperID = wallpaper.id();
    if (!wallpaper.video())
        co_return failure(cacheError(NoVideoURL, QStringLiteral("Wallpaper has no video URL")));
    if (!isWebVideoURL(*wallpaper.video()))
        co_return failure(cacheError(UnsupportedVideoURL, kVideoURLSchemeRefusal));
    if (!isValidWallpaperID(wallpaperID)) {
        co_return failure(cacheError(InvalidWallpaperID,
                                     QStringLiteral("Wallpaper ID is not a valid file name")));
    }
    const QString destination = filePath(wallpaperID);
    if (QFileInfo::exists(destination)) {
        markHandedOut(wallpaperID);
        co_return fileURL(wallpaperID);
    }

    QFuture<VideoDownloadResult> inFlight;
    {
        // Lookup and registration in one hold, so concurrent callers share. A
        // download that finished since the check above has already put its
        // file in place before leaving the map: look again.
        const QMutexLocker lock(&m_downloadLock);
        const auto existing = m_activeDownloads.constFind(wallpaperID);
        if (existing != m_activeDownloads.cend()) {
            inFlight = *existing;
        } else if (QFileInfo::exists(destination)) {
            m_handedOutAt.insert(wallpaperID, m_clock());
            co_return fileURL(wallpaperID);
        } else {
            inFlight = startDownload(wallpaperID, *wallpaper.video());
            m_activeDownloads.insert(wallpaperID, inFlight);
        }
    }
    co_await QFuture<void>(inFlight);
    // Only a cache destroyed mid-download leaves the future without a result.
    if (inFlight.resultCount() == 0) {
        co_return failure(Error(kNetworkDomain, QNetworkReply::OperationCanceledError,
                                QStringLiteral("Download cancelled")));
    }
    co_return inFlight.result();
}

QFuture<VideoDownloadResult> VideoCache::startDownload(const QString &wallpaperID,
                                                       const QUrl &source)
{
    auto promise = std::make_shared<QPromise<VideoDownloadResult>>();
    promise->start();
    QFuture<VideoDownloadResult> future = promise->future();
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, wallpaperID, source, promise] {
            worker->run(wallpaperID, source, promise);
        },
        Qt::QueuedConnection);
    return future;
}

void VideoCache::trimAfterDownload(const QString &wallpaperID, VideoDownloadResult result,
                                   std::shared_ptr<QPromise<VideoDownloadResult>> promise)
{
    // The files in use are known only on this object's thread; the trim then
    // goes back to the download thread. Should the cache go away meanwhile,
    // the dropped promise fails the download as cancelled.
    QMetaObject::invokeMethod(
        this,
        [this, wallpaperID, result = std::move(result), promise = std::move(promise)] {
            const QList<QUrl> inUse = m_filesInUse ? m_filesInUse() : QList<QUrl>();
            QMetaObject::invokeMethod(
                m_worker,
                [worker = m_worker, wallpaperID, result, promise,
                 protectedFiles = protectedPaths(inUse)] {
                    worker->finishAfterTrim(wallpaperID, result, protectedFiles, promise);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void VideoCache::markHandedOut(const QString &wallpaperID)
{
    const QMutexLocker lock(&m_downloadLock);
    m_handedOutAt.insert(wallpaperID, m_clock());
}

QSet<QString> VideoCache::protectedPaths(const QList<QUrl> &inUse)
{
    QSet<QString> paths;
    for (const QUrl &file : inUse) {
        if (file.isLocalFile())
            paths.insert(QDir::cleanPath(file.toLocalFile()));
    }
    const QMutexLocker lock(&m_downloadLock);
    for (auto it = m_activeDownloads.keyBegin(); it != m_activeDownloads.keyEnd(); ++it)
        paths.insert(filePath(*it));
    const qint64 now = m_clock();
    for (auto it = m_handedOutAt.begin(); it != m_handedOutAt.end();) {
        if (now - it.value() >= kRecentlyHandedOutMs) {
            it = m_handedOutAt.erase(it);
        } else {
            paths.insert(filePath(it.key()));
            ++it;
        }
    }
    return paths;
}

void VideoCache::setFilesInUseProvider(FilesInUseProvider provider)
{
    m_filesInUse = std::move(provider);
}

void VideoCache::setClock(Clock clock)
{
    const QMutexLocker lock(&m_downloadLock);
    m_clock = std::move(clock);
}

void VideoCache::finishDownload(const QString &wallpaperID, const VideoDownloadResult &result)
{
    {
        const QMutexLocker lock(&m_downloadLock);
        m_activeDownloads.remove(wallpaperID);
    }
    QMetaObject::invokeMethod(
        this, [this, wallpaperID] { setProgress(wallpaperID, std::nullopt); },
        Qt::QueuedConnection);
    if (result)
        NotificationCenter::shared().postVideoCacheDidChange();
}

void VideoCache::setProgress(const QString &wallpaperID, std::optional<DownloadProgress> progress)
{
    if (progress)
        m_progress.insert(wallpaperID, *progress);
    else if (!m_progress.remove(wallpaperID))
        return; // nothing was published for this download
    Q_EMIT downloadProgressChanged();
}

QSet<QString> VideoCache::cachedIDs() const
{
    QSet<QString> ids;
    if (!isListable(m_cacheDirectory))
        return ids;
    QDirIterator entries(m_cacheDirectory, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        if (hasVideoExtension(name))
            ids.insert(name.chopped(kVideoExtension.size()));
    }
    return ids;
}

qint64 VideoCache::totalBytes() const
{
    if (!isListable(m_cacheDirectory))
        return 0;
    qint64 total = 0;
    QDirIterator entries(m_cacheDirectory, QDir::Files | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        total += entries.fileInfo().size();
    }
    return total;
}

Result<> VideoCache::clearCache()
{
    if (!QFileInfo(m_cacheDirectory).isDir()) {
        return failure(
            systemError(ENOENT, QStringLiteral("Cannot remove \"%1\"").arg(m_cacheDirectory)));
    }
    const QSet<QString> kept = protectedPaths(m_filesInUse ? m_filesInUse() : QList<QUrl>());
    Result<> outcome;
    QDirIterator entries(m_cacheDirectory,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QString path = entries.next();
        if (kept.contains(path))
            continue;
        const QFileInfo info = entries.fileInfo();
        const bool removed = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively()
                                                               : QFile::remove(path);
        if (!removed && outcome)
            outcome =
                failure(systemError(EACCES, QStringLiteral("Cannot remove \"%1\"").arg(path)));
    }
    NotificationCenter::shared().postVideoCacheDidChange();
    return outcome;
}

Result<> VideoCache::trim(const QString &directory, const QSet<QString> &protectedPaths)
{
    // Straight to the system: a trim may face thousands of files, and one
    // stat and one unlink relative to the open folder is all each needs.
    const QByteArray folderPath = QFile::encodeName(directory);
    DIR *folder = opendir(folderPath.constData());
    if (!folder)
        return failure(systemError(errno, QStringLiteral("Cannot list \"%1\"").arg(directory)));
    const std::unique_ptr<DIR, int (*)(DIR *)> folderCloser(folder, closedir);
    const int folderDescriptor = dirfd(folder);
    // A handful at most: compared one by one.
    std::vector<QByteArray> kept;
    for (const QString &path : protectedPaths) {
        if (std::optional<QByteArray> name = nameIn(directory, path))
            kept.push_back(std::move(*name));
    }

    std::vector<CacheEntry> entries;
    qint64 total = 0;
    size_t keptCount = 0;
    while (const dirent *entry = readdir(folder)) {
        const QByteArrayView name(entry->d_name);
        // Hidden files are not the cache's; only "*.mp4", case-sensitive.
        if (name.startsWith('.') || name.size() <= 4 || !name.endsWith(".mp4"))
            continue;
        struct stat info;
        const bool known = fstatat(folderDescriptor, entry->d_name, &info, 0) == 0;
        if (known && !S_ISREG(info.st_mode))
            continue;
        const qint64 size = known ? qint64(info.st_size) : 0;
        total += size;
        // Protected files stay, and walk first: they only take up places.
        if (std::find(kept.cbegin(), kept.cend(), name) != kept.cend()) {
            ++keptCount;
            continue;
        }
        entries.push_back({name.toByteArray(), size,
                           known ? qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec
                                 : std::numeric_limits<qint64>::min()});
    }

    std::sort(entries.begin(), entries.end(), [](const CacheEntry &a, const CacheEntry &b) {
        return a.modifiedAtNs > b.modifiedAtNs;
    });

    QList<QByteArray> doomed;
    for (size_t index = 0; index < entries.size(); ++index) {
        const CacheEntry &cached = entries[index];
        if (qsizetype(keptCount + index) >= kMaxCachedFiles || total > kMaxCacheBytes) {
            doomed.append(cached.fileName);
            total -= cached.size; // also when the deletion fails
        }
    }
    // Deletions are independent; much of an unlink's cost is outside the
    // folder's lock, so they run side by side. Failures are ignored.
    QtConcurrent::blockingMap(doomed, [folderDescriptor](const QByteArray &fileName) {
        unlinkat(folderDescriptor, fileName.constData(), 0);
    });
    return {};
}

} // namespace lumivale
