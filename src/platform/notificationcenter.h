#pragma once

#include <QObject>

namespace lumivale {

// The process-wide notifications of the system's own. Posting is allowed from
// any thread; observers connected from the main thread receive the signal on
// the main thread (Qt's automatic connection queues it across threads).
class NotificationCenter : public QObject
{
    Q_OBJECT

public:
    // Created on first use and kept for the life of the process.
    static NotificationCenter &shared();

    void postRefreshWallpaperLibrary() { Q_EMIT refreshWallpaperLibrary(); }
    void postVideoCacheDidChange() { Q_EMIT videoCacheDidChange(); }

Q_SIGNALS:
    // "refreshWallpaperLibrary": the gallery should reload the manifest.
    void refreshWallpaperLibrary();
    // "videoCacheDidChange": the cache folder's contents changed.
    void videoCacheDidChange();

private:
    NotificationCenter() = default;
};

} // namespace lumivale
