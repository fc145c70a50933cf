#include "videoposterframe.h"

#include "videoposterframecache.h"

#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGOpacityNode>
#include <QSGRectangleNode>

namespace lumivale {
namespace {

constexpr int kFadeMs = 180;

// The node tree: a black rectangle with, as its only child, an opacity node
// holding the picture once there is one.
struct PosterNodes
{
    QSGRectangleNode *backdrop;
    QSGOpacityNode *fade;
    QSGImageNode *picture; // may be null
};

PosterNodes nodesOf(QSGNode *root)
{
    auto *backdrop = static_cast<QSGRectangleNode *>(root);
    auto *fade = static_cast<QSGOpacityNode *>(backdrop->firstChild());
    return PosterNodes{backdrop, fade, static_cast<QSGImageNode *>(fade->firstChild())};
}

} // namespace

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

VideoPosterFrame::~VideoPosterFrame() = default;

void VideoPosterFrame::setVideo(const QUrl &video)
{
    if (video == m_video)
        return;
    m_video = video;
    Q_EMIT videoChanged();
    if (isComponentComplete())
        loadPosterFrame();
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
    loadPosterFrame();
}

QCoro::Task<> VideoPosterFrame::loadPosterFrame()
{
    const quint64 generation = ++m_requestGeneration;
    if (m_video.isEmpty())
        co_return;
    QPointer<VideoPosterFrame> self(this);
    std::optional<QImage> image =
        co_await VideoPosterFrameCache::shared().posterFrame(m_video, m_maximumSize);
    // The item went away, or its video changed while this one was extracted.
    if (!self || generation != self->m_requestGeneration)
        co_return;
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
        auto *fade = new QSGOpacityNode;
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
        if (!m_image.isNull()) {
            nodes.picture = window()->createImageNode();
            nodes.picture->setFlag(QSGNode::OwnedByParent);
            nodes.picture->setTexture(window()->createTextureFromImage(m_image));
            nodes.picture->setOwnsTexture(true);
            nodes.picture->setFiltering(QSGTexture::Linear);
            nodes.fade->appendChildNode(nodes.picture);
        }
    }
    if (nodes.picture)
        nodes.picture->setRect(boundingRect());
    nodes.fade->setOpacity(m_imageOpacity);
    return oldNode;
}

void registerVideoPosterFrameType()
{
    static const int type = qmlRegisterType<VideoPosterFrame>("Lumivale", 1, 0, "VideoPosterFrame");
    Q_UNUSED(type);
}

} // namespace lumivale
