#include "x11desktopsurface.h"

#include "desktoprenderpath.h"
#include "mpvcore.h"
#include "mpvrenderer.h"
#include "mpvsoftwarerenderer.h"
#include "x11desktopintegration.h"
#include "xcbsupport.h"

#include <QExposeEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <map>
#include <mpv/client.h>
#include <optional>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

int disposals = 0;

// The dynamic property Qt's xcb plugin reads for the EWMH window type; 0x2 is
// _NET_WM_WINDOW_TYPE_DESKTOP. Qt::Desktop would take over the root window.
constexpr char kWindowTypeProperty[] = "_q_xcb_wm_window_type";
constexpr int kDesktopWindowType = 0x2;

class DesktopNativeWindow : public QWindow
{
public:
    DesktopNativeWindow(QScreen *screen, bool unmanaged, DesktopRenderPath path)
        : QWindow(screen)
    {
        // The software path puts its pixels straight on a plain window.
        setSurfaceType(path == DesktopRenderPath::OpenGL ? QSurface::OpenGLSurface
                                                         : QSurface::RasterSurface);
        QSurfaceFormat format = QSurfaceFormat::defaultFormat();
        format.setSwapInterval(0);
        format.setAlphaBufferSize(0);
        format.setDepthBufferSize(0);
        format.setStencilBufferSize(0);
        setFormat(format);
        Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint |
                                Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus;
        // Override-redirect: a window manager without a desktop layer would
        // tile it or stack it among the other windows.
        if (unmanaged)
            flags |= Qt::BypassWindowManagerHint;
        setFlags(flags);
        setProperty(kWindowTypeProperty, kDesktopWindowType);
        setProperty(DesktopSurface::kWindowProperty, true);
        setTitle(QStringLiteral("Lumivale Wallpaper"));
    }

    std::function<void(bool exposedAgain)> onTargetChanged;

    // Before every map: a window manager drops _NET_WM_STATE and
    // _NET_WM_DESKTOP when a window is withdrawn (hidden), so they are written
    // again each time. Qt merges its own states into the property on map.
    void setUpBeforeMap()
    {
        xcb_connection_t *connection = xcb::qtConnection();
        if (!connection)
            return;
        const auto id = xcb_window_t(winId());
        // Black behind the first frame, drawn by the server on map.
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const uint32_t black = screen->black_pixel;
        xcb_change_window_attributes(connection, id, XCB_CW_BACK_PIXEL, &black);
        const uint32_t allDesktops = 0xFFFFFFFF;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                            xcb::atom(connection, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                            &allDesktops);
        QList<xcb_atom_t> states;
        for (const char *name : kExtraStates)
            states.append(xcb::atom(connection, name));
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                            xcb::atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                            uint32_t(states.size()), states.constData());
        xcb_flush(connection);
        m_statesRequested = false;
    }

    // Asked for again, the EWMH way, once the window is managed and exposed,
    // for window managers that rewrite the states of a window they map.
    void requestStatesOnce()
    {
        xcb_connection_t *connection = xcb::qtConnection();
        if (m_statesRequested || !connection)
            return;
        m_statesRequested = true;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const auto send = [&](xcb_atom_t type, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = xcb_window_t(winId());
            event.type = type;
            event.data.data32[0] = a;
            event.data.data32[1] = b;
            event.data.data32[2] = c;
            event.data.data32[3] = d;
            xcb_send_event(connection, 0, root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                               XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char *>(&event));
        };
        const xcb_atom_t state = xcb::atom(connection, "_NET_WM_STATE");
        constexpr uint32_t add = 1, fromApplication = 1;
        for (size_t i = 0; i < std::size(kExtraStates); i += 2) {
            send(state, add, xcb::atom(connection, kExtraStates[i]),
                 i + 1 < std::size(kExtraStates) ? xcb::atom(connection, kExtraStates[i + 1]) : 0,
                 fromApplication);
        }
        send(xcb::atom(connection, "_NET_WM_DESKTOP"), 0xFFFFFFFF, fromApplication, 0, 0);
        xcb_flush(connection);
    }

protected:
    // Every expose is drawn again, also while the players are paused: without
    // a compositor the server keeps nothing of an area a window uncovered.
    void exposeEvent(QExposeEvent *) override
    {
        if (isExposed())
            requestStatesOnce();
        if (onTargetChanged)
            onTargetChanged(true);
    }
    void resizeEvent(QResizeEvent *) override
    {
        if (onTargetChanged)
            onTargetChanged(false);
    }

