#include "mpvrenderer.h"

#include "mpvcore.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <mpv/client.h>
#include <mpv/render_gl.h>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

// How many frames of the outgoing video a window holds back once the video
// replacing it is ready, waiting for the owner to show it (it normally does
// within the next pass).
constexpr int kMaxHeldFrames = 6;

// A render pass, posted below the normal priority: the calls queued from the
// main thread (a new source, a layer shown) go first, so a hand-over never
// waits behind a frame of the video it replaces.
const QEvent::Type kRenderEvent = QEvent::Type(QEvent::registerEventType());

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
    m_targets[window] = std::make_unique<Target>(
        Target{window, qwindow, nativeWindow, {}, false, true, -1, {}, -1, 0});
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
        dropUnusedPictures();
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
        QCoreApplication::postEvent(this, new QEvent(kRenderEvent), Qt::LowEventPriority);
}

bool DesktopLayerRenderer::event(QEvent *event)
{
    if (event->type() != kRenderEvent)
        return QObject::event(event);
    render();
    return true;
}

void DesktopLayerRenderer::noteRendered(Source &source)
{
    source.newFrame = false;
    if (!source.hasFrame) {
        source.hasFrame = true;
        Q_EMIT frameDrawn(source.id);
    }
}

bool DesktopLayerRenderer::waitsFor(const Target &target, int source)
{
    // An invisible layer: a video prepared to replace what the window shows.
    return std::any_of(target.layers.begin(), target.layers.end(), [source](const Layer &layer) {
        return !layer.visible && layer.source == source;
    });
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

    // Sources no window shows: each new frame where nobody sees it, at the
    // sizes of the windows waiting to show it.
    std::set<int> readied; // sources whose first frame this pass drew
    for (auto &[id, source] : m_sources) {
        if (!source->newFrame || std::find(onScreen.begin(), onScreen.end(), id) != onScreen.end())
            continue;
        std::set<std::pair<int, int>> sizes;
        for (const auto &[targetID, target] : m_targets) {
            if (waitsFor(*target, id) && target->exposed && !target->size.isEmpty())
                sizes.emplace(target->size.width(), target->size.height());
        }
        const bool hadFrame = source->hasFrame;
        if (sizes.empty())
            drawHidden(*source);
        for (const auto &[width, height] : sizes)
            drawPicture(*source, QSize(width, height));
        if (!hadFrame && source->hasFrame)
            readied.insert(id);
    }

    // A window whose waiting video has just got its first frame is about to
    // switch to it: the outgoing video's frames wait (a few at most), so that
    // the switch does not queue behind them.
    for (auto &[id, target] : m_targets) {
        if (target->switchingTo >= 0 && !waitsFor(*target, target->switchingTo))
            target->switchingTo = -1;
        for (int source : readied) {
            if (waitsFor(*target, source)) {
                target->switchingTo = source;
                target->heldFrames = 0;
            }
        }
    }
    const auto switching = [](Target *target) {
        return target->switchingTo >= 0 && target->heldFrames < kMaxHeldFrames;
    };

    std::vector<Target *> skipped;
    for (const auto &[key, targets] : groups) {
        const auto [source, width, height] = key;
        std::vector<Target *> now;
        for (Target *target : targets) {
            if (switching(target)) {
                ++target->heldFrames;
                skipped.push_back(target);
            } else {
                now.push_back(target);
            }
        }
        if (!now.empty())
            drawToTargets(source < 0 ? nullptr : findSource(source), QSize(width, height), now);
    }
    for (auto [target, source] : shown) {
        if (std::find(skipped.begin(), skipped.end(), target) != skipped.end())
            continue;
        target->shownSource = source;
        target->stale = false;
    }
    dropUnusedPictures();
}

void DesktopLayerRenderer::dropUnusedPictures()
{
    std::set<std::tuple<int, int, int>> wanted;
    for (const auto &[id, target] : m_targets) {
        for (const Layer &layer : target->layers) {
            if (m_sources.count(layer.source))
                wanted.emplace(layer.source, target->size.width(), target->size.height());
        }
    }
    keepPictures(wanted);
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

MpvRenderer::Picture &MpvRenderer::picture(Source &source, QSize size)
{
    Picture &picture = m_pictures[{source.id, size.width(), size.height()}];
    if (!picture.fbo)
        picture.fbo = std::make_unique<QOpenGLFramebufferObject>(size);
    if (picture.serial != source.serial) {
        draw(source, picture.fbo->handle(), size);
        picture.serial = source.serial;
    }
    return picture;
}

void MpvRenderer::drawPicture(Source &source, QSize size)
{
    picture(source, size);
}

void MpvRenderer::keepPictures(const std::set<std::tuple<int, int, int>> &wanted)
{
    if (std::all_of(m_pictures.begin(), m_pictures.end(),
                    [&](const auto &entry) { return wanted.count(entry.first); }))
        return;
    // Framebuffer objects belong to the context.
    if (!m_context || !m_context->makeCurrent(m_surface.get()))
        return;
    std::erase_if(m_pictures, [&](const auto &entry) { return !wanted.count(entry.first); });
}

void MpvRenderer::drawToTargets(Source *source, QSize size, const std::vector<Target *> &targets)
{
    Picture *picture = source ? &this->picture(*source, size) : nullptr;
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
