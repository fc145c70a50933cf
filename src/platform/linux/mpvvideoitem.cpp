#include "mpvvideoitem.h"

#include "mpvcore.h"

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGSimpleTextureNode>
#include <QThread>
#include <QTimer>
#include <QTransform>
#include <QtEndian>
#include <atomic>
#include <cstdlib>
#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>
#include <mutex>

namespace lumivale {

static std::atomic_int renderContexts = 0;

// What the item shares with the threads that render for it. The item goes
// first or last; whichever side remains finds here what it must still do.
struct VideoItemLink
{
    std::mutex mutex;
    MpvVideoItem *item = nullptr; // cleared when the item goes
    int contextsAlive = 0;        // render contexts made and not yet freed
    MpvCore *coreToTerminate = nullptr;
    QImage frame; // the software path's newest picture, upright
    bool hasNewFrame = false;

    // From any thread.
    void requestUpdate()
    {
        std::lock_guard lock(mutex);
        if (item)
            QMetaObject::invokeMethod(item, &QQuickItem::update, Qt::QueuedConnection);
    }
    void reportFrameDrawn()
    {
        std::lock_guard lock(mutex);
        if (item)
            QMetaObject::invokeMethod(item, &MpvVideoItem::noteFrameDrawn, Qt::QueuedConnection);
    }
    void reportFailure(const QString &reason)
    {
        std::lock_guard lock(mutex);
        if (item) {
            QMetaObject::invokeMethod(
                item, [item = item, reason] { Q_EMIT item->renderFailed(reason); },
                Qt::QueuedConnection);
        }
    }
    void publishFrame(const QImage &image)
    {
        {
            std::lock_guard lock(mutex);
            frame = image;
            hasNewFrame = true;
        }
        requestUpdate();
    }
    void contextMade()
    {
        std::lock_guard lock(mutex);
        ++contextsAlive;
        ++renderContexts;
    }
    void contextFreed()
    {
        std::lock_guard lock(mutex);
        --renderContexts;
        if (--contextsAlive == 0 && coreToTerminate)
            QMetaObject::invokeMethod(std::exchange(coreToTerminate, nullptr),
                                      &MpvCore::terminateLater, Qt::QueuedConnection);
    }
    // Main thread: the core goes once no render context of it is left.
    void terminateCoreWhenFree(MpvCore *core)
    {
        std::lock_guard lock(mutex);
        if (contextsAlive == 0)
            core->terminateLater();
        else
            coreToTerminate = core;
    }
};

namespace {

void requestUpdate(void *link)
{
    static_cast<VideoItemLink *>(link)->requestUpdate();
}

// The picture drawn by mpv's OpenGL renderer into a framebuffer object of the
// scene graph's context. Made, used and deleted on the render thread.
class OpenGLVideoNode : public QSGNode
{
public:
    explicit OpenGLVideoNode(std::shared_ptr<VideoItemLink> link)
        : m_link(std::move(link))
    {}

    ~OpenGLVideoNode() override
    {
        if (m_context) {
            mpv_render_context_set_update_callback(m_context, nullptr, nullptr);
            mpv_render_context_free(m_context);
            m_link->contextFreed();
        }
    }

    // Makes the render context, then loads the file.
    bool start(mpv_handle *mpv, const QByteArray &file)
    {
        m_context = createOpenGLRenderContext(mpv);
        if (!m_context)
            return false;
        m_link->contextMade();
        mpv_render_context_set_update_callback(m_context, &lumivale::requestUpdate, m_link.get());
        const char *load[] = {"loadfile", file.constData(), nullptr};
        mpv_command_async(mpv, 0, load);
        return true;
    }

    void setRect(const QRectF &rect)
    {
        if (m_picture)
            m_picture->setRect(rect);
    }

