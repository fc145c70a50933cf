#pragma once

#include "videosurfaceplayback.h"

#include <QColor>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

class QPropertyAnimation;

namespace lumivale {

// Plays one video in place: the placeholder colour fills the item until the
// player has drawn its first frame, then the video fades in over it (0.1 s,
// ease-out). The player comes from the platform; what happens to it as the
// properties change is VideoSurfacePlayback's business. The item counts as on
// screen while it is visible in a window.
//
// Main thread only.
class VideoSurface : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying WRITE setPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool loop READ loop WRITE setLoop NOTIFY loopChanged)
    Q_PROPERTY(bool muted READ muted WRITE setMuted NOTIFY mutedChanged)
    Q_PROPERTY(VideoGravity videoGravity READ videoGravity WRITE setVideoGravity NOTIFY
                   videoGravityChanged)
    Q_PROPERTY(QColor placeholderColor READ placeholderColor WRITE setPlaceholderColor NOTIFY
                   placeholderColorChanged)
    Q_PROPERTY(bool releaseWhenPaused READ releaseWhenPaused WRITE setReleaseWhenPaused NOTIFY
                   releaseWhenPausedChanged)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)

public:
    enum class VideoGravity {
        ResizeAspect = int(GalleryPlayer::Gravity::ResizeAspect),
        ResizeAspectFill = int(GalleryPlayer::Gravity::ResizeAspectFill),
        Resize = int(GalleryPlayer::Gravity::Resize),
    };
    Q_ENUM(VideoGravity)
    // As in VideoSurfacePlayback.
    enum class State {
        Idle = int(VideoSurfacePlayback::State::Idle),
        Loading = int(VideoSurfacePlayback::State::Loading),
        Ready = int(VideoSurfacePlayback::State::Ready),
        Failed = int(VideoSurfacePlayback::State::Failed),
    };
    Q_ENUM(State)

    static constexpr int kFadeInMs = 100;

    explicit VideoSurface(QQuickItem *parent = nullptr);
    ~VideoSurface() override;

    QUrl url() const { return m_playback.url(); }
    void setUrl(const QUrl &url);
    bool isPlaying() const { return m_playback.isPlaying(); }
    void setPlaying(bool playing);
    bool loop() const { return m_playback.loop(); }
    void setLoop(bool loop);
    bool muted() const { return m_playback.muted(); }
    void setMuted(bool muted);
    VideoGravity videoGravity() const { return VideoGravity(m_playback.gravity()); }
    void setVideoGravity(VideoGravity gravity);
    QColor placeholderColor() const { return m_placeholderColor; }
    void setPlaceholderColor(const QColor &color);
    bool releaseWhenPaused() const { return m_playback.releaseWhenPaused(); }
    void setReleaseWhenPaused(bool release);
    State state() const { return State(m_playback.state()); }

    const VideoSurfacePlayback &playback() const { return m_playback; }

Q_SIGNALS:
    void urlChanged();
    void isPlayingChanged();
    void loopChanged();
    void mutedChanged();
    void videoGravityChanged();
    void placeholderColorChanged();
    void releaseWhenPausedChanged();
    void stateChanged();

protected:
    void componentComplete() override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    QSGNode *updatePaintNode(QSGNode *node, UpdatePaintNodeData *) override;

private:
    void updateOnScreen();
    void followState();
    void layoutPicture();

    VideoSurfacePlayback m_playback;
    QColor m_placeholderColor = Qt::transparent;
    QPointer<QQuickItem> m_picture;
    QPropertyAnimation *m_fadeIn = nullptr;
};

} // namespace lumivale
