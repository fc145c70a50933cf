#pragma once

#include "platform/galleryplayer.h"

#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>

namespace lumivale {

// What a video surface does with its player: when to make one, when to drop
// it, when to play, pause and loop it, and what its picture shows. The item
// (VideoSurface) sets the inputs and follows `state`; tests drive it directly
// with the platform's fake player.
//
// A player is made once per URL and reused across every change of the other
// inputs; it is dropped when the URL goes, when the surface leaves the screen,
// and while paused if `releaseWhenPaused` is set. A failed player stays (and
// is not retried) until the URL changes or the surface comes on screen again.
// Each failure report writes one "video playback failed:" line.
//
// Main thread only. Owns its player.
class VideoSurfacePlayback : public QObject
{
    Q_OBJECT

public:
    using PlayerFactory = std::function<std::unique_ptr<GalleryPlayer>(const QUrl &url)>;
    using ItemStatus = GalleryPlayer::ItemStatus;

    enum class State {
        Idle,    // no player: the placeholder
        Loading, // a player without a frame yet: the placeholder
        Ready,   // the video over the placeholder, playing or paused
        Failed,  // the placeholder, until the URL changes or the surface comes back
    };
    Q_ENUM(State)

    explicit VideoSurfacePlayback(PlayerFactory makePlayer, QObject *parent = nullptr);
    ~VideoSurfacePlayback() override;

    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url);
    bool isPlaying() const { return m_isPlaying; }
    void setPlaying(bool playing);
    bool loop() const { return m_loop; }
    void setLoop(bool loop) { m_loop = loop; }
    bool muted() const { return m_muted; }
    void setMuted(bool muted);
    GalleryPlayer::Gravity gravity() const { return m_gravity; }
    void setGravity(GalleryPlayer::Gravity gravity);
    bool releaseWhenPaused() const { return m_releaseWhenPaused; }
    void setReleaseWhenPaused(bool release);
    bool isOnScreen() const { return m_onScreen; }
    // Coming on screen syncs; leaving releases the player and forgets its URL.
    void setOnScreen(bool onScreen);

    GalleryPlayer *player() const { return m_player.get(); }
    QUrl loadedUrl() const { return m_loadedUrl; }
    ItemStatus playerStatus() const { return m_playerStatus; }
    State state() const;

    // The transitions, public for tests.
    void syncPlayback();
    void preparePlayer();
    void releasePlayer(bool keepLoadedUrl);
    void handleStatus(ItemStatus status, const QString &errorDescription);

Q_SIGNALS:
    void stateChanged();

private:
    void setPlayerStatus(ItemStatus status);
    void playedToEnd();

    PlayerFactory m_makePlayer;
    QUrl m_url;
    bool m_isPlaying = false;
    bool m_loop = true;
    bool m_muted = true;
    GalleryPlayer::Gravity m_gravity = GalleryPlayer::Gravity::ResizeAspectFill;
    bool m_releaseWhenPaused = false;
    bool m_onScreen = false;

    std::unique_ptr<GalleryPlayer> m_player;
    QUrl m_loadedUrl;
    ItemStatus m_playerStatus = ItemStatus::Unknown;
    State m_reportedState = State::Idle;
};

} // namespace lumivale