    // Draws a new frame, or the last one again at a new size. Returns whether
    // the texture holds a picture.
    bool render(QQuickWindow *window, QSize pixels)
    {
        const bool newFrame = mpv_render_context_update(m_context) & MPV_RENDER_UPDATE_FRAME;
        const bool resized = m_fbo && m_fbo->size() != pixels;
        if (!(newFrame || (resized && m_hasPicture)))
            return m_hasPicture;
        if (!m_fbo || resized) {
            m_fbo = std::make_unique<QOpenGLFramebufferObject>(pixels);
            if (!m_picture) {
                // A texture node goes in only once there is a texture.
                m_picture = new QSGSimpleTextureNode;
                m_picture->setOwnsTexture(true);
                appendChildNode(m_picture);
            }
            m_picture->setTexture(
                QNativeInterface::QSGOpenGLTexture::fromNative(m_fbo->texture(), window, pixels));
        }
        mpv_opengl_fbo target{int(m_fbo->handle()), pixels.width(), pixels.height(), 0};
        // A texture wrapped from OpenGL is sampled bottom row first already.
        int flip = 0;
        int block = 0;
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_OPENGL_FBO, &target},
            {MPV_RENDER_PARAM_FLIP_Y, &flip},
            {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        window->beginExternalCommands();
        mpv_render_context_render(m_context, params);
        window->endExternalCommands();
        m_picture->markDirty(DirtyMaterial);
        m_hasPicture = true;
        return true;
    }

private:
    std::shared_ptr<VideoItemLink> m_link;
    mpv_render_context *m_context = nullptr;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
    QSGSimpleTextureNode *m_picture = nullptr;
    bool m_hasPicture = false;
};

// 64-byte rows and pixels let mpv's converters take their fast paths.
QImage alignedImage(QSize size, QImage::Format format)
{
    const qsizetype stride = (qsizetype(size.width()) * 4 + 63) & ~qsizetype(63);
    void *data = std::aligned_alloc(64, size_t(stride * size.height()));
    if (!data)
        return {};
    return QImage(static_cast<uchar *>(data), size.width(), size.height(), stride, format,
                  &std::free, data);
}

// mpv leaves the padding byte of its pixels undefined, but Qt reads it as the
// alpha of both RGB32 and RGBX8888: a video fading in would show nothing until
// fully opaque in the software scene, and be added to what lies under it in
// OpenGL.
void makeOpaque(QImage &image)
{
    // RGB32 is a native 0xAARRGGBB word; RGBX8888 has the byte after blue.
    const quint32 alpha =
        image.format() == QImage::Format_RGB32 ? 0xff000000u : qFromBigEndian(0x000000ffu);
    // Out of the loop, so that it is a plain loop the compiler vectorises.
    const int width = image.width();
    const int height = image.height();
    const qsizetype stride = image.bytesPerLine();
    uchar *bits = image.bits();
    for (int y = 0; y < height; ++y) {
        auto *pixel = reinterpret_cast<quint32 *>(bits + y * stride);
        for (int x = 0; x < width; ++x)
            pixel[x] |= alpha;
    }
}

} // namespace

// mpv's software renderer on a worker thread of its own.
class SoftwareVideoRenderer : public QObject
{
public:
    SoftwareVideoRenderer(mpv_handle *mpv, QByteArray file, std::shared_ptr<VideoItemLink> link)
        : m_mpv(mpv)
        , m_file(std::move(file))
        , m_link(std::move(link))
    {
        // Pictures in the layout the scene takes as they are: Qt Quick's
        // software scene paints RGB32, OpenGL uploads RGBX bytes.
        if (QQuickWindow::graphicsApi() == QSGRendererInterface::Software) {
            m_format = QImage::Format_RGB32;
            m_mpvFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? "bgr0" : "0rgb";
        }
    }

    void start()
    {
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        if (mpv_render_context_create(&m_context, m_mpv, params) < 0) {
            m_context = nullptr;
            m_link->reportFailure(QStringLiteral("mpv has no software renderer"));
            return;
        }
        mpv_render_context_set_update_callback(
            m_context,
            [](void *self) { static_cast<SoftwareVideoRenderer *>(self)->scheduleRender(); }, this);
        // The render API tells mpv that its output turns pictures itself, so
        // mpv neither turns a rotated video nor sizes it for the software
        // renderer, which then crops the coded picture with the turned
        // picture's size and aborts. mpv leaves the rotation alone here and
        // the picture is turned after it is drawn.
        mpv_set_property_string(m_mpv, "video-rotate", "no");
        const char *load[] = {"loadfile", m_file.constData(), nullptr};
        mpv_command_async(m_mpv, 0, load);
    }

    void setTargetSize(QSize pixels)
    {
        if (pixels == m_size)
            return;
        m_size = pixels;
        m_redraw = true;
        render();
    }

    // The last call: frees the context, then ends the thread.
    void shutdown()
    {
        if (m_context) {
            mpv_render_context_set_update_callback(m_context, nullptr, nullptr);
            mpv_render_context_free(std::exchange(m_context, nullptr));
        }
        m_link->contextFreed();
        thread()->quit();
        deleteLater();
    }

private:
    void scheduleRender()
    {
        if (!m_renderQueued.exchange(true))
            QMetaObject::invokeMethod(this, &SoftwareVideoRenderer::render, Qt::QueuedConnection);
    }

