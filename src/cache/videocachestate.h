#pragma once

#include <QObject>
#include <QSet>
#include <QString>

namespace lumivale {

class VideoCache;

// What the interface shows of the video cache: the wallpaper IDs that have a
// downloaded video (the cards' "downloaded" mark) and the bytes the folder
// holds (the "Cache:" meter). Re-reads the cache at creation, whenever the
// cache posts "videoCacheDidChange" (always one turn of the event loop after
// the post, never before it) and when refresh() is called.
//
// Main thread only. The cache must outlive the state.
class VideoCacheState : public QObject
{
    Q_OBJECT
    // Published only when the value changed.
    Q_PROPERTY(QSet<QString> cachedIDs READ cachedIDs NOTIFY cachedIDsChanged)
    Q_PROPERTY(qint64 totalBytes READ totalBytes NOTIFY totalBytesChanged)

public:
    // Over VideoCache::shared(); created on first use, never destroyed.
    static VideoCacheState &shared();
    explicit VideoCacheState(VideoCache &cache, QObject *parent = nullptr);

    const QSet<QString> &cachedIDs() const { return m_cachedIDs; }
    qint64 totalBytes() const { return m_totalBytes; }

    // Reads the folder now, on the calling thread, and publishes what changed.
    Q_INVOKABLE void refresh();

Q_SIGNALS:
    void cachedIDsChanged();
    void totalBytesChanged();

private:
    VideoCache &m_cache;
    QSet<QString> m_cachedIDs;
    qint64 m_totalBytes = 0;
};

} // namespace lumivale
