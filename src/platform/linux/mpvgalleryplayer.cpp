#include "mpvgalleryplayer.h"

#include "mpvcore.h"
#include "mpvvideoitem.h"

#include <QFile>
#include <mpv/client.h>

namespace lumivale {
namespace {

QByteArray loadArgument(const QUrl &url)
{
    if (url.isLocalFile())
        return QFile::encodeName(url.toLocalFile());
    if (url.scheme() == u"http" || url.scheme() == u"https")
        return url.toEncoded();
    return {};
}

} // namespace

MpvGalleryPlayer::MpvGalleryPlayer(const QUrl &url, QQuickItem *view)
    : m_url(url)
{
    const QByteArray file = loadArgument(url);
    if (file.isEmpty()) {
        fail(QStringLiteral("unsupported URL: %1").arg(url.toDisplayString()));
        return;
    }
    // Streams get a read-ahead cache, bounded so that a long video cannot
    // take the memory; it also keeps a short clip for the seek back that loops it.
    m_core = MpvCore::createWithOptions({
        {"cache", "yes"},
        {"demuxer-max-bytes", "24MiB"},
        {"demuxer-max-back-bytes", "24MiB"},
        {"network-timeout", "20"},
    });
    if (!m_core) {
        fail(QStringLiteral("libmpv cannot start"));
        return;
    }
    connect(m_core, &MpvCore::loadFailed, this,
            [this] { fail(m_core ? m_core->lastErrorDescription() : QString()); });
    connect(m_core, &MpvCore::fileLoaded, this, [this](bool playable) {
        if (!playable)
            fail(QStringLiteral("no video track"));
    });
    connect(m_core, &MpvCore::endReached, this, &GalleryPlayer::playedToEnd);

    m_item = new MpvVideoItem(m_core, file, view);
    connect(m_item, &MpvVideoItem::frameDrawn, this,
            [this] { setStatus(ItemStatus::ReadyToPlay); });
    connect(m_item, &MpvVideoItem::renderFailed, this, &MpvGalleryPlayer::fail);
}

MpvGalleryPlayer::~MpvGalleryPlayer()
{
    if (m_core)
        disconnect(m_core, nullptr, this, nullptr);
    if (m_item) {
        disconnect(m_item, nullptr, this, nullptr);
        m_item->retire();
    } else if (m_core) {
        m_core->terminateLater();
    }
}

void MpvGalleryPlayer::play()
{
    m_paused = false;
    if (m_core)
        m_core->setPaused(false);
}

void MpvGalleryPlayer::pause()
{
    m_paused = true;
    if (m_core)
        m_core->setPaused(true);
}

void MpvGalleryPlayer::setMuted(bool muted)
{
    m_muted = muted;
    if (!m_core)
        return;
    // Muted players select no audio track at all, so no audio is decoded or
    // output; unmuting picks one without remaking the player.
    if (!muted)
        mpv_set_property_string(m_core->handle(), "aid", "auto");
    mpv_set_property_string(m_core->handle(), "mute", muted ? "yes" : "no");
}

void MpvGalleryPlayer::setGravity(Gravity gravity)
{
    if (!m_core)
        return;
    mpv_set_property_string(m_core->handle(), "panscan",
                            gravity == Gravity::ResizeAspectFill ? "1.0" : "0.0");
    mpv_set_property_string(m_core->handle(), "keepaspect",
                            gravity == Gravity::Resize ? "no" : "yes");
}

void MpvGalleryPlayer::seekToStart()
{
    if (m_core)
        m_core->command({"seek", "0", "absolute"});
}

QQuickItem *MpvGalleryPlayer::pictureItem() const
{
    return m_item;
}

void MpvGalleryPlayer::fail(const QString &reason)
{
    m_error = reason;
    // A player reports its failure once, after its owner has begun to listen.
    if (m_status != ItemStatus::Failed) {
        m_status = ItemStatus::Failed;
        QMetaObject::invokeMethod(this, &GalleryPlayer::itemStatusChanged, Qt::QueuedConnection);
    }
}

void MpvGalleryPlayer::setStatus(ItemStatus status)
{
    if (m_status == status || m_status == ItemStatus::Failed)
        return;
    m_status = status;
    Q_EMIT itemStatusChanged();
}

} // namespace lumivale