    void render()
    {
        m_renderQueued = false;
        if (!m_context)
            return;
        const bool newFrame = mpv_render_context_update(m_context) & MPV_RENDER_UPDATE_FRAME;
        if (!(newFrame || (m_redraw && m_hasFrame)) || m_size.isEmpty())
            return;
        m_redraw = false;
        if (!m_hasFrame)
            m_turns = codedRotation() / 90;
        // A picture shown a quarter turned is drawn at the transposed size.
        const QSize pictureSize = m_turns % 2 ? m_size.transposed() : m_size;

        // Reuse a buffer the scene is done with; the other may still be uploading.
        QImage *target = nullptr;
        for (QImage &buffer : m_buffers) {
            if (buffer.size() == pictureSize && buffer.isDetached()) {
                target = &buffer;
                break;
            }
        }
        if (!target) {
            target = &m_buffers[m_next];
            m_next = (m_next + 1) % 2;
            *target = alignedImage(pictureSize, m_format);
            if (target->isNull())
                return;
        }
        int size[2] = {pictureSize.width(), pictureSize.height()};
        size_t stride = size_t(target->bytesPerLine());
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_SW_SIZE, size},
            {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char *>(m_mpvFormat)},
            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
            {MPV_RENDER_PARAM_SW_POINTER, target->bits()},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        if (mpv_render_context_render(m_context, params) < 0)
            return;
        makeOpaque(*target);
        m_hasFrame = true;
        m_link->publishFrame(m_turns ? target->transformed(QTransform().rotate(90 * m_turns))
                                     : *target);
    }

    // The clockwise turn, in degrees, that the container asks for (0 when it
    // asks for none, or for a turn that is not a quarter).
    int codedRotation() const
    {
        int64_t degrees = 0;
        if (mpv_get_property(m_mpv, "current-tracks/video/demux-rotation", MPV_FORMAT_INT64,
                             &degrees) < 0)
            return 0;
        return degrees % 90 ? 0 : int(degrees % 360);
    }

    mpv_handle *m_mpv;
    QByteArray m_file;
    std::shared_ptr<VideoItemLink> m_link;
    mpv_render_context *m_context = nullptr;
    QSize m_size;
    QImage::Format m_format = QImage::Format_RGBX8888;
    const char *m_mpvFormat = "rgb0";
    QImage m_buffers[2];
    int m_next = 0;
    int m_turns = 0;
    bool m_hasFrame = false;
    bool m_redraw = false;
    std::atomic_bool m_renderQueued = false;
};

int MpvVideoItem::renderContextCount()
{
    return renderContexts;
}

QString openGLRendererName()
{
    static const QString name = [] {
        QOpenGLContext context;
        QOffscreenSurface surface;
        surface.create();
        if (!context.create() || !context.makeCurrent(&surface))
            return QString();
        const auto *text = context.functions()->glGetString(GL_RENDERER);
        QString renderer =
            text ? QString::fromLatin1(reinterpret_cast<const char *>(text)) : QString();
        context.doneCurrent();
        return renderer;
    }();
    return name;
}

GalleryRenderPath galleryRenderPath()
{
    static const GalleryRenderPath path = [] {
        const QByteArray forced = qgetenv("LUMIVALE_GALLERY_RENDER");
        if (forced == "gl")
            return GalleryRenderPath::OpenGL;
        if (forced == "sw")
            return GalleryRenderPath::Software;
        // Drawing through a software OpenGL costs far more than mpv's own
        // software renderer does.
        const QString renderer = openGLRendererName().toLower();
        for (const char *software : {"llvmpipe", "softpipe", "swrast"}) {
            if (renderer.contains(QLatin1String(software)))
                return GalleryRenderPath::Software;
        }
        return renderer.isEmpty() ? GalleryRenderPath::Software : GalleryRenderPath::OpenGL;
    }();
    return path;
}

void chooseSceneGraphicsApi()
{
    QQuickWindow::setGraphicsApi(galleryRenderPath() == GalleryRenderPath::Software
                                     ? QSGRendererInterface::Software
                                     : QSGRendererInterface::OpenGL);
}

MpvVideoItem::MpvVideoItem(MpvCore *core, const QByteArray &file, QQuickItem *parent)
    : QQuickItem(parent)
    , m_core(core)
    , m_file(file)
    , m_path(galleryRenderPath())
    , m_link(std::make_shared<VideoItemLink>())
{
    setFlag(ItemHasContents);
    m_link->item = this;
    if (m_path == GalleryRenderPath::Software) {
        m_worker = new QThread;
        m_worker->setObjectName(QStringLiteral("lumivale-video"));
        connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
        m_software = new SoftwareVideoRenderer(core->handle(), m_file, m_link);
        m_software->moveToThread(m_worker);
        m_link->contextMade();
        m_worker->start();
        QMetaObject::invokeMethod(m_software, &SoftwareVideoRenderer::start, Qt::QueuedConnection);
    }
}

