#pragma once

#include <QImage>
#include <QQuickItem>
#include <QSizeF>
#include <QUrl>
#include <QVariantAnimation>
#include <qcoro/qcorotask.h>

namespace lumivale {

// A video's still picture over a black backdrop, for cards, the home view and
// the detail page. Fills its whole item (the picture is stretched; the caller
// chooses the aspect by the size it gives). Once `video` is set and the item
// is visible within its window (or half a window from it), and again each
// time `video` changes, the item asks VideoPosterFrameCache::shared() for the
// still at `maximumSize` (the size at which the caller shows it), nearest to
// the window's centre first, once it has stopped moving (cards that a scroll
// sweeps past do not ask), and fades the answer in over 0.18 s; until then,
// and when there is no still, only the black shows. An item that leaves that
// area before its extraction starts withdraws its request. Changing
// `maximumSize` alone does not ask again. Items showing the same still share
// one texture.
//
// In QML: `import Lumivale; VideoPosterFrame { video: ...; maximumSize: ... }`
// after registerVideoPosterFrameType(). GUI thread only.
class VideoPosterFrame : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(QUrl video READ video WRITE setVideo NOTIFY videoChanged)
    Q_PROPERTY(QSizeF maximumSize READ maximumSize WRITE setMaximumSize NOTIFY maximumSizeChanged)
    // Whether a still is shown (or fading in or out).
    Q_PROPERTY(bool hasImage READ hasImage NOTIFY imageChanged)

public:
    explicit VideoPosterFrame(QQuickItem *parent = nullptr);
    ~VideoPosterFrame() override;

    const QUrl &video() const { return m_video; }
    void setVideo(const QUrl &video);
    const QSizeF &maximumSize() const { return m_maximumSize; }
    void setMaximumSize(const QSizeF &maximumSize);
    bool hasImage() const { return !m_image.isNull(); }
    const QImage &image() const { return m_image; }
    // Stills' textures alive in all windows, for tests and diagnostics; any
    // thread.
    static int textureCount();

Q_SIGNALS:
    void videoChanged();
    void maximumSizeChanged();
    void imageChanged();

protected:
    void componentComplete() override;
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;

    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    friend class PosterRequestScheduler;
    enum class Request { Wanted, Waiting, Answered };
    // Asks for the still, or withdraws the request, as the item comes within
    // `area` (scene coordinates) and stays put there, or leaves it; `centre`
    // is what nearness is measured from. Sets `moving` when the item waits
    // for itself to stop. Returns whether the item still waits to be answered.
    bool followVisibility(const QRectF &area, QPointF centre, bool &moving);
    void restartRequest();
    void withdrawRequest();
    QCoro::Task<> loadPosterFrame(qreal distance);
    void setImage(std::optional<QImage> image);

    QUrl m_video;
    QSizeF m_maximumSize;
    QImage m_image;
    bool m_textureDirty = false;
    qreal m_imageOpacity = 0.0;
    QVariantAnimation m_fade;
    // Bumped per request, so that only the latest one's answer is shown.
    quint64 m_requestGeneration = 0;
    Request m_request = Request::Wanted;
    // What the waiting request asked for.
    QUrl m_requestedVideo;
    QSizeF m_requestedSize;
    // Where the item was when last looked at, in scene coordinates.
    QPointF m_lastScenePosition;
};

// Makes VideoPosterFrame available to QML as "VideoPosterFrame" in the module
// "Lumivale" 1.0. Safe to call more than once; GUI thread.
void registerVideoPosterFrameType();

} // namespace lumivale
