#pragma once

#include "desktopwindow.h"
#include "platform/delayclock.h"
#include "platform/error.h"
#include "playbackpolicy.h"
#include "previousdesktopstore.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <map>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumivale {

class Platform;
class UserDefaults;

// The desktop playback engine. It decides which screens show the applied
// video, keeps exactly one DesktopWindow per such screen, rebuilds that set
// 0.3 s after the last screen change, remembers the applied wallpaper in the
// user defaults ("currentWallpaperID", "currentWallpaperScreenIDs") and
// publishes its state to the views and the menu.
//
// The manager knows nothing of the catalogue or the cache: callers hand it a
// local file. None of its operations fails; a file that cannot be played is
// handled by each window, which keeps what it showed. When a newly applied
// video fails on every window, the manager goes back to the wallpaper applied
// before it (its file, ID and screens, in memory and in the user defaults), so
// that what is stored is what is on screen.
//
// Playback follows a PlaybackPolicy: the user's pause (pauseAll, playAll) and
// the automatic reasons (setAutomaticPauseReasons) are kept apart, and every
// window, also one made by an apply or a rebuild, follows the verdict.
//
// Main thread only. `shared()` is made on first use over the installed
// platform and the standard user defaults, and is never destroyed; tests make
// their own instances, whose platform, defaults and clock must outlive them.
// The clock times the rebuild delay and the windows' first-frame limit; tests
// pass one they move by hand.
class WallpaperManager : public QObject
{
    Q_OBJECT
    // Published: every assignment notifies, also when the value is unchanged.
    Q_PROPERTY(bool isPlaying READ isPlaying WRITE setIsPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(QString currentWallpaperID READ currentWallpaperID NOTIFY currentWallpaperIDChanged)
    Q_PROPERTY(QStringList currentWallpaperScreenIDs READ currentWallpaperScreenIDList NOTIFY
                   currentWallpaperScreenIDsChanged)

public:
    static constexpr int kRebuildDelayMs = 300;

    WallpaperManager(Platform &platform, UserDefaults &defaults,
                     DelayClock &clock = DelayClock::system(), QObject *parent = nullptr);
    ~WallpaperManager() override;

    static WallpaperManager &shared();
    // The videos the windows show or are about to show, for the cache to
    // keep while they play.
    QList<QUrl> videosInUse() const;

    // The key of a screen everywhere: its number in decimal, or its name when
    // it has no number.
    static QString screenID(const Screen &screen);

    // Plays `videoFile` on the requested screens (none or empty: every
    // connected screen) and persists the choice.
    void apply(const QUrl &videoFile, const QString &wallpaperID,
               const std::optional<QSet<QString>> &screenIDs = std::nullopt);
    // Makes the windows match the target screens; with `reloadPlayback`, every
    // kept window is also asked to play the current video.
    void rebuildWindows(bool reloadPlayback);
    // Rebuilds without reloading 0.3 s from now, replacing a rebuild that is
    // still waiting.
    void scheduleRebuild();
    // Takes every window down and forgets the wallpaper. The system's desktop
    // pictures stay as they are; see previousDesktopStore().restore().
    void stop();
    // The user's pause and resume.
    void pauseAll();
    void playAll();
    // The machine's state: the main screen covered, the power saver on.
    void setAutomaticPauseReasons(bool mainScreenCovered, bool powerSaverOn);
    const PlaybackPolicy &playbackPolicy() const { return m_policy; }
    // Bumped by every apply and stop: lets a caller that waited see whether the
    // wallpaper was chosen meanwhile.
    quint64 wallpaperChangeCount() const { return m_changeCount; }
    // Closes every window but keeps the applied wallpaper and its persisted
    // keys: for a process that is about to exit.
    void releaseWindows();

    // The still pictures, written to the "Lumivale" data folder (see stills.h)
    // and installed as the system's desktop picture, at the size the largest of
    // their screens needs (never above the video's). The decode and encode run
    // on a worker thread; the picture is set on the main thread once its file
    // is complete. The first screen whose picture cannot be set ends the
    // operation with the platform's error; later screens keep their picture.
    //
    // The frame on screen now (the first window's shown player, at its time,
    // even while another video is being prepared; else the start of the video) to
    // "FrozenWallpaper.jpg", set on the target screens, or on every screen when none of them is
    // connected. Does nothing when no wallpaper is applied.
    QCoro::Task<Result<>> freezeCurrentFrame();
    // A frame 0.1 s before the end of `videoFile` to the wallpaper's
    // "LockScreenFallback-" file, set on the requested screens (as `apply`
    // resolves them). An existing still is reused unless the video is newer.
    // When a later call has begun meanwhile, the earlier one sets nothing: the
    // newer wallpaper's still is the one that stays.
    QCoro::Task<Result<>>
    updateLockScreenFallback(QUrl videoFile, QString wallpaperID,
                             std::optional<QSet<QString>> screenIDs = std::nullopt);

    QList<Screen> targetScreens() const;
    QSet<QString> normalizedScreenIDs(const std::optional<QSet<QString>> &requested) const;

    bool isPlaying() const { return m_isPlaying; }
    void setIsPlaying(bool playing);
    // Null when no wallpaper is applied.
    QString currentWallpaperID() const { return m_currentWallpaperID.value_or(QString()); }
    std::optional<QString> currentWallpaperIDValue() const { return m_currentWallpaperID; }
    const QSet<QString> &currentWallpaperScreenIDs() const { return m_currentWallpaperScreenIDs; }
    QStringList currentWallpaperScreenIDList() const;

    const std::map<QString, std::unique_ptr<DesktopWindow>> &windows() const { return m_windows; }
    std::optional<QUrl> currentVideoURL() const { return m_currentVideoURL; }
    const QSet<QString> &targetScreenIDs() const { return m_targetScreenIDs; }
    bool isRebuildScheduled() const { return m_pendingRebuild != nullptr; }
    PreviousDesktopStore &previousDesktopStore() { return m_previousDesktopStore; }

    static inline const QString kCurrentWallpaperIDKey = QStringLiteral("currentWallpaperID");
    static inline const QString kCurrentWallpaperScreenIDsKey =
        QStringLiteral("currentWallpaperScreenIDs");
    static inline const QString kPreviousDesktopSnapshotsKey =
        QStringLiteral("previousDesktopSnapshots");

Q_SIGNALS:
    void isPlayingChanged();
    void currentWallpaperIDChanged();
    void currentWallpaperScreenIDsChanged();
    // After every rebuildWindows run, for observers that follow the windows.
    void windowsRebuilt();

private:
    void setCurrentWallpaperID(std::optional<QString> id);
    void setCurrentWallpaperScreenIDs(QSet<QString> ids);
    void closeAllWindows();
    void applyPlaybackState();
    void watchWindow(DesktopWindow &window);
    void handleVideoFailed(const QUrl &file);
    void revertToPreviousWallpaper();
    Result<> setDesktopPicture(const QUrl &picture, const QList<Screen> &screens);
    static Error managerGoneError();

    Platform &m_platform;
    UserDefaults &m_defaults;

    bool m_isPlaying = false;
    std::optional<QString> m_currentWallpaperID;
    QSet<QString> m_currentWallpaperScreenIDs;
    // Ordered by screen ID, so "the map's order" is stable.
    std::map<QString, std::unique_ptr<DesktopWindow>> m_windows;
    std::optional<QUrl> m_currentVideoURL;
    QSet<QString> m_targetScreenIDs;
    DelayClock &m_clock;
    std::unique_ptr<PendingCall> m_pendingRebuild;
    // The rebuild that is running, kept alive until it returns.
    std::unique_ptr<PendingCall> m_runningRebuild;
    PreviousDesktopStore m_previousDesktopStore;
    PlaybackPolicy m_policy;
    quint64 m_changeCount = 0;
    int m_stillGeneration = 0;

    // The wallpaper before the last apply of a new video, until that video
    // shows on some window.
    struct PreviousWallpaper
    {
        std::optional<QUrl> video;
        std::optional<QString> wallpaperID;
        QSet<QString> targetScreenIDs;
        std::optional<QString> storedID;
        std::optional<QStringList> storedScreenIDs;
    };
    std::optional<PreviousWallpaper> m_previous;
};

} // namespace lumivale