MpvVideoItem::~MpvVideoItem()
{
    {
        std::lock_guard lock(m_link->mutex);
        m_link->item = nullptr;
    }
    if (m_software)
        QMetaObject::invokeMethod(m_software, &SoftwareVideoRenderer::shutdown,
                                  Qt::QueuedConnection);
    // Gone before retiring or while it waits (its window went first): the
    // core goes once the scene graph has freed the render context with this
    // item's node.
    if (m_core)
        m_link->terminateCoreWhenFree(m_core);
}

void MpvVideoItem::retire()
{
    if (m_retiring)
        return;
    m_retiring = true;
    setOpacity(0);
    // The QObject parent too: the old parent deletes its children with it.
    QQuickItem *root = window() ? window()->contentItem() : nullptr;
    setParentItem(root);
    setParent(root);
    if (!m_core) {
        finishRetiring();
        return;
    }
    m_core->setPaused(true);
    m_core->command({"stop"});
    // Freeing a render context while mpv still has a frame queued stalls the
    // thread that frees it; once the video output is closed it takes no time.
    if (!m_core->isVideoOutputConfigured()) {
        finishRetiring();
        return;
    }
    connect(m_core, &MpvCore::videoOutputConfiguredChanged, this, [this](bool configured) {
        if (!configured)
            finishRetiring();
    });
    QTimer::singleShot(2000, this, &MpvVideoItem::finishRetiring);
}

void MpvVideoItem::finishRetiring()
{
    if (m_core) {
        disconnect(m_core, nullptr, this, nullptr);
        m_link->terminateCoreWhenFree(std::exchange(m_core, nullptr));
    }
    deleteLater();
}

void MpvVideoItem::noteFrameDrawn()
{
    if (!m_frameReported && !m_retiring) {
        m_frameReported = true;
        Q_EMIT frameDrawn();
    }
}

void MpvVideoItem::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    updateSoftwareTarget();
    update();
}

void MpvVideoItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged)
        updateSoftwareTarget();
}

void MpvVideoItem::updateSoftwareTarget()
{
    if (!m_software || m_retiring)
        return;
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QSize pixels = (size() * ratio).toSize();
    QMetaObject::invokeMethod(
        m_software, [renderer = m_software, pixels] { renderer->setTargetSize(pixels); },
        Qt::QueuedConnection);
}

QSGNode *MpvVideoItem::updatePaintNode(QSGNode *node, UpdatePaintNodeData *)
{
    if (m_path == GalleryRenderPath::Software)
        return updateSoftwareNode(node);
    return updateOpenGLNode(node);
}

QSGNode *MpvVideoItem::updateOpenGLNode(QSGNode *oldNode)
{
    auto *node = static_cast<OpenGLVideoNode *>(oldNode);
    if (m_retiring && !m_core)
        return node; // the node, and with it the context, goes with the item
    const QSize pixels = (size() * window()->effectiveDevicePixelRatio()).toSize();
    if (pixels.isEmpty())
        return node;
    if (!node) {
        if (m_retiring || !m_core)
            return nullptr;
        node = new OpenGLVideoNode(m_link);
        if (!node->start(m_core->handle(), m_file)) {
            m_link->reportFailure(QStringLiteral("mpv cannot render with this OpenGL"));
            delete node;
            return nullptr;
        }
    }
    node->setRect(boundingRect());
    if (node->render(window(), pixels) && !m_frameReported)
        m_link->reportFrameDrawn();
    return node;
}

QSGNode *MpvVideoItem::updateSoftwareNode(QSGNode *oldNode)
{
    auto *node = static_cast<QSGImageNode *>(oldNode);
    QImage frame;
    {
        std::lock_guard lock(m_link->mutex);
        if (m_link->hasNewFrame) {
            frame = std::exchange(m_link->frame, QImage());
            m_link->hasNewFrame = false;
        }
    }
    if (!frame.isNull()) {
        if (!node) {
            // Portable, so that Qt Quick's software scene paints it too.
            node = window()->createImageNode();
            node->setOwnsTexture(true);
            node->setFiltering(QSGTexture::Linear);
        }
        node->setTexture(window()->createTextureFromImage(frame));
        if (!m_frameReported)
            m_link->reportFrameDrawn();
    }
    if (node)
        node->setRect(boundingRect());
    return node;
}

} // namespace lumivale
