#include "videocachestate.h"

#include "platform/notificationcenter.h"
#include "videocache.h"

namespace lumivale {

VideoCacheState &VideoCacheState::shared()
{
    static auto *instance = new VideoCacheState(VideoCache::shared());
    return *instance;
}

VideoCacheState::VideoCacheState(VideoCache &cache, QObject *parent)
    : QObject(parent)
    , m_cache(cache)
{
    refresh();
    // Queued even when posted on this thread: the refresh follows the post.
    connect(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange, this,
            &VideoCacheState::refresh, Qt::QueuedConnection);
}

void VideoCacheState::refresh()
{
    QSet<QString> ids = m_cache.cachedIDs();
    const qint64 bytes = m_cache.totalBytes();
    if (ids != m_cachedIDs) {
        m_cachedIDs = std::move(ids);
        Q_EMIT cachedIDsChanged();
    }
    if (bytes != m_totalBytes) {
        m_totalBytes = bytes;
        Q_EMIT totalBytesChanged();
    }
}

} // namespace lumivale
