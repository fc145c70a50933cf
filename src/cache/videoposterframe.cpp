#include "videoposterframe.h"

#include "videoposterframecache.h"

#include <QHash>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGOpacityNode>
#include <QSGRectangleNode>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace lumivale {
namespace {

constexpr int kFadeMs = 180;
// Scrolling draws frame after frame; the items look where they are at most
// this often meanwhile.
constexpr int kVisibilityCheckMs = 50;

// The stills' textures, shared by every item of a window that shows the same
// picture (copies of one QImage keep its cache key).
struct SharedTextures
{
    std::mutex mutex;
    QHash<QPair<QQuickWindow *, qint64>, std::weak_ptr<QSGTexture>> textures;
};

SharedTextures &sharedTextures()
{
    static SharedTextures shared;
    return shared;
}

// Render threads.
std::shared_ptr<QSGTexture> sharedTexture(QQuickWindow *window, const QImage &image)
{
    auto &[mutex, textures] = sharedTextures();
    std::lock_guard lock(mutex);
    const auto key = qMakePair(window, image.cacheKey());
    if (std::shared_ptr<QSGTexture> texture = textures.value(key).lock())
        return texture;
    textures.removeIf([](const auto &entry) { return entry.value().expired(); });
    std::shared_ptr<QSGTexture> texture(window->createTextureFromImage(image));
    textures.insert(key, texture);
    return texture;
}

// Holds the picture's texture for as long as the picture node shows it.
class FadeNode : public QSGOpacityNode
{
public:
    std::shared_ptr<QSGTexture> texture;
};

// The node tree: a black rectangle with, as its only child, an opacity node
// holding the picture once there is one.
struct PosterNodes
{
    QSGRectangleNode *backdrop;
    FadeNode *fade;
    QSGImageNode *picture; // may be null
};

PosterNodes nodesOf(QSGNode *root)
{
    auto *backdrop = static_cast<QSGRectangleNode *>(root);
    auto *fade = static_cast<FadeNode *>(backdrop->firstChild());
    return PosterNodes{backdrop, fade, static_cast<QSGImageNode *>(fade->firstChild())};
}

} // namespace

// Per window, the items still waiting for their stills: looks where they are
// after they join and while the scene moves. GUI thread.
class PosterRequestScheduler : public QObject
{
public:
    static PosterRequestScheduler *of(QQuickWindow *window)
    {
        // Found by name: the class has no meta-object of its own to cast by.
        auto *scheduler = dynamic_cast<PosterRequestScheduler *>(
            window->findChild<QObject *>(kName, Qt::FindDirectChildrenOnly));
        return scheduler ? scheduler : new PosterRequestScheduler(window);
    }

    void add(VideoPosterFrame *item)
    {
        if (!m_items.contains(item))
            m_items.append(item);
        item->m_lastScenePosition = item->mapToScene(QPointF());
        scheduleCheck();
    }

private:
    static inline const QString kName = QStringLiteral("lumivale-poster-requests");

    explicit PosterRequestScheduler(QQuickWindow *window)
        : QObject(window)
        , m_window(window)
    {
        setObjectName(kName);
        connect(window, &QQuickWindow::afterAnimating, this,
                &PosterRequestScheduler::scheduleCheck);
    }

    void scheduleCheck()
    {
        if (m_checkQueued || m_items.isEmpty())
            return;
        m_checkQueued = true;
        QTimer::singleShot(kVisibilityCheckMs, this, &PosterRequestScheduler::check);
    }

    void check()
    {
        m_checkQueued = false;
        const QRectF view(QPointF(0, 0), m_window->size());
        const QRectF area = view.marginsAdded(
            QMarginsF(view.width() / 2, view.height() / 2, view.width() / 2, view.height() / 2));
        bool moving = false;
        m_items.removeIf([&](const QPointer<VideoPosterFrame> &item) {
            return !item || item->window() != m_window ||
                   !item->followVisibility(area, view.center(), moving);
        });
        // Items still moving ask once they have stopped, also when no frame
        // is drawn meanwhile.
        if (moving)
            scheduleCheck();
    }

    QQuickWindow *m_window;
    QList<QPointer<VideoPosterFrame>> m_items;
    bool m_checkQueued = false;
};

VideoPosterFrame::VideoPosterFrame(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
    m_fade.setDuration(kFadeMs);
    m_fade.setEasingCurve(QEasingCurve::OutQuad);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_imageOpacity = value.toReal();
        update();
    });
    connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        if (m_imageOpacity <= 0.0 && !m_image.isNull()) {
            m_image = QImage();
            m_textureDirty = true;
            Q_EMIT imageChanged();
            update();
        }
    });
}

VideoPosterFrame::~VideoPosterFrame()
{
    withdrawRequest();
}

void VideoPosterFrame::setVideo(const QUrl &video)
{
    if (video == m_video)
        return;
    m_video = video;
    Q_EMIT videoChanged();
    restartRequest();
}