private:
    static constexpr const char *kExtraStates[] = {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_BELOW",
                                                   "_NET_WM_STATE_SKIP_TASKBAR",
                                                   "_NET_WM_STATE_SKIP_PAGER"};
    bool m_statesRequested = false;
};

class MpvPlayer;

} // namespace

// The one render thread of all desktop windows, and the decodes they share:
// a player asking for a file that another live player already plays joins
// its core instead of starting one, so several screens showing one video
// decode it once. A core retires in the background once its last player is
// gone: it is stopped, and its render context freed only once mpv has closed
// its video output, so a hand-over never stalls drawing. Kept alive by its
// windows and by itself while cores retire.
class RenderService : public QObject, public std::enable_shared_from_this<RenderService>
{
    Q_OBJECT

public:
    static std::shared_ptr<RenderService> instance()
    {
        static std::weak_ptr<RenderService> current;
        std::shared_ptr<RenderService> service = current.lock();
        if (!service) {
            // Deleted through the event loop: the last reference may drop
            // inside one of the service's own slots.
            service = std::shared_ptr<RenderService>(new RenderService,
                                                     [](RenderService *s) { s->deleteLater(); });
            current = service;
        }
        return service;
    }

    ~RenderService() override
    {
        QMetaObject::invokeMethod(m_renderer, &DesktopLayerRenderer::shutdown,
                                  Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_renderer;
        for (auto &[id, source] : m_sources)
            delete source.core;
    }

    DesktopRenderPath path() const { return m_path; }
    int newID() { return m_nextID++; }

    template<typename Call> void onRenderThread(Call call)
    {
        QMetaObject::invokeMethod(
            m_renderer, [r = m_renderer, call] { call(r); }, Qt::QueuedConnection);
    }

    void addWindow(int id, QWindow *window)
    {
        onRenderThread([id, window, native = uint32_t(window->winId())](DesktopLayerRenderer *r) {
            r->addWindow(id, window, native);
        });
    }
    // Returns once the render thread has let go of the window.
    void removeWindow(int id)
    {
        QMetaObject::invokeMethod(
            m_renderer, [r = m_renderer, id] { r->removeWindow(id); },
            Qt::BlockingQueuedConnection);
    }

    // The source that plays `file` for `player`: a live one, or a new one.
    // 0 when no core can be made.
    int join(MpvPlayer *player, const QUrl &file);
    void leave(int source, MpvPlayer *player);
    // Plays while some player of the source wants to and can be seen.
    void updatePause(int source);
    // Once per end of the file, however many windows loop it.
    void seekToStart(int source)
    {
        const auto it = m_sources.find(source);
        if (it != m_sources.end() && std::exchange(it->second.atEnd, false))
            it->second.core->command({"seek", "0", "absolute"});
    }
    double currentTime(int source) const
    {
        const auto it = m_sources.find(source);
        return it == m_sources.end() ? 0 : it->second.core->timePosition();
    }

private:
    struct Source
    {
        MpvCore *core;
        QUrl file;
        std::vector<QPointer<MpvPlayer>> players;
        bool retiring = false;
        bool failed = false;
        bool hasFrame = false;
        std::optional<bool> playable; // once the file has loaded
        bool atEnd = false;
    };

    RenderService();
    MpvCore *createCore() const;
    template<typename Call> void forEachPlayer(int source, Call call);
    void retire(int id);
    void freeWhenOutputClosed(int id);
    void finishRetiring(int id);

    const DesktopRenderPath m_path = desktopRenderPath();
    QThread m_thread;
    DesktopLayerRenderer *m_renderer;
    std::map<int, Source> m_sources;
    int m_nextID = 1;
    std::shared_ptr<RenderService> m_selfWhileRetiring;
};

// One desktop window and the layers of its players, over the render service.
// Shared by the surface and its players, so that either may go first.
class RenderHost : public QObject, public std::enable_shared_from_this<RenderHost>
{
    Q_OBJECT

public:
    static std::shared_ptr<RenderHost> make(QScreen *screen, const QRect &frame,
                                            X11DesktopIntegration *integration)
    {
        return std::shared_ptr<RenderHost>(new RenderHost(screen, frame, integration),
                                           [](RenderHost *host) { host->deleteLater(); });
    }

    ~RenderHost() override
    {
        m_service->removeWindow(m_windowID);
        if (m_surfaceGone)
            --disposals;
    }

