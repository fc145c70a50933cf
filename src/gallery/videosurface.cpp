#include "videosurface.h"

#include "platform/platform.h"

#include <QEasingCurve>
#include <QPropertyAnimation>
#include <QQuickWindow>
#include <QSGRectangleNode>

namespace lumivale {
namespace {

// The usual ease-out curve of interface animations.
QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

} // namespace

VideoSurface::VideoSurface(QQuickItem *parent)
    : QQuickItem(parent)
    , m_playback(
          [this](const QUrl &url) { return Platform::instance().createGalleryPlayer(url, this); })
{
    setFlag(ItemHasContents);
    m_fadeIn = new QPropertyAnimation(this);
    m_fadeIn->setPropertyName("opacity");
    m_fadeIn->setStartValue(0.0);
    m_fadeIn->setEndValue(1.0);
    m_fadeIn->setDuration(kFadeInMs);
    m_fadeIn->setEasingCurve(easeOut());
    connect(&m_playback, &VideoSurfacePlayback::stateChanged, this, &VideoSurface::followState);
    // A parent given here joined its window before this class could hear of it.
    updateOnScreen();
}

VideoSurface::~VideoSurface()
{
    m_fadeIn->stop();
    m_playback.releasePlayer(false);
}

void VideoSurface::setUrl(const QUrl &url)
{
    if (url == m_playback.url())
        return;
    m_playback.setUrl(url);
    Q_EMIT urlChanged();
}

void VideoSurface::setPlaying(bool playing)
{
    if (playing == m_playback.isPlaying())
        return;
    m_playback.setPlaying(playing);
    Q_EMIT isPlayingChanged();
}

void VideoSurface::setLoop(bool loop)
{
    if (loop == m_playback.loop())
        return;
    m_playback.setLoop(loop);
    Q_EMIT loopChanged();
}

void VideoSurface::setMuted(bool muted)
{
    if (muted == m_playback.muted())
        return;
    m_playback.setMuted(muted);
    Q_EMIT mutedChanged();
}

void VideoSurface::setVideoGravity(VideoGravity gravity)
{
    if (gravity == videoGravity())
        return;
    m_playback.setGravity(GalleryPlayer::Gravity(gravity));
    Q_EMIT videoGravityChanged();
}

void VideoSurface::setPlaceholderColor(const QColor &color)
{
    if (color == m_placeholderColor)
        return;
    m_placeholderColor = color;
    update();
    Q_EMIT placeholderColorChanged();
}

void VideoSurface::setReleaseWhenPaused(bool release)
{
    if (release == m_playback.releaseWhenPaused())
        return;
    m_playback.setReleaseWhenPaused(release);
    Q_EMIT releaseWhenPausedChanged();
}

void VideoSurface::componentComplete()
{
    QQuickItem::componentComplete();
    updateOnScreen();
}

void VideoSurface::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemVisibleHasChanged)
        updateOnScreen();
}

void VideoSurface::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    layoutPicture();
}

void VideoSurface::updateOnScreen()
{
    // Items made by QML wait until all their properties are set.
    m_playback.setOnScreen(isComponentComplete() && window() && isVisible());
}

void VideoSurface::followState()
{
    GalleryPlayer *player = m_playback.player();
    QQuickItem *picture = player ? player->pictureItem() : nullptr;
    if (picture != m_picture) {
        m_fadeIn->stop();
        m_fadeIn->setTargetObject(picture);
        m_picture = picture;
        if (picture) {
            picture->setOpacity(0);
            layoutPicture();
        }
    }
    if (m_picture && state() == State::Ready && m_picture->opacity() == 0 &&
        m_fadeIn->state() != QAbstractAnimation::Running)
        m_fadeIn->start();
    else if (m_picture && state() != State::Ready) {
        m_fadeIn->stop();
        m_picture->setOpacity(0);
    }
    Q_EMIT stateChanged();
}

void VideoSurface::layoutPicture()
{
    if (m_picture) {
        m_picture->setPosition(QPointF(0, 0));
        m_picture->setSize(size());
    }
}

QSGNode *VideoSurface::updatePaintNode(QSGNode *node, UpdatePaintNodeData *)
{
    if (m_placeholderColor.alpha() == 0 || width() <= 0 || height() <= 0) {
        delete node;
        return nullptr;
    }
    auto *rectangle = static_cast<QSGRectangleNode *>(node);
    if (!rectangle)
        rectangle = window()->createRectangleNode();
    rectangle->setRect(boundingRect());
    rectangle->setColor(m_placeholderColor);
    return rectangle;
}

} // namespace lumivale
