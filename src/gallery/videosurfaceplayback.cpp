#include "videosurfaceplayback.h"

#include "platform/error.h"

namespace lumivale {

VideoSurfacePlayback::VideoSurfacePlayback(PlayerFactory makePlayer, QObject *parent)
    : QObject(parent)
    , m_makePlayer(std::move(makePlayer))
{}

VideoSurfacePlayback::~VideoSurfacePlayback()
{
    if (m_player)
        m_player->disconnect(this);
}

void VideoSurfacePlayback::setUrl(const QUrl &url)
{
    if (url == m_url)
        return;
    m_url = url;
    syncPlayback();
}

void VideoSurfacePlayback::setPlaying(bool playing)
{
    if (playing == m_isPlaying)
        return;
    m_isPlaying = playing;
    syncPlayback();
}

void VideoSurfacePlayback::setMuted(bool muted)
{
    m_muted = muted;
    if (m_player)
        m_player->setMuted(muted);
}

void VideoSurfacePlayback::setGravity(GalleryPlayer::Gravity gravity)
{
    m_gravity = gravity;
    if (m_player)
        m_player->setGravity(gravity);
}

void VideoSurfacePlayback::setReleaseWhenPaused(bool release)
{
    if (release == m_releaseWhenPaused)
        return;
    m_releaseWhenPaused = release;
    syncPlayback();
}

void VideoSurfacePlayback::setOnScreen(bool onScreen)
{
    if (onScreen == m_onScreen)
        return;
    m_onScreen = onScreen;
    if (onScreen)
        syncPlayback();
    else
        releasePlayer(false);
}

VideoSurfacePlayback::State VideoSurfacePlayback::state() const
{
    if (!m_player)
        return State::Idle;
    switch (m_playerStatus) {
    case ItemStatus::Unknown:
        return State::Loading;
    case ItemStatus::ReadyToPlay:
        return State::Ready;
    case ItemStatus::Failed:
        return State::Failed;
    }
    return State::Idle;
}

void VideoSurfacePlayback::syncPlayback()
{
    // Off screen there is nothing to show; coming back syncs again.
    if (!m_onScreen || m_url.isEmpty() || (!m_isPlaying && m_releaseWhenPaused)) {
        releasePlayer(false);
        return;
    }
    preparePlayer();
    if (!m_player)
        return;
    m_player->setMuted(m_muted);
    if (m_isPlaying)
        m_player->play();
    else
        m_player->pause();
}

void VideoSurfacePlayback::preparePlayer()
{
    if (!m_onScreen || m_url.isEmpty() || (!m_isPlaying && m_releaseWhenPaused)) {
        releasePlayer(false);
        return;
    }
    // The existing player stays, whatever its status: a failed URL is not retried.
    if (m_loadedUrl == m_url)
        return;

    releasePlayer(true);
    m_loadedUrl = m_url;
    std::unique_ptr<GalleryPlayer> player = m_makePlayer(m_url);
    if (!player)
        return;
    player->setMuted(m_muted);
    player->setGravity(m_gravity);
    GalleryPlayer *raw = player.get();
    connect(raw, &GalleryPlayer::itemStatusChanged, this,
            [this, raw] { handleStatus(raw->itemStatus(), raw->errorDescription()); });
    connect(raw, &GalleryPlayer::playedToEnd, this, &VideoSurfacePlayback::playedToEnd);
    m_player = std::move(player);
    setPlayerStatus(ItemStatus::Unknown);
}

void VideoSurfacePlayback::releasePlayer(bool keepLoadedUrl)
{
    if (m_player) {
        m_player->disconnect(this);
        m_player->pause();
        m_player.reset();
    }
    if (!keepLoadedUrl)
        m_loadedUrl.clear();
    setPlayerStatus(ItemStatus::Unknown);
}

void VideoSurfacePlayback::handleStatus(ItemStatus status, const QString &errorDescription)
{
    if (status == ItemStatus::Failed) {
        logLine(QStringLiteral("video playback failed: ") +
                (errorDescription.isEmpty() ? QStringLiteral("unknown error") : errorDescription));
    }
    setPlayerStatus(status);
    syncPlayback();
}

void VideoSurfacePlayback::setPlayerStatus(ItemStatus status)
{
    m_playerStatus = status;
    const State now = state();
    if (now != m_reportedState) {
        m_reportedState = now;
        Q_EMIT stateChanged();
    }
}

void VideoSurfacePlayback::playedToEnd()
{
    // Without looping the player holds the last frame.
    if (m_loop && m_player) {
        m_player->seekToStart();
        if (m_isPlaying)
            m_player->play();
    }
}

} // namespace lumivale
