#include "mpvrenderer.h"

#include "mpvcore.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QWindow>
#include <cstdlib>
#include <mpv/client.h>
#include <mpv/render_gl.h>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

// Enough for mpv to run its pipeline for a source nobody sees.
constexpr QSize kOffscreenSize(64, 64);

} // namespace

DesktopLayerRenderer::~DesktopLayerRenderer()
{
    Q_ASSERT_X(m_sources.empty(), "DesktopLayerRenderer",
               "shutdown() must run on the render thread");
}

DesktopLayerRenderer::Source *DesktopLayerRenderer::findSource(int id)
{
    const auto it = m_sources.find(id);
    return it == m_sources.end() ? nullptr : it->second.get();
}

DesktopLayerRenderer::Target *DesktopLayerRenderer::findTarget(int id)
{
    const auto it = m_targets.find(id);
    return it == m_targets.end() ? nullptr : it->second.get();
}

void DesktopLayerRenderer::addWindow(int window, QWindow *qwindow, uint32_t nativeWindow)
{
    m_targets[window] =
        std::make_unique<Target>(Target{window, qwindow, nativeWindow, {}, false, true, -1, {}});
}

void DesktopLayerRenderer::removeWindow(int window)
{
    if (Target *target = findTarget(window)) {
        windowRemoved(*target);
        m_targets.erase(window);
    }
}

void DesktopLayerRenderer::addSource(int id, mpv_handle *mpv, const QByteArray &file)
{
    auto source = std::make_unique<Source>(Source{id, mpv});
    if (!begin() || !(source->context = createContext(mpv))) {
        Q_EMIT sourceFailed(id);
        return;
    }
    // Runs on mpv's threads; the renderer outlives every context.
    mpv_render_context_set_update_callback(
        source->context,
        [](void *self) { static_cast<DesktopLayerRenderer *>(self)->scheduleRender(); }, this);
    m_sources[id] = std::move(source);

    const char *load[] = {"loadfile", file.constData(), nullptr};
    mpv_command_async(mpv, 0, load);
    scheduleRender();
}

void DesktopLayerRenderer::freeContext(Source &source)
{
    mpv_render_context_set_update_callback(source.context, nullptr, nullptr);
    mpv_render_context_free(source.context);
    source.context = nullptr;
}

void DesktopLayerRenderer::freeSource(int id)
{
    if (Source *source = findSource(id)) {
        begin();
        freeContext(*source);
        m_sources.erase(id);
        scheduleRender();
    }
    Q_EMIT sourceFreed(id);
}

void DesktopLayerRenderer::addLayer(int window, int layer, int source, bool visible)
{
    if (Target *target = findTarget(window)) {
        target->layers.push_back(Layer{layer, source, visible});
        scheduleRender();
    }
}

void DesktopLayerRenderer::setLayerVisible(int window, int layer, bool visible)
{
    if (Target *target = findTarget(window)) {
        for (Layer &each : target->layers) {
            if (each.id == layer)
                each.visible = visible;
        }
        render();
    }
}

void DesktopLayerRenderer::removeLayer(int window, int layer)
{
    if (Target *target = findTarget(window)) {
        std::erase_if(target->layers, [layer](const Layer &each) { return each.id == layer; });
        scheduleRender();
    }
}

void DesktopLayerRenderer::setTarget(int window, QSize pixelSize, bool exposed, bool redraw)
{
    Target *target = findTarget(window);
    if (!target)
        return;
    const bool changed =
        pixelSize != target->size || exposed != target->exposed || (redraw && exposed);
    target->size = pixelSize;
    target->exposed = exposed;
    if (changed) {
        target->stale = true;
        render();
    }
}

void DesktopLayerRenderer::shutdown()
{
    if (!m_sources.empty() && begin()) {
        for (auto &[id, source] : m_sources)
            freeContext(*source);
    }
    m_sources.clear();
    for (auto &[id, target] : m_targets)
        windowRemoved(*target);
    m_targets.clear();
    releaseResources();
}

void DesktopLayerRenderer::scheduleRender()
{
    if (!m_renderQueued.exchange(true))
        QMetaObject::invokeMethod(this, &DesktopLayerRenderer::render, Qt::QueuedConnection);
}

void DesktopLayerRenderer::noteRendered(Source &source)
{
    source.newFrame = false;
    if (!source.hasFrame) {
        source.hasFrame = true;
        Q_EMIT frameDrawn(source.id);
    }
}

