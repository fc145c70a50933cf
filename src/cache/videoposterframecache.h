#pragma once

#include <QAtomicInt>
#include <QCache>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSizeF>
#include <QThreadPool>
#include <QUrl>
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
    // when the video gives none.
    QCoro::Task<std::optional<QImage>> posterFrame(QUrl video, QSizeF maximumSize);

    // The byte budget of the kept stills; lowering it drops the least
    // recently used at once.
    void setMaxBytes(qsizetype bytes) { m_images.setMaxCost(bytes); }
    qsizetype maxBytes() const { return m_images.maxCost(); }
    qsizetype keptBytes() const { return m_images.totalCost(); }
    int keptCount() const { return int(m_images.count()); }

    // Extractions started so far, for tests and diagnostics.
    int extractionCount() const { return m_extractionCount.loadRelaxed(); }

private:
    QFuture<std::optional<QImage>> startExtraction(const PosterFrameKey &key, const QUrl &video,
                                                   const QSizeF &maximumSize);

    // Costs are the stills' sizes in bytes.
    QCache<PosterFrameKey, QImage> m_images;
    QHash<PosterFrameKey, QFuture<std::optional<QImage>>> m_tasks;
    QThreadPool m_pool;
    QAtomicInt m_extractionCount;
};

} // namespace lumivale
