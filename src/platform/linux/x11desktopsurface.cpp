#include "x11desktopsurface.h"

#include "desktoprenderpath.h"
#include "mpvcore.h"
#include "mpvrenderer.h"
#include "mpvsoftwarerenderer.h"
#include "x11desktopintegration.h"

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
#include <xcb/xcb.h>

namespace lumivale {
namespace {

int disposals = 0;

// The dynamic property Qt's xcb plugin reads for the EWMH window type; 0x2 is
// _NET_WM_WINDOW_TYPE_DESKTOP. Qt::Desktop would take over the root window.
constexpr char kWindowTypeProperty[] = "_q_xcb_wm_window_type";
constexpr int kDesktopWindowType = 0x2;

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

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
        xcb_connection_t *connection = x11Connection();
        if (!connection)
            return;
        const auto id = xcb_window_t(winId());
        // Black behind the first frame, drawn by the server on map.
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const uint32_t black = screen->black_pixel;
        xcb_change_window_attributes(connection, id, XCB_CW_BACK_PIXEL, &black);
        const uint32_t allDesktops = 0xFFFFFFFF;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                            atom(connection, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                            &allDesktops);
        QList<xcb_atom_t> states;
        for (const char *name : kExtraStates)
            states.append(atom(connection, name));
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                            atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                            uint32_t(states.size()), states.constData());
        xcb_flush(connection);
        m_statesRequested = false;
    }

    // Asked for again, the EWMH way, once the window is managed and exposed,
    // for window managers that rewrite the states of a window they map.
    void requestStatesOnce()
    {
        xcb_connection_t *connection = x11Connection();
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
        const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
        constexpr uint32_t add = 1, fromApplication = 1;
        for (size_t i = 0; i < std::size(kExtraStates); i += 2) {
            send(state, add, atom(connection, kExtraStates[i]),
                 i + 1 < std::size(kExtraStates) ? atom(connection, kExtraStates[i + 1]) : 0,
                 fromApplication);
        }
        send(atom(connection, "_NET_WM_DESKTOP"), 0xFFFFFFFF, fromApplication, 0, 0);
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

// Owns one desktop window, its render thread and the mpv cores drawn in it,
// including those still retiring. Shared by the surface and its players, and
// kept alive by itself while cores retire, so that the surface and players can
// go at any moment without waiting.
class RenderHost : public QObject, public std::enable_shared_from_this<RenderHost>
{
    Q_OBJECT

public:
    static std::shared_ptr<RenderHost> make(QScreen *screen, const QRect &frame,
                                            X11DesktopIntegration *integration)
    {
        // Deleted through the event loop: the last reference may drop inside
        // one of the host's own slots.
        return std::shared_ptr<RenderHost>(new RenderHost(screen, frame, integration),
                                           [](RenderHost *host) { host->deleteLater(); });
    }

    ~RenderHost() override
    {
        QMetaObject::invokeMethod(m_renderer, &DesktopLayerRenderer::shutdown,
                                  Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_renderer;
        for (auto &[id, entry] : m_layers)
            delete entry.core;
        if (m_surfaceGone)
            --disposals;
    }

    DesktopNativeWindow &window() { return m_window; }
    MpvCore *createCore() const
    {
        if (m_path == DesktopRenderPath::OpenGL)
            return MpvCore::create();
        MpvCore *core = MpvCore::create();
        if (core) {
            for (const auto &[name, value] : MpvSoftwareRenderer::kCoreOptions)
                mpv_set_property_string(core->handle(), name, value);
            core->turnPicturesInFilters();
        }
        return core;
    }
    bool showsLivePlayback() const
    {
        return !m_integration || m_integration->integration().showsLivePlayback();
    }
    bool isSuspended() const { return !m_window.isExposed() || !showsLivePlayback(); }

    int attach(MpvPlayer *player, MpvCore *core, const QUrl &file, bool visible);
    void setLayerVisible(int id, bool visible)
    {
        QMetaObject::invokeMethod(
            m_renderer, [r = m_renderer, id, visible] { r->setLayerVisible(id, visible); },
            Qt::QueuedConnection);
    }
    void retire(int id);

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
    struct Entry
    {
        MpvCore *core;
        QPointer<MpvPlayer> player;
        bool retiring = false;
    };

    RenderHost(QScreen *screen, const QRect &frame, X11DesktopIntegration *integration);
    void updateTarget(bool redraw);
    void freeWhenOutputClosed(int id);
    void finishRetiring(int id);

    QPointer<X11DesktopIntegration> m_integration;
    const DesktopRenderPath m_path = desktopRenderPath();
    DesktopNativeWindow m_window;
    QThread m_thread;
    DesktopLayerRenderer *m_renderer;
    std::map<int, Entry> m_layers;
    int m_nextID = 1;
    bool m_surfaceGone = false;
    bool m_wasSuspended = true;
    std::shared_ptr<RenderHost> m_selfWhileRetiring;
};

namespace {

// A player and its layer in a desktop window.
class MpvPlayer : public VideoPlayer
{
public:
    MpvPlayer(std::shared_ptr<RenderHost> host, const QUrl &file, qreal opacity)
        : m_host(std::move(host))
        , m_url(file)
        , m_opacity(opacity)
    {
        m_core = m_host->createCore();
        if (!m_core) {
            // Reported as a failed item once the owner listens.
            QMetaObject::invokeMethod(
                this, [this] { setStatus(ItemStatus::Failed); }, Qt::QueuedConnection);
            return;
        }
        connect(m_core, &MpvCore::loadFailed, this, [this] { setStatus(ItemStatus::Failed); });
        connect(m_core, &MpvCore::fileLoaded, this, [this](bool playable) {
            if (!playable)
                setStatus(ItemStatus::Failed);
            // Where the desktop keeps the window out of sight no frame is
            // ever drawn: a playable file is all there is to wait for.
            else if (!m_host->showsLivePlayback())
                setStatus(ItemStatus::ReadyToPlay);
        });
        connect(m_core, &MpvCore::endReached, this, &VideoPlayer::playedToEnd);
        m_layerID = m_host->attach(this, m_core, file, opacity > 0);
    }

    ~MpvPlayer() override
    {
        if (m_core) {
            disconnect(m_core, nullptr, this, nullptr);
            m_host->retire(m_layerID);
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
        if (m_core)
            m_core->command({"seek", "0", "absolute"});
    }
    double currentTime() const override { return m_core ? m_core->timePosition() : 0; }
    qreal layerOpacity() const override { return m_opacity; }
    void setLayerOpacity(qreal opacity) override
    {
        m_opacity = opacity;
        if (m_core)
            m_host->setLayerVisible(m_layerID, opacity > 0);
    }

    // From the host.
    void applyPause()
    {
        if (m_core)
            m_core->setPaused(!m_wantsPlay || m_host->isSuspended());
    }
    void frameDrawn()
    {
        if (m_status == ItemStatus::Unknown)
            setStatus(ItemStatus::ReadyToPlay);
    }
    void failed() { setStatus(ItemStatus::Failed); }

private:
    void setStatus(ItemStatus status)
    {
        if (m_status == status || m_status == ItemStatus::Failed)
            return;
        m_status = status;
        Q_EMIT itemStatusChanged();
    }

    std::shared_ptr<RenderHost> m_host;
    MpvCore *m_core = nullptr;
    int m_layerID = 0;
    QUrl m_url;
    qreal m_opacity;
    bool m_wantsPlay = false;
    ItemStatus m_status = ItemStatus::Unknown;
};

} // namespace

RenderHost::RenderHost(QScreen *screen, const QRect &frame, X11DesktopIntegration *integration)
    : m_integration(integration)
    , m_window(screen,
               integration && integration->integration().window() ==
                                  DesktopIntegration::Window::BottomUnmanaged,
               m_path)
    , m_renderer(nullptr)
{
    m_window.setGeometry(frame);
    m_window.create();
    if (m_path == DesktopRenderPath::Software)
        m_renderer = new MpvSoftwareRenderer(uint32_t(m_window.winId()));
    else
        m_renderer = new MpvRenderer(&m_window);
    m_renderer->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("lumivale-render"));
    m_thread.start();

    m_window.onTargetChanged = [this](bool redraw) { updateTarget(redraw); };
    connect(m_renderer, &DesktopLayerRenderer::frameDrawn, this, [this](int id) {
        const auto it = m_layers.find(id);
        if (it != m_layers.end() && it->second.player)
            it->second.player->frameDrawn();
    });
    connect(m_renderer, &DesktopLayerRenderer::layerFailed, this, [this](int id) {
        const auto it = m_layers.find(id);
        if (it != m_layers.end() && it->second.player)
            it->second.player->failed();
    });
    connect(m_renderer, &DesktopLayerRenderer::layerFreed, this, &RenderHost::finishRetiring);
}

void RenderHost::updateTarget(bool redraw)
{
    const bool suspended = isSuspended();
    const QSize pixels = m_window.size() * m_window.devicePixelRatio();
    QMetaObject::invokeMethod(
        m_renderer,
        [r = m_renderer, pixels, suspended, redraw] { r->setTarget(pixels, !suspended, redraw); },
        Qt::QueuedConnection);
    if (suspended != m_wasSuspended) {
        m_wasSuspended = suspended;
        for (auto &[id, entry] : m_layers) {
            if (entry.player && !entry.retiring)
                entry.player->applyPause();
        }
    }
}

int RenderHost::attach(MpvPlayer *player, MpvCore *core, const QUrl &file, bool visible)
{
    const int id = m_nextID++;
    m_layers.emplace(id, Entry{core, player});
    QMetaObject::invokeMethod(
        m_renderer,
        [r = m_renderer, id, mpv = core->handle(), path = QFile::encodeName(file.toLocalFile()),
         visible] { r->addLayer(id, mpv, path, visible); },
        Qt::QueuedConnection);
    return id;
}

void RenderHost::retire(int id)
{
    const auto it = m_layers.find(id);
    if (it == m_layers.end() || it->second.retiring)
        return;
    it->second.retiring = true;
    m_selfWhileRetiring = shared_from_this();

    QMetaObject::invokeMethod(
        m_renderer, [r = m_renderer, id] { r->removeLayer(id); }, Qt::QueuedConnection);
    MpvCore *core = it->second.core;
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

void RenderHost::freeWhenOutputClosed(int id)
{
    const auto it = m_layers.find(id);
    if (it == m_layers.end() || !it->second.core)
        return;
    disconnect(it->second.core, nullptr, this, nullptr);
    QMetaObject::invokeMethod(
        m_renderer, [r = m_renderer, id] { r->freeLayer(id); }, Qt::QueuedConnection);
}

void RenderHost::finishRetiring(int id)
{
    const auto it = m_layers.find(id);
    if (it == m_layers.end())
        return;
    it->second.core->terminateLater();
    m_layers.erase(it);
    if (std::none_of(m_layers.begin(), m_layers.end(),
                     [](const auto &entry) { return entry.second.retiring; }))
        m_selfWhileRetiring.reset();
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