void VideoPosterFrame::setMaximumSize(const QSizeF &maximumSize)
{
    if (maximumSize == m_maximumSize)
        return;
    m_maximumSize = maximumSize;
    Q_EMIT maximumSizeChanged();
}

void VideoPosterFrame::componentComplete()
{
    QQuickItem::componentComplete();
    restartRequest();
}

void VideoPosterFrame::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange && value.window && m_request != Request::Answered)
        PosterRequestScheduler::of(value.window)->add(this);
}

void VideoPosterFrame::restartRequest()
{
    withdrawRequest();
    if (m_video.isEmpty()) {
        setImage(std::nullopt);
        m_request = Request::Answered;
        return;
    }
    m_request = Request::Wanted;
    if (isComponentComplete() && window())
        PosterRequestScheduler::of(window())->add(this);
}

void VideoPosterFrame::withdrawRequest()
{
    ++m_requestGeneration; // an answer still on its way is not shown
    if (m_request == Request::Waiting)
        VideoPosterFrameCache::shared().withdraw(m_requestedVideo, m_requestedSize);
    m_request = Request::Wanted;
}

bool VideoPosterFrame::followVisibility(const QRectF &area, QPointF centre, bool &moving)
{
    if (m_request == Request::Answered || !isComponentComplete())
        return m_request != Request::Answered;
    const QRectF scene = mapRectToScene(boundingRect());
    const bool near = isVisible() && !scene.isEmpty() && scene.intersects(area);
    const QPointF offset = scene.center() - centre;
    const qreal distance = std::hypot(offset.x(), offset.y());
    // Items that a scroll or a drag sweeps past are not worth a still: only
    // one that has stayed put since the last look asks.
    const QPointF at = mapToScene(QPointF());
    const bool settled = at == m_lastScenePosition;
    m_lastScenePosition = at;
    if (near && m_request == Request::Wanted && !settled)
        moving = true;
    else if (near && m_request == Request::Wanted)
        loadPosterFrame(distance);
    else if (near)
        VideoPosterFrameCache::shared().setDistance(m_requestedVideo, m_requestedSize, distance);
    else if (m_request == Request::Waiting)
        withdrawRequest();
    return true;
}

QCoro::Task<> VideoPosterFrame::loadPosterFrame(qreal distance)
{
    const quint64 generation = ++m_requestGeneration;
    m_request = Request::Waiting;
    m_requestedVideo = m_video;
    m_requestedSize = m_maximumSize;
    QPointer<VideoPosterFrame> self(this);
    std::optional<QImage> image =
        co_await VideoPosterFrameCache::shared().posterFrame(m_video, m_maximumSize, distance);
    // The item went away, withdrew, or its video changed meanwhile.
    if (!self || generation != self->m_requestGeneration)
        co_return;
    self->m_request = Request::Answered;
    self->setImage(std::move(image));
}

void VideoPosterFrame::setImage(std::optional<QImage> image)
{
    m_fade.stop();
    if (image) {
        m_image = std::move(*image);
        m_textureDirty = true;
        Q_EMIT imageChanged();
        m_fade.setStartValue(m_imageOpacity);
        m_fade.setEndValue(1.0);
    } else if (!m_image.isNull()) {
        // Fades out first; the picture is dropped when the fade ends.
        m_fade.setStartValue(m_imageOpacity);
        m_fade.setEndValue(0.0);
    } else {
        return;
    }
    m_fade.start();
}

QSGNode *VideoPosterFrame::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    if (!oldNode) {
        QSGRectangleNode *backdrop = window()->createRectangleNode();
        backdrop->setColor(Qt::black);
        auto *fade = new FadeNode;
        fade->setFlag(QSGNode::OwnedByParent);
        backdrop->appendChildNode(fade);
        oldNode = backdrop;
    }
    PosterNodes nodes = nodesOf(oldNode);
    nodes.backdrop->setRect(boundingRect());

    if (m_textureDirty) {
        m_textureDirty = false;
        delete nodes.picture;
        nodes.picture = nullptr;
        nodes.fade->texture.reset();
        if (!m_image.isNull()) {
            nodes.picture = window()->createImageNode();
            nodes.picture->setFlag(QSGNode::OwnedByParent);
            nodes.fade->texture = sharedTexture(window(), m_image);
            nodes.picture->setTexture(nodes.fade->texture.get());
            nodes.picture->setFiltering(QSGTexture::Linear);
            nodes.fade->appendChildNode(nodes.picture);
        }
    }
    if (nodes.picture)
        nodes.picture->setRect(boundingRect());
    nodes.fade->setOpacity(m_imageOpacity);
    return oldNode;
}

int VideoPosterFrame::textureCount()
{
    auto &[mutex, textures] = sharedTextures();
    std::lock_guard lock(mutex);
    return int(std::count_if(textures.cbegin(), textures.cend(),
                             [](const auto &texture) { return !texture.expired(); }));
}

void registerVideoPosterFrameType()
{
    static const int type = qmlRegisterType<VideoPosterFrame>("Lumivale", 1, 0, "VideoPosterFrame");
    Q_UNUSED(type);
}

} // namespace lumivale