void DesktopLayerRenderer::render()
{
    m_renderQueued = false;
    if (m_sources.empty() && std::none_of(m_targets.begin(), m_targets.end(),
                                          [](const auto &entry) { return entry.second->stale; }))
        return;
    if (!begin())
        return;

    for (auto &[id, source] : m_sources) {
        if (mpv_render_context_update(source->context) & MPV_RENDER_UPDATE_FRAME) {
            source->newFrame = true;
            ++source->serial;
        }
    }

    // What each window wants on screen (-1: black), and which windows need
    // drawing, grouped by source and size: one render serves a group.
    std::map<std::tuple<int, int, int>, std::vector<Target *>> groups;
    std::vector<std::pair<Target *, int>> shown;
    std::vector<int> onScreen;
    for (auto &[id, target] : m_targets) {
        Source *source = nullptr;
        for (auto it = target->layers.rbegin(); it != target->layers.rend() && !source; ++it) {
            if (it->visible)
                source = findSource(it->source);
        }
        const bool drawable = source && (source->hasFrame || source->newFrame);
        const int wanted = drawable ? source->id : -1;
        if (!target->exposed || target->size.isEmpty())
            continue;
        if (drawable)
            onScreen.push_back(wanted);
        if (!target->stale && target->shownSource == wanted && !(drawable && source->newFrame))
            continue;
        groups[{wanted, target->size.width(), target->size.height()}].push_back(target.get());
        shown.emplace_back(target.get(), wanted);
    }

    // Sources no window shows: each new frame where nobody sees it.
    for (auto &[id, source] : m_sources) {
        if (source->newFrame && std::find(onScreen.begin(), onScreen.end(), id) == onScreen.end())
            drawHidden(*source);
    }

    for (const auto &[key, targets] : groups) {
        const auto [source, width, height] = key;
        drawToTargets(source < 0 ? nullptr : findSource(source), QSize(width, height), targets);
    }
    for (auto [target, source] : shown) {
        target->shownSource = source;
        target->stale = false;
    }
}

MpvRenderer::MpvRenderer()
    : m_surface(std::make_unique<QOffscreenSurface>())
{
    if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        m_connection = x11->connection();
    m_surface->setFormat(QSurfaceFormat::defaultFormat());
    m_surface->create();
}

MpvRenderer::~MpvRenderer() = default;

bool MpvRenderer::begin()
{
    if (!m_context) {
        m_context = std::make_unique<QOpenGLContext>();
        m_context->setFormat(m_surface->requestedFormat());
        if (!m_context->create()) {
            qWarning("video playback failed: no OpenGL context for the desktop windows");
            return false;
        }
    }
    return m_context->makeCurrent(m_surface.get());
}

mpv_render_context *MpvRenderer::createContext(mpv_handle *mpv)
{
    return createOpenGLRenderContext(mpv);
}

void MpvRenderer::draw(Source &source, unsigned fbo, QSize size)
{
    mpv_opengl_fbo target{int(fbo), size.width(), size.height(), 0};
    // Rows as a window's framebuffer keeps them, so that a copy needs no flip.
    int flip = 1;
    int block = 0; // frames already arrive at their display time
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &target},
        {MPV_RENDER_PARAM_FLIP_Y, &flip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(source.context, params);
    noteRendered(source);
}

void MpvRenderer::drawHidden(Source &source)
{
    if (!m_offscreen)
        m_offscreen = std::make_unique<QOpenGLFramebufferObject>(kOffscreenSize);
    draw(source, m_offscreen->handle(), kOffscreenSize);
}

void MpvRenderer::drawToTargets(Source *source, QSize size, const std::vector<Target *> &targets)
{
    Picture *picture = nullptr;
    if (source) {
        picture = &m_pictures[{size.width(), size.height()}];
        if (!picture->fbo)
            picture->fbo = std::make_unique<QOpenGLFramebufferObject>(size);
        if (picture->source != source->id || picture->serial != source->serial) {
            draw(*source, picture->fbo->handle(), size);
            picture->source = source->id;
            picture->serial = source->serial;
        }
    }
    for (Target *target : targets) {
        if (!m_context->makeCurrent(target->window))
            continue;
        QOpenGLExtraFunctions *gl = m_context->extraFunctions();
        const GLuint window = m_context->defaultFramebufferObject();
        if (picture) {
            gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, picture->fbo->handle());
            gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, window);
            gl->glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, size.width(),
                                  size.height(), GL_COLOR_BUFFER_BIT, GL_NEAREST);
        } else {
            gl->glBindFramebuffer(GL_FRAMEBUFFER, window);
            gl->glViewport(0, 0, size.width(), size.height());
            gl->glClearColor(0, 0, 0, 1);
            gl->glClear(GL_COLOR_BUFFER_BIT);
        }
        m_context->swapBuffers(target->window);
    }
    // A round trip on the connection the swaps went through: where OpenGL is
    // software each swap is a large image request, and without it the
    // windows' pictures queue up in the server frames apart.
    if (m_connection && !targets.empty())
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (source)
        mpv_render_context_report_swap(source->context);
    m_context->makeCurrent(m_surface.get());
}

void MpvRenderer::windowRemoved(Target &)
{
    // The context may be current on the window that goes.
    if (m_context)
        m_context->makeCurrent(m_surface.get());
}

void MpvRenderer::releaseResources()
{
    if (m_context && m_context->makeCurrent(m_surface.get())) {
        m_pictures.clear();
        m_offscreen.reset();
        m_context->doneCurrent();
    }
    m_context.reset();
}

} // namespace lumivale