    RenderService &service() { return *m_service; }
    DesktopNativeWindow &window() { return m_window; }
    bool showsLivePlayback() const
    {
        return !m_integration || m_integration->integration().showsLivePlayback();
    }
    bool isSuspended() const { return !m_window.isExposed() || !showsLivePlayback(); }

    int addLayer(MpvPlayer *player, int source, bool visible)
    {
        const int id = m_service->newID();
        m_players.emplace_back(player);
        m_service->onRenderThread([window = m_windowID, id, source, visible](auto *r) {
            r->addLayer(window, id, source, visible);
        });
        return id;
    }
    void setLayerVisible(int layer, bool visible)
    {
        m_service->onRenderThread([window = m_windowID, layer, visible](auto *r) {
            r->setLayerVisible(window, layer, visible);
        });
    }
    void removeLayer(int layer, MpvPlayer *player)
    {
        std::erase_if(m_players, [player](const auto &each) { return !each || each == player; });
        m_service->onRenderThread(
            [window = m_windowID, layer](auto *r) { r->removeLayer(window, layer); });
    }

    void surfaceGone()
    {
        m_surfaceGone = true;
        ++disposals;
        if (m_integration)
            m_integration->windowGone(xcb_window_t(m_window.winId()));
        m_window.hide();
    }

    void show()
    {
        // Behind an opaque desktop the window could only cover it with
        // black: it stays unmapped, and the desktop shows the still picture.
        if (!showsLivePlayback())
            return;
        if (!m_window.isVisible()) {
            m_window.setUpBeforeMap();
            m_window.show();
        }
        m_window.lower();
        if (m_integration)
            m_integration->windowShown(xcb_window_t(m_window.winId()));
    }

private:
    RenderHost(QScreen *screen, const QRect &frame, X11DesktopIntegration *integration);
    void updateTarget(bool redraw);

    QPointer<X11DesktopIntegration> m_integration;
    std::shared_ptr<RenderService> m_service;
    DesktopNativeWindow m_window;
    int m_windowID;
    std::vector<QPointer<MpvPlayer>> m_players;
    bool m_surfaceGone = false;
    bool m_wasSuspended = true;
};

namespace {

// A player and its layer in a desktop window; its picture comes from a source
// that other windows' players of the same file may share.
class MpvPlayer : public VideoPlayer
{
public:
    MpvPlayer(std::shared_ptr<RenderHost> host, const QUrl &file, qreal opacity)
        : m_host(std::move(host))
        , m_url(file)
        , m_opacity(opacity)
    {
        m_source = m_host->service().join(this, file);
        if (!m_source) {
            // Reported as a failed item once the owner listens.
            QMetaObject::invokeMethod(
                this, [this] { setStatus(ItemStatus::Failed); }, Qt::QueuedConnection);
            return;
        }
        m_layerID = m_host->addLayer(this, m_source, opacity > 0);
    }

    ~MpvPlayer() override
    {
        if (m_source) {
            m_host->removeLayer(m_layerID, this);
            m_host->service().leave(m_source, this);
        }
    }

    QUrl url() const override { return m_url; }
    bool hasCurrentItem() const override { return true; }
    ItemStatus itemStatus() const override { return m_status; }
    void play() override
    {
        m_wantsPlay = true;
        applyPause();
    }
    void pause() override
    {
        m_wantsPlay = false;
        applyPause();
    }
    bool isPaused() const override { return !m_wantsPlay; }
    void seekToStart() override
    {
        if (m_source)
            m_host->service().seekToStart(m_source);
    }
    double currentTime() const override
    {
        return m_source ? m_host->service().currentTime(m_source) : 0;
    }
    qreal layerOpacity() const override { return m_opacity; }
    void setLayerOpacity(qreal opacity) override
    {
        m_opacity = opacity;
        if (m_source)
            m_host->setLayerVisible(m_layerID, opacity > 0);
    }

    // From the host and the service.
    bool wantsToPlay() const { return m_wantsPlay && !m_host->isSuspended(); }
    void applyPause()
    {
        if (m_source)
            m_host->service().updatePause(m_source);
    }
    void fileLoaded(bool playable)
    {
        if (!playable)
            setStatus(ItemStatus::Failed);
        // Where the desktop keeps the window out of sight no frame is ever
        // drawn: a playable file is all there is to wait for.
        else if (!m_host->showsLivePlayback())
            setStatus(ItemStatus::ReadyToPlay);
    }
    void frameDrawn()
    {
        if (m_status == ItemStatus::Unknown)
            setStatus(ItemStatus::ReadyToPlay);
    }
    void failed() { setStatus(ItemStatus::Failed); }
    void reachedEnd() { Q_EMIT playedToEnd(); }

private:
    void setStatus(ItemStatus status)
    {
        if (m_status == status || m_status == ItemStatus::Failed)
            return;
        m_status = status;
        Q_EMIT itemStatusChanged();
    }

