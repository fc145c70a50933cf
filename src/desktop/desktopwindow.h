#pragma once

#include "platform/delayclock.h"
#include "platform/desktopsurface.h"
#include "platform/screens.h"

#include <QMetaObject>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

namespace lumivale {

class Platform;

// The window that plays the wallpaper on one screen: a desktop-level surface
// with one looping, muted video that fills it.
//
// Its care is the hand-over between videos. A new video is prepared in a second
// player whose layer lies invisible above the shown one; only once the new item
// is ready (a frame of it has been drawn) is it shown, in one step, and the old
// player stopped and dropped. The screen never goes black between wallpapers. A
// generation counter makes every late report of an abandoned preparation
// harmless.
//
// States: empty (no player) → preparing first (pending only, its layer opaque)
// → showing (player only) → handing over (player and pending, pending layer
// transparent) → showing. A failed preparation returns to what was shown.
//
// A preparation that shows no frame within the first-frame limit (10 s) counts
// as failed, like an item that reports failure: a file whose track never
// decodes never becomes the shown video.
//
// The window keeps the paused state it is given: a paused window promotes a
// new video paused (it still decodes up to its first frame, unseen) and never
// resumes by itself.
//
// Main thread only. Owns its surface and its players; destroying the window
// stops playback. A file that cannot be played leaves the window as it was;
// `videoFailed` tells the owner.
class DesktopWindow : public QObject
{
    Q_OBJECT

public:
    // The clock times the first-frame limit.
    DesktopWindow(Platform &platform, const Screen &screen,
                  DelayClock &clock = DelayClock::system(), QObject *parent = nullptr);
    ~DesktopWindow() override;

    const QString &screenID() const { return m_screenID; }

    // Shows `file`, looping. Returns at once; the hand-over completes later.
    void playVideo(const QUrl &file);
    // Follows a change of the screen's frame, for the shown and pending layer.
    void updateFrame(const Screen &screen);
    // Hides the window; the owner then destroys it.
    void close();
    // Pauses the shown player and keeps every later one paused, or resumes.
    void setPlaybackPaused(bool paused);
    bool isPlaybackPaused() const { return m_paused; }
    static constexpr std::chrono::milliseconds kFirstFrameLimit{10'000};

    // The player whose picture is shown, if any. Others may pause, play and read
    // it; the pending player is this window's own business.
    VideoPlayer *player() const { return m_player.get(); }
    std::optional<QUrl> currentVideoURL() const { return m_currentVideoURL; }
    std::optional<QUrl> pendingVideoURL() const { return m_pendingVideoURL; }
    VideoPlayer *pendingPlayer() const { return m_pendingPlayer.get(); }
    qint64 playbackGeneration() const { return m_playbackGeneration; }
    DesktopSurface &surface() const { return *m_surface; }

Q_SIGNALS:
    // A prepared video became the shown one.
    void videoShown(const QUrl &file);
    // A prepared video failed or showed no frame in time; what was shown stays.
    void videoFailed(const QUrl &file);

private:
    void cancelPending();
    void failPending(qint64 generation);
    void promotePending(qint64 generation);
    void handlePendingStatus(qint64 generation, VideoPlayer *item);
    void installLoopObserver(VideoPlayer *player);
    void removeLoopObserver();
    void stopPlayback();

    const QString m_screenID;
    // Declared first so that it goes last: players must go before their surface.
    std::unique_ptr<DesktopSurface> m_surface;
    // Each player carries its own layer, so the player and layer pairs of the
    // design are one object here.
    std::unique_ptr<VideoPlayer> m_player;
    std::unique_ptr<VideoPlayer> m_pendingPlayer;
    QMetaObject::Connection m_pendingStatusObservation;
    QMetaObject::Connection m_loopObserver;
    std::optional<QUrl> m_currentVideoURL;
    std::optional<QUrl> m_pendingVideoURL;
    qint64 m_playbackGeneration = 0;
    bool m_paused = false;
    DelayClock &m_clock;
    std::unique_ptr<PendingCall> m_firstFrameCall;
    // The call whose action runs, kept alive until it ends.
    std::unique_ptr<PendingCall> m_runningFirstFrameCall;
};

} // namespace lumivale
