#include "manifestcache.h"

#include "catalogue/wallpaper.h"
#include "steadyclock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace lumivale::service {
namespace {

// Different Host headers must not grow the cache without bound.
constexpr qsizetype kMaxBases = 8;
constexpr QByteArrayView kIsLikedFalse = ",\"isLiked\":false}";

std::shared_ptr<ManifestSnapshot> build(const ManifestSnapshot &library,
                                        const QHash<QString, qint64> &counts,
                                        const QString &videoBaseURL)
{
    auto snapshot = std::make_shared<ManifestSnapshot>(library);
    QByteArray &body = snapshot->body;
    body.reserve(library.entries.size() * 400);
    body.append('[');
    for (const LibraryEntry &entry : library.entries) {
        QJsonObject object = entry.toJson();
        object.remove(u"file"_s);
        object.insert(u"likeCount"_s, counts.value(entry.id, 0));
        object.insert(u"video"_s,
                      QString::fromUtf8(QUrl(videoBaseURL +
                                             QString::fromUtf8(QUrl::toPercentEncoding(entry.file)))
                                            .toEncoded()));
        QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
        json.chop(1); // the closing brace
        if (body.size() > 1)
            body.append(',');
        body.append(json);
        snapshot->isLikedOffsets.append(body.size() + kIsLikedFalse.indexOf("false"));
        body.append(kIsLikedFalse);
    }
    body.append(']');
    snapshot->gzipBody = gzipCompress(body, Z_DEFAULT_COMPRESSION);
    snapshot->tag = QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex().left(20);
    return snapshot;
}

} // namespace

QByteArray ManifestSnapshot::bodyFor(const QSet<QString> &liked) const
{
    QByteArray patched = body;
    for (const QString &id : liked)
        if (const auto found = indexByID.constFind(id); found != indexByID.cend())
            patched.replace(isLikedOffsets.at(*found), 5, "true ", 5);
    return patched;
}

QByteArray gzipCompress(const QByteArray &data, int level)
{
    z_stream stream{};
    // 16 + window bits: a gzip header and trailer instead of zlib's.
    if (deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

ManifestCache::ManifestCache(QString libraryFolder, LikeDatabase &database, QString videoBaseURL,
                             int refreshMs, std::function<qint64()> now)
    : m_folder(std::move(libraryFolder))
    , m_database(database)
    , m_videoBaseURL(std::move(videoBaseURL))
    , m_refreshMs(refreshMs)
    , m_now(now ? std::move(now) : steadyMilliseconds)
    , m_library(std::make_shared<ManifestSnapshot>())
{}

bool ManifestCache::reloadLibraryIfChanged(qint64 now)
{
    if (m_libraryCheckedAt >= 0 && now - m_libraryCheckedAt < m_refreshMs)
        return false;
    m_libraryCheckedAt = now;
    const QFileInfo info(QDir(m_folder).filePath(kLibraryFileName));
    const QByteArray stamp = info.exists()
                                 ? QByteArray::number(info.size()) + '-' +
                                       QByteArray::number(info.lastModified().toMSecsSinceEpoch())
                                 : QByteArray("none");
    if (stamp == m_libraryStamp)
        return false;
    const Result<QList<LibraryEntry>> entries = readLibrary(m_folder);
    if (!entries) {
        // Keep serving what was there; say once why the new file is refused.
        logFailure(u"library reload failed:", entries.error());
        m_libraryStamp = stamp;
        return false;
    }
    auto library = std::make_shared<ManifestSnapshot>();
    library->entries = *entries;
    for (qsizetype i = 0; i < entries->size(); ++i) {
        library->indexByID.insert(entries->at(i).id, i);
        library->files.insert(entries->at(i).file);
    }
    m_library = std::move(library);
    m_libraryStamp = stamp;
    return true;
}

std::shared_ptr<const ManifestSnapshot> ManifestCache::library()
{
    const std::lock_guard lock(m_mutex);
    if (reloadLibraryIfChanged(m_now()))
        ++m_generation;
    return m_library;
}

Result<std::shared_ptr<const ManifestSnapshot>> ManifestCache::manifest(const QString &videoBaseURL)
{
    const std::lock_guard lock(m_mutex);
    const qint64 now = m_now();
    if (reloadLibraryIfChanged(now))
        ++m_generation;
    if (m_countsDirty.exchange(false) || m_countsReadAt < 0 ||
        now - m_countsReadAt >= m_refreshMs) {
        Result<QHash<QString, qint64>> counts = m_database.likeCounts();
        if (!counts) {
            m_countsDirty = true;
            return failure(counts.error());
        }
        m_countsReadAt = now;
        if (*counts != m_counts) {
            m_counts = std::move(*counts);
            ++m_generation;
        }
    }
    const auto found = m_builtByBase.constFind(videoBaseURL);
    if (found != m_builtByBase.cend() && found->generation == m_generation)
        return found->snapshot;
    if (m_builtByBase.size() >= kMaxBases)
        m_builtByBase.clear();
    auto snapshot = build(*m_library, m_counts, videoBaseURL);
    m_builtByBase.insert(videoBaseURL, Built{m_generation, snapshot});
    return snapshot;
}

} // namespace lumivale::service