    std::shared_ptr<RenderHost> m_host;
    int m_source = 0;
    int m_layerID = 0;
    QUrl m_url;
    qreal m_opacity;
    bool m_wantsPlay = false;
    ItemStatus m_status = ItemStatus::Unknown;
};

} // namespace

RenderService::RenderService()
{
    if (m_path == DesktopRenderPath::Software)
        m_renderer = new MpvSoftwareRenderer;
    else
        m_renderer = new MpvRenderer;
    m_renderer->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("lumivale-render"));
    m_thread.start();

    connect(m_renderer, &DesktopLayerRenderer::frameDrawn, this, [this](int id) {
        const auto it = m_sources.find(id);
        if (it == m_sources.end())
            return;
        it->second.hasFrame = true;
        forEachPlayer(id, [](MpvPlayer *player) { player->frameDrawn(); });
    });
    connect(m_renderer, &DesktopLayerRenderer::sourceFailed, this, [this](int id) {
        const auto it = m_sources.find(id);
        if (it == m_sources.end())
            return;
        it->second.failed = true;
        forEachPlayer(id, [](MpvPlayer *player) { player->failed(); });
    });
    connect(m_renderer, &DesktopLayerRenderer::sourceFreed, this, &RenderService::finishRetiring);
}

MpvCore *RenderService::createCore() const
{
    MpvCore *core = MpvCore::create();
    if (core && m_path == DesktopRenderPath::Software) {
        for (const auto &[name, value] : MpvSoftwareRenderer::kCoreOptions)
            mpv_set_property_string(core->handle(), name, value);
        core->turnPicturesInFilters();
    }
    return core;
}

template<typename Call> void RenderService::forEachPlayer(int source, Call call)
{
    const auto it = m_sources.find(source);
    if (it == m_sources.end())
        return;
    // A call may destroy players or sources; work on a copy.
    const std::vector<QPointer<MpvPlayer>> players = it->second.players;
    for (const QPointer<MpvPlayer> &player : players) {
        if (player)
            call(player.data());
    }
}

int RenderService::join(MpvPlayer *player, const QUrl &file)
{
    for (auto &[id, source] : m_sources) {
        if (source.file != file || source.retiring || source.failed ||
            source.playable == std::optional(false))
            continue;
        source.players.emplace_back(player);
        // What the others already heard, the newcomer hears too.
        const QPointer<MpvPlayer> joined(player);
        QMetaObject::invokeMethod(
            this,
            [joined, playable = source.playable, hasFrame = source.hasFrame] {
                if (joined && playable)
                    joined->fileLoaded(*playable);
                if (joined && hasFrame)
                    joined->frameDrawn();
            },
            Qt::QueuedConnection);
        return id;
    }

    MpvCore *core = createCore();
    if (!core)
        return 0;
    const int id = newID();
    m_sources.emplace(
        id,
        Source{
            core, file, {QPointer<MpvPlayer>(player)}, false, false, false, std::nullopt, false});
    connect(core, &MpvCore::loadFailed, this, [this, id] {
        m_sources.at(id).failed = true;
        forEachPlayer(id, [](MpvPlayer *each) { each->failed(); });
    });
    connect(core, &MpvCore::fileLoaded, this, [this, id](bool playable) {
        m_sources.at(id).playable = playable;
        forEachPlayer(id, [playable](MpvPlayer *each) { each->fileLoaded(playable); });
    });
    connect(core, &MpvCore::endReached, this, [this, id] {
        m_sources.at(id).atEnd = true;
        forEachPlayer(id, [](MpvPlayer *each) { each->reachedEnd(); });
    });
    onRenderThread([id, mpv = core->handle(), path = QFile::encodeName(file.toLocalFile())](
                       DesktopLayerRenderer *r) { r->addSource(id, mpv, path); });
    return id;
}

void RenderService::leave(int id, MpvPlayer *player)
{
    const auto it = m_sources.find(id);
    if (it == m_sources.end())
        return;
    std::erase_if(it->second.players,
                  [player](const auto &each) { return !each || each == player; });
    if (it->second.players.empty())
        retire(id);
    else
        updatePause(id);
}

