#pragma once

#include "platform/galleryplayer.h"

#include <QPointer>

namespace lumivale {

class MpvCore;
class MpvVideoItem;

// A gallery player over libmpv, drawn by an MpvVideoItem (see there for the
// two render paths and how a player winds down). Plays local files and
// http/https streams with a bounded network cache; any other scheme fails at
// once, since mpv would open far more than videos.
//
// Main thread only.
class MpvGalleryPlayer : public GalleryPlayer
{
    Q_OBJECT

public:
    MpvGalleryPlayer(const QUrl &url, QQuickItem *view);
    ~MpvGalleryPlayer() override;

    QUrl url() const override { return m_url; }
    ItemStatus itemStatus() const override { return m_status; }
    QString errorDescription() const override { return m_error; }
    void play() override;
    void pause() override;
    bool isPaused() const override { return m_paused; }
    void setMuted(bool muted) override;
    bool isMuted() const override { return m_muted; }
    void setGravity(Gravity gravity) override;
    void seekToStart() override;
    QQuickItem *pictureItem() const override;

private:
    void fail(const QString &reason);
    void setStatus(ItemStatus status);

    QUrl m_url;
    QPointer<MpvCore> m_core;
    QPointer<MpvVideoItem> m_item;
    ItemStatus m_status = ItemStatus::Unknown;
    QString m_error;
    bool m_paused = true;
    bool m_muted = true;
};

} // namespace lumivale
