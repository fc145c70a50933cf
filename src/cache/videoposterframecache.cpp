#include "videoposterframecache.h"

#include "posterframeextractor.h"

#include <QThread>
#include <algorithm>
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

QCoro::Task<std::optional<QImage>>
VideoPosterFrameCache::posterFrame(QUrl video, QSizeF maximumSize, qreal distance)
{
    const PosterFrameKey key = PosterFrameKey::from(video, maximumSize);
    if (const QImage *image = m_images.object(key))
        co_return *image;
    QFuture<std::optional<QImage>> extraction = m_tasks.value(key);
    if (auto queued = m_queue.find(key); queued != m_queue.end()) {
        ++queued->requesters;
        queued->distance = std::min(queued->distance, distance);
    } else if (!m_tasks.contains(key)) {
        auto promise = std::make_shared<Promise>();
        promise->start();
        extraction = promise->future();
        m_tasks.insert(key, extraction);
        m_queue.insert(key, Queued{video, maximumSize, distance, 1, std::move(promise)});
        startQueued();
    }
    co_await QFuture<void>(extraction);
    // Dropped (every requester withdrew), or the cache went meanwhile.
    if (extraction.resultCount() == 0)
        co_return std::nullopt;
    co_return extraction.result();
}

void VideoPosterFrameCache::setDistance(const QUrl &video, const QSizeF &maximumSize,
                                        qreal distance)
{
    if (auto queued = m_queue.find(PosterFrameKey::from(video, maximumSize));
        queued != m_queue.end())
        queued->distance = distance;
}

void VideoPosterFrameCache::withdraw(const QUrl &video, const QSizeF &maximumSize)
{
    const PosterFrameKey key = PosterFrameKey::from(video, maximumSize);
    auto queued = m_queue.find(key);
    if (queued == m_queue.end() || --queued->requesters > 0)
        return;
    const std::shared_ptr<Promise> promise = queued->promise;
    m_queue.erase(queued);
    m_tasks.remove(key);
    promise->finish(); // no result: whoever still waits gets no image
}

void VideoPosterFrameCache::startQueued()
{
    while (m_running < m_pool.maxThreadCount() && !m_queue.isEmpty()) {
        auto nearest = m_queue.begin();
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            if (it->distance < nearest->distance)
                nearest = it;
        }
        const PosterFrameKey key = nearest.key();
        Queued queued = std::move(*nearest);
        m_queue.erase(nearest);
        startExtraction(key, std::move(queued));
    }
}

void VideoPosterFrameCache::startExtraction(const PosterFrameKey &key, Queued queued)
{
    ++m_running;
    m_extractionCount.fetchAndAddRelaxed(1);
    Q_EMIT extractionStarted(queued.video);
    // The destructor waits for the pool, so `this` outlives the job; a result
    // that arrives after the destructor is dropped with its event.
    m_pool.start([this, key, video = queued.video, maximumSize = queued.maximumSize,
                  promise = queued.promise] {
        std::optional<QImage> image = extractPosterFrame(video, maximumSize);
        // The bookkeeping happens on the cache's thread, whether or not anyone
        // still waits, and before the waiters resume.
        QMetaObject::invokeMethod(
            this,
            [this, key, image = std::move(image), promise] {
                --m_running;
                m_tasks.remove(key);
                // A still larger than the whole budget is handed out but not kept.
                if (image)
                    m_images.insert(key, new QImage(*image), image->sizeInBytes());
                promise->addResult(image);
                promise->finish();
                startQueued();
            },
            Qt::QueuedConnection);
    });
}

} // namespace lumivale