void RenderService::updatePause(int id)
{
    const auto it = m_sources.find(id);
    if (it == m_sources.end() || it->second.retiring)
        return;
    const bool play =
        std::any_of(it->second.players.begin(), it->second.players.end(),
                    [](const auto &player) { return player && player->wantsToPlay(); });
    it->second.core->setPaused(!play);
}

void RenderService::retire(int id)
{
    Source &source = m_sources.at(id);
    if (source.retiring)
        return;
    source.retiring = true;
    ++disposals;
    m_selfWhileRetiring = shared_from_this();

    MpvCore *core = source.core;
    core->setPaused(true);
    core->command({"stop"});
    // Freeing a render context while mpv still has a frame queued blocks the
    // render thread; once the video output is closed it takes no time.
    if (!core->isVideoOutputConfigured()) {
        freeWhenOutputClosed(id);
        return;
    }
    connect(core, &MpvCore::videoOutputConfiguredChanged, this, [this, id](bool configured) {
        if (!configured)
            freeWhenOutputClosed(id);
    });
    QTimer::singleShot(2000, this, [this, id] { freeWhenOutputClosed(id); });
}

void RenderService::freeWhenOutputClosed(int id)
{
    const auto it = m_sources.find(id);
    if (it == m_sources.end() || !it->second.core)
        return;
    disconnect(it->second.core, nullptr, this, nullptr);
    onRenderThread([id](DesktopLayerRenderer *r) { r->freeSource(id); });
}

void RenderService::finishRetiring(int id)
{
    const auto it = m_sources.find(id);
    if (it == m_sources.end() || !it->second.retiring)
        return;
    it->second.core->terminateLater();
    m_sources.erase(it);
    --disposals;
    if (std::none_of(m_sources.begin(), m_sources.end(),
                     [](const auto &entry) { return entry.second.retiring; }))
        m_selfWhileRetiring.reset();
}

RenderHost::RenderHost(QScreen *screen, const QRect &frame, X11DesktopIntegration *integration)
    : m_integration(integration)
    , m_service(RenderService::instance())
    , m_window(screen,
               integration && integration->integration().window() ==
                                  DesktopIntegration::Window::BottomUnmanaged,
               m_service->path())
    , m_windowID(m_service->newID())
{
    m_window.setGeometry(frame);
    m_window.create();
    m_service->addWindow(m_windowID, &m_window);
    m_window.onTargetChanged = [this](bool redraw) { updateTarget(redraw); };
}

void RenderHost::updateTarget(bool redraw)
{
    const bool suspended = isSuspended();
    const QSize pixels = m_window.size() * m_window.devicePixelRatio();
    m_service->onRenderThread([window = m_windowID, pixels, suspended, redraw](auto *r) {
        r->setTarget(window, pixels, !suspended, redraw);
    });
    if (suspended != m_wasSuspended) {
        m_wasSuspended = suspended;
        const std::vector<QPointer<MpvPlayer>> players = m_players;
        for (const QPointer<MpvPlayer> &player : players) {
            if (player)
                player->applyPause();
        }
    }
}

X11DesktopSurface::X11DesktopSurface(QScreen *screen, const QRect &frame,
                                     X11DesktopIntegration *integration)
    : m_host(RenderHost::make(screen, frame, integration))
{}

X11DesktopSurface::~X11DesktopSurface()
{
    m_host->surfaceGone();
}

QRect X11DesktopSurface::frame() const
{
    return m_host->window().geometry();
}

void X11DesktopSurface::setFrame(const QRect &frame)
{
    m_host->window().setGeometry(frame);
}

void X11DesktopSurface::orderFront()
{
    m_host->show();
}

void X11DesktopSurface::close()
{
    m_host->window().hide();
}

bool X11DesktopSurface::isVisible() const
{
    return m_host->window().isVisible();
}

std::unique_ptr<VideoPlayer> X11DesktopSurface::createPlayer(const QUrl &file, qreal layerOpacity)
{
    return std::make_unique<MpvPlayer>(m_host, file, layerOpacity);
}

quintptr X11DesktopSurface::nativeWindowID() const
{
    return m_host->window().winId();
}

int X11DesktopSurface::pendingDisposals()
{
    return disposals;
}

} // namespace lumivale

#include "x11desktopsurface.moc"
