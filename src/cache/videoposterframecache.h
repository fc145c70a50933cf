#pragma once

#include <QAtomicInt>
#include <QCache>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPromise>
#include <QSizeF>
#include <QThreadPool>
#include <QUrl>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumivale {

// Poster frames are kept per video and requested size, the size truncated to
// whole pixels: 300.9 × 200 and 300.2 × 200 share 300 × 200.
struct PosterFrameKey
{
    QUrl url;
    int width = 0;
    int height = 0;

    static PosterFrameKey from(const QUrl &url, const QSizeF &maximumSize);
    friend bool operator==(const PosterFrameKey &, const PosterFrameKey &) = default;
};
size_t qHash(const PosterFrameKey &key, size_t seed = 0) noexcept;

// The still pictures shown for videos before they play (see
// extractPosterFrame()), extracted once per key on a low-priority pool of
// worker threads and kept in memory up to a byte budget (kDefaultMaxBytes
// unless set), the least recently used going first. Concurrent
// requests for one key share one extraction. A failed extraction is not
// remembered: the next request tries again.
//
// Extractions wait in a queue for a free worker, the nearest first: each
// request carries its view's distance from the centre of what the user sees
// (0 for callers that do not say), which the view may update while it waits.
// A view that scrolls away withdraws its request; once every requester of a
// key has withdrawn before its extraction started, the extraction is dropped.
//
// Main thread only: the maps are read and written there, and posterFrame()
// runs there between its waits. Destroying the cache waits for extractions
// still running; requests still waiting then get no image.
class VideoPosterFrameCache : public QObject
{
    Q_OBJECT

public:
    // Created on first use, never destroyed.
    static VideoPosterFrameCache &shared();
    // 256 MB: about 400 stills of 760 x 428.
    static constexpr qsizetype kDefaultMaxBytes = 256 * 1024 * 1024;
    explicit VideoPosterFrameCache(QObject *parent = nullptr);
    ~VideoPosterFrameCache() override;

    // The still of `video` fitted into `maximumSize`; never fails, no image
    // when the video gives none or every requester withdrew first.
    QCoro::Task<std::optional<QImage>> posterFrame(QUrl video, QSizeF maximumSize,
                                                   qreal distance = 0);
    // A waiting request's new distance; nothing once its extraction started.
    void setDistance(const QUrl &video, const QSizeF &maximumSize, qreal distance);
    // One requester of the still no longer wants it (call once per request
    // still waiting).
    void withdraw(const QUrl &video, const QSizeF &maximumSize);

    // The byte budget of the kept stills; lowering it drops the least
    // recently used at once.
    void setMaxBytes(qsizetype bytes) { m_images.setMaxCost(bytes); }
    qsizetype maxBytes() const { return m_images.maxCost(); }
    qsizetype keptBytes() const { return m_images.totalCost(); }
    int keptCount() const { return int(m_images.count()); }

    // Extractions started so far, for tests and diagnostics.
    int extractionCount() const { return m_extractionCount.loadRelaxed(); }
    // Extractions waiting for a worker.
    int queuedCount() const { return int(m_queue.size()); }

Q_SIGNALS:
    // An extraction of `video` went to a worker.
    void extractionStarted(const QUrl &video);

private:
    using Promise = QPromise<std::optional<QImage>>;
    struct Queued
    {
        QUrl video;
        QSizeF maximumSize;
        qreal distance = 0;
        int requesters = 0;
        std::shared_ptr<Promise> promise;
    };
    void startQueued();
    void startExtraction(const PosterFrameKey &key, Queued queued);

    // Costs are the stills' sizes in bytes.
    QCache<PosterFrameKey, QImage> m_images;
    // Extractions waiting or running, for the requests that join them.
    QHash<PosterFrameKey, QFuture<std::optional<QImage>>> m_tasks;
    QHash<PosterFrameKey, Queued> m_queue;
    int m_running = 0;
    QThreadPool m_pool;
    QAtomicInt m_extractionCount;
};

} // namespace lumivale
