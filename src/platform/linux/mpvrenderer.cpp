#include "mpvrenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QWindow>
#include <algorithm>
#include <mpv/client.h>
#include <mpv/render_gl.h>

namespace lumivale {
namespace {

void *procAddress(void *, const char *name)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
}

// Enough for mpv to run its pipeline for a layer nobody sees.
constexpr QSize kOffscreenSize(64, 64);

} // namespace

DesktopLayerRenderer::~DesktopLayerRenderer()
{
    Q_ASSERT_X(m_layers.empty(), "DesktopLayerRenderer",
               "shutdown() must run on the render thread");
}

DesktopLayerRenderer::Layer *DesktopLayerRenderer::find(int id)
{
    for (auto &layer : m_layers) {
        if (layer->id == id)
            return layer.get();
    }
    return nullptr;
}

void DesktopLayerRenderer::addLayer(int id, mpv_handle *mpv, const QByteArray &file, bool visible)
{
    auto layer = std::make_unique<Layer>(Layer{id, mpv, nullptr, visible});
    if (!begin() || !(layer->context = createContext(mpv))) {
        Q_EMIT layerFailed(id);
        return;
    }
    // Runs on mpv's threads; the renderer outlives every context.
    mpv_render_context_set_update_callback(
        layer->context,
        [](void *self) { static_cast<DesktopLayerRenderer *>(self)->scheduleRender(); }, this);
    m_layers.push_back(std::move(layer));

    const char *load[] = {"loadfile", file.constData(), nullptr};
    mpv_command_async(mpv, 0, load);
    m_screenStale = true;
    scheduleRender();
}

void DesktopLayerRenderer::setLayerVisible(int id, bool visible)
{
    if (Layer *layer = find(id)) {
        layer->visible = visible;
        m_screenStale = true;
        render();
    }
}

void DesktopLayerRenderer::removeLayer(int id)
{
    if (Layer *layer = find(id)) {
        layer->removed = true;
        m_screenStale = true;
        scheduleRender();
    }
}

void DesktopLayerRenderer::freeContext(Layer &layer)
{
    mpv_render_context_set_update_callback(layer.context, nullptr, nullptr);
    mpv_render_context_free(layer.context);
    layer.context = nullptr;
}

void DesktopLayerRenderer::freeLayer(int id)
{
    const auto it = std::find_if(m_layers.begin(), m_layers.end(),
                                 [id](const auto &layer) { return layer->id == id; });
    if (it != m_layers.end()) {
        begin();
        freeContext(**it);
        m_layers.erase(it);
        m_screenStale = true;
        scheduleRender();
    }
    Q_EMIT layerFreed(id);
}

void DesktopLayerRenderer::setTarget(QSize pixelSize, bool exposed, bool redraw)
{
    const bool changed = pixelSize != m_pixelSize || exposed != m_exposed || (redraw && exposed);
    m_pixelSize = pixelSize;
    m_exposed = exposed;
    if (changed) {
        m_screenStale = true;
        render();
    }
}

void DesktopLayerRenderer::shutdown()
{
    if (!m_layers.empty() && begin()) {
        for (auto &layer : m_layers)
            freeContext(*layer);
    }
    m_layers.clear();
    releaseResources();
}

void DesktopLayerRenderer::scheduleRender()
{
    if (!m_renderQueued.exchange(true))
        QMetaObject::invokeMethod(this, &DesktopLayerRenderer::render, Qt::QueuedConnection);
}

void DesktopLayerRenderer::noteRendered(Layer &layer)
{
    layer.newFrame = false;
    if (!layer.hasFrame) {
        layer.hasFrame = true;
        Q_EMIT frameDrawn(layer.id);
    }
}

void DesktopLayerRenderer::render()
{
    m_renderQueued = false;
    if (m_layers.empty() && !m_screenStale)
        return;
    if (!begin())
        return;

    for (auto &layer : m_layers) {
        if (mpv_render_context_update(layer->context) & MPV_RENDER_UPDATE_FRAME)
            layer->newFrame = true;
    }

    Layer *onScreen = nullptr;
    for (auto it = m_layers.rbegin(); it != m_layers.rend() && !onScreen; ++it) {
        if ((*it)->visible && !(*it)->removed)
            onScreen = it->get();
    }

    // Hidden layers: draw each new frame where nobody sees it.
    for (auto &layer : m_layers) {
        if (layer.get() != onScreen && !layer->removed && layer->newFrame)
            drawHidden(*layer);
    }

    if (!m_exposed || m_pixelSize.isEmpty())
        return;
    const bool drawable = onScreen && (onScreen->hasFrame || onScreen->newFrame);
    // -1 stands for the black background.
    const int shown = drawable ? onScreen->id : -1;
    const bool fresh = drawable && onScreen->newFrame;
    if (!m_screenStale && shown == m_screenLayer && !fresh)
        return;

    drawToWindow(drawable ? onScreen : nullptr, fresh);
    m_screenLayer = shown;
    m_screenStale = false;
}

MpvRenderer::MpvRenderer(QWindow *window)
    : m_window(window)
{}

MpvRenderer::~MpvRenderer() = default;

bool MpvRenderer::begin()
{
    if (!m_context) {
        m_context = std::make_unique<QOpenGLContext>();
        m_context->setFormat(m_window->requestedFormat());
        if (!m_context->create()) {
            qWarning("video playback failed: no OpenGL context for the desktop window");
            return false;
        }
    }
    return m_context->makeCurrent(m_window);
}

mpv_render_context *MpvRenderer::createContext(mpv_handle *mpv)
{
    mpv_opengl_init_params glInit{&procAddress, nullptr};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context *context = nullptr;
    return mpv_render_context_create(&context, mpv, params) < 0 ? nullptr : context;
}

void MpvRenderer::draw(Layer &layer, unsigned fbo, QSize size, bool flipY)
{
    mpv_opengl_fbo target{int(fbo), size.width(), size.height(), 0};
    int flip = flipY ? 1 : 0;
    int block = 0; // frames already arrive at their display time
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &target},
        {MPV_RENDER_PARAM_FLIP_Y, &flip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(layer.context, params);
    noteRendered(layer);
}

void MpvRenderer::drawHidden(Layer &layer)
{
    if (!m_offscreen)
        m_offscreen = std::make_unique<QOpenGLFramebufferObject>(kOffscreenSize);
    draw(layer, m_offscreen->handle(), kOffscreenSize, false);
}

void MpvRenderer::drawToWindow(Layer *layer, bool)
{
    if (layer) {
        draw(*layer, m_context->defaultFramebufferObject(), targetSize(), true);
    } else {
        QOpenGLFunctions *gl = m_context->functions();
        gl->glBindFramebuffer(GL_FRAMEBUFFER, m_context->defaultFramebufferObject());
        gl->glViewport(0, 0, targetSize().width(), targetSize().height());
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
    m_context->swapBuffers(m_window);
    if (layer)
        mpv_render_context_report_swap(layer->context);
}

void MpvRenderer::releaseResources()
{
    if (m_context && m_context->makeCurrent(m_window)) {
        m_offscreen.reset();
        m_context->doneCurrent();
    }
    m_context.reset();
}

} // namespace lumivale
