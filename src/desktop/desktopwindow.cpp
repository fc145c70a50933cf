#include "desktopwindow.h"

#include "platform/platform.h"
#include "wallpapermanager.h"

#include <QPointer>

namespace lumivale {

DesktopWindow::DesktopWindow(Platform &platform, const Screen &screen, DelayClock &clock,
                             QObject *parent)
    : QObject(parent)
    , m_screenID(WallpaperManager::screenID(screen))
    , m_surface(platform.createDesktopSurface(screen))
    , m_clock(clock)
{
    m_surface->setFrame(screen.frame);
}

DesktopWindow::~DesktopWindow()
{
    stopPlayback();
}

void DesktopWindow::playVideo(const QUrl &file)
{
    if (m_currentVideoURL == file && !m_pendingVideoURL) {
        m_surface->orderFront();
        if (!m_paused)
            m_player->play();
        return;
    }
    if (m_pendingVideoURL == file) {
        m_surface->orderFront();
        m_pendingPlayer->play();
        return;
    }

    const qint64 generation = ++m_playbackGeneration;
    cancelPending();

    // Over a shown video the new layer stays transparent until its first frame
    // is drawn; on an empty window it may show as soon as it has one.
    m_pendingPlayer = m_surface->createPlayer(file, m_player ? 0.0 : 1.0);
    m_pendingVideoURL = file;
    VideoPlayer *pending = m_pendingPlayer.get();

    m_surface->orderFront();
    pending->play();

    if (!pending->hasCurrentItem()) {
        promotePending(generation);
        return;
    }

    // Status reports always come back through the event queue, even the first
    // one, so the observation is stored before any report is handled.
    m_firstFrameCall = m_clock.callAfter(int(kFirstFrameLimit.count()), [this, generation] {
        m_runningFirstFrameCall = std::move(m_firstFrameCall);
        failPending(generation);
    });
    const QPointer<DesktopWindow> self(this);
    const QPointer<VideoPlayer> item(pending);
    const auto report = [self, generation, item] {
        if (self && item)
            self->handlePendingStatus(generation, item);
    };
    m_pendingStatusObservation =
        connect(pending, &VideoPlayer::itemStatusChanged, this, report, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, report, Qt::QueuedConnection);
}

void DesktopWindow::handlePendingStatus(qint64 generation, VideoPlayer *item)
{
    if (generation != m_playbackGeneration || item != m_pendingPlayer.get())
        return;
    switch (item->itemStatus()) {
    case VideoPlayer::ItemStatus::Failed:
        failPending(generation);
        break;
    case VideoPlayer::ItemStatus::ReadyToPlay:
        promotePending(generation);
        break;
    case VideoPlayer::ItemStatus::Unknown:
        break;
    }
}

void DesktopWindow::promotePending(qint64 generation)
{
    if (generation != m_playbackGeneration || !m_pendingPlayer || !m_pendingVideoURL)
        return;

    std::unique_ptr<VideoPlayer> oldPlayer = std::move(m_player);

    disconnect(m_pendingStatusObservation);
    m_pendingStatusObservation = {};
    std::unique_ptr<VideoPlayer> promoted = std::move(m_pendingPlayer);
    const QUrl promotedURL = *std::exchange(m_pendingVideoURL, std::nullopt);

    removeLoopObserver();
    m_player = std::move(promoted);
    m_currentVideoURL = promotedURL;
    installLoopObserver(m_player.get());

    m_player->setLayerOpacity(1.0);
    if (oldPlayer) {
        oldPlayer->pause();
        oldPlayer.reset();
    }
    if (m_paused)
        m_player->pause();
    else
        m_player->play();
    Q_EMIT videoShown(promotedURL);
}

void DesktopWindow::failPending(qint64 generation)
{
    if (generation != m_playbackGeneration || !m_pendingVideoURL)
        return;
    const QUrl failed = *m_pendingVideoURL;
    cancelPending();
    Q_EMIT videoFailed(failed);
}

void DesktopWindow::cancelPending()
{
    m_firstFrameCall.reset();
    disconnect(m_pendingStatusObservation);
    m_pendingStatusObservation = {};
    if (m_pendingPlayer) {
        m_pendingPlayer->pause();
        m_pendingPlayer.reset();
    }
    m_pendingVideoURL.reset();
}

void DesktopWindow::installLoopObserver(VideoPlayer *player)
{
    const QPointer<VideoPlayer> weakPlayer(player);
    m_loopObserver = connect(player, &VideoPlayer::playedToEnd, this, [this, weakPlayer] {
        if (!weakPlayer)
            return;
        weakPlayer->seekToStart();
        if (!m_paused)
            weakPlayer->play();
    });
}

void DesktopWindow::removeLoopObserver()
{
    if (m_loopObserver) {
        disconnect(m_loopObserver);
        m_loopObserver = {};
    }
}

void DesktopWindow::updateFrame(const Screen &screen)
{
    // Layers fill the surface, so they follow its frame by themselves.
    m_surface->setFrame(screen.frame);
}

void DesktopWindow::setPlaybackPaused(bool paused)
{
    m_paused = paused;
    if (!m_player)
        return;
    if (paused)
        m_player->pause();
    else
        m_player->play();
}

void DesktopWindow::close()
{
    m_surface->close();
}

void DesktopWindow::stopPlayback()
{
    ++m_playbackGeneration;
    cancelPending();
    if (m_player)
        m_player->pause();
    removeLoopObserver();
    m_player.reset();
    m_currentVideoURL.reset();
}

} // namespace lumivale
