#include "videoposterframecache.h"

#include "posterframeextractor.h"

#include <QPromise>
#include <QThread>
#include <cmath>
#include <qcoro/qcorofuture.h>

namespace lumivale {

PosterFrameKey PosterFrameKey::from(const QUrl &url, const QSizeF &maximumSize)
{
    return PosterFrameKey{url, int(std::trunc(maximumSize.width())),
                          int(std::trunc(maximumSize.height()))};
}

size_t qHash(const PosterFrameKey &key, size_t seed) noexcept
{
    return qHashMulti(seed, key.url, key.width, key.height);
}

VideoPosterFrameCache &VideoPosterFrameCache::shared()
{
    static auto *instance = new VideoPosterFrameCache;
    return *instance;
}

VideoPosterFrameCache::VideoPosterFrameCache(QObject *parent)
    : QObject(parent)
    , m_images(kDefaultMaxBytes)
{
    // Stills are a nicety: they must not slow the desktop's playback.
    m_pool.setThreadPriority(QThread::LowPriority);
    m_pool.setObjectName(QStringLiteral("VideoPosterFrameCache"));
}

VideoPosterFrameCache::~VideoPosterFrameCache()
{
    m_pool.waitForDone();
}

QCoro::Task<std::optional<QImage>> VideoPosterFrameCache::posterFrame(QUrl video,
                                                                      QSizeF maximumSize)
{
    const PosterFrameKey key = PosterFrameKey::from(video, maximumSize);
    if (const QImage *image = m_images.object(key))
        co_return *image;
    QFuture<std::optional<QImage>> extraction = m_tasks.value(key);
    if (!m_tasks.contains(key)) {
        extraction = startExtraction(key, video, maximumSize);
        m_tasks.insert(key, extraction);
    }
    co_await QFuture<void>(extraction);
    // A cache destroyed meanwhile cancelled the extraction without a result.
    if (extraction.resultCount() == 0)
        co_return std::nullopt;
    co_return extraction.result();
}

QFuture<std::optional<QImage>> VideoPosterFrameCache::startExtraction(const PosterFrameKey &key,
                                                                      const QUrl &video,
                                                                      const QSizeF &maximumSize)
{
    auto promise = std::make_shared<QPromise<std::optional<QImage>>>();
    promise->start();
    QFuture<std::optional<QImage>> future = promise->future();
    m_extractionCount.fetchAndAddRelaxed(1);
    // The destructor waits for the pool, so `this` outlives the job; a result
    // that arrives after the destructor is dropped with its event.
    m_pool.start([this, key, video, maximumSize, promise] {
        std::optional<QImage> image = extractPosterFrame(video, maximumSize);
        // The bookkeeping happens on the cache's thread, whether or not anyone
        // still waits, and before the waiters resume.
        QMetaObject::invokeMethod(
            this,
            [this, key, image = std::move(image), promise] {
                m_tasks.remove(key);
                // A still larger than the whole budget is handed out but not kept.
                if (image)
                    m_images.insert(key, new QImage(*image), image->sizeInBytes());
                promise->addResult(image);
                promise->finish();
            },
            Qt::QueuedConnection);
    });
    return future;
}

} // namespace lumivale
