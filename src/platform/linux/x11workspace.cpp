#include "x11workspace.h"

#include "xcbsupport.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <span>
#include <vector>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

constexpr std::uint32_t kOnAllDesktops = 0xFFFFFFFF;
// Enough for any client list, in 32-bit units.
constexpr std::uint32_t kListLength = 1 << 16;
// Frame extents beyond this are garbage rather than decorations.
constexpr std::uint32_t kLargestExtent = 0x7FFF;
// Focus changes: the focus leaving a window while the window manager names
// none is news of its own.
constexpr std::uint32_t kFocusedWindowEvents =
    XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_FOCUS_CHANGE;

// The focused windows being watched, with the events this connection
// selected on each before; shared by every workspace object of the process,
// so that one giving a window back does not deafen another.
struct WatchedWindow
{
    int watchers = 0;
    std::optional<std::uint32_t> eventsBefore;
};
std::map<xcb_window_t, WatchedWindow> &watchedWindows()
{
    static std::map<xcb_window_t, WatchedWindow> windows;
    return windows;
}

QList<X11Workspace::ScreenScale> screenScales()
{
    QList<X11Workspace::ScreenScale> scales;
    for (const QScreen *screen : QGuiApplication::screens())
        scales.append({screen->geometry(), screen->devicePixelRatio()});
    return scales;
}

} // namespace

struct X11Workspace::Connection
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t clientListStacking = XCB_ATOM_NONE;
    xcb_atom_t clientList = XCB_ATOM_NONE;
    xcb_atom_t activeWindow = XCB_ATOM_NONE;
    xcb_atom_t currentDesktop = XCB_ATOM_NONE;
    xcb_atom_t wmPID = XCB_ATOM_NONE;
    xcb_atom_t frameExtents = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t wmStateHidden = XCB_ATOM_NONE;
    xcb_atom_t wmStateFullScreen = XCB_ATOM_NONE;
    xcb_atom_t wmDesktop = XCB_ATOM_NONE;
    xcb_atom_t wmWindowType = XCB_ATOM_NONE;
    xcb_atom_t wmWindowTypeDesktop = XCB_ATOM_NONE;

    // Everything asked about one window, sent before any answer is awaited so
    // that many windows cost one round trip.
    struct WindowQuery
    {
        xcb_window_t window;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t position;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t pid;
        xcb_get_property_cookie_t extents;
        xcb_get_property_cookie_t state;
        xcb_get_property_cookie_t desktop;
        xcb_get_property_cookie_t type;
    };
    struct WindowFacts
    {
        WindowDescription description;
        bool isFullScreen = false;
        bool isDesktop = false;
    };

    static std::unique_ptr<Connection> open()
    {
        xcb_connection_t *connection = xcb::qtConnection();
        if (!connection)
            return nullptr;
        auto x = std::make_unique<Connection>();
        x->connection = connection;
        x->root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const std::pair<const char *, xcb_atom_t *> atoms[] = {
            {"_NET_CLIENT_LIST_STACKING", &x->clientListStacking},
            {"_NET_CLIENT_LIST", &x->clientList},
            {"_NET_ACTIVE_WINDOW", &x->activeWindow},
            {"_NET_CURRENT_DESKTOP", &x->currentDesktop},
            {"_NET_WM_PID", &x->wmPID},
            {"_NET_FRAME_EXTENTS", &x->frameExtents},
            {"_NET_WM_STATE", &x->wmState},
            {"_NET_WM_STATE_HIDDEN", &x->wmStateHidden},
            {"_NET_WM_STATE_FULLSCREEN", &x->wmStateFullScreen},
            {"_NET_WM_DESKTOP", &x->wmDesktop},
            {"_NET_WM_WINDOW_TYPE", &x->wmWindowType},
            {"_NET_WM_WINDOW_TYPE_DESKTOP", &x->wmWindowTypeDesktop},
        };
        std::vector<xcb_intern_atom_cookie_t> cookies;
        for (const auto &[name, target] : atoms)
            cookies.push_back(xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name));
        bool complete = true;
        for (size_t i = 0; i < cookies.size(); ++i) {
            xcb::Reply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(connection, cookies[i], nullptr));
            *atoms[i].second = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            complete = complete && reply && reply->atom != XCB_ATOM_NONE;
        }
        if (!complete)
            return nullptr;
        return x;
    }

    xcb_get_property_cookie_t getProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                          std::uint32_t length) const
    {
        return xcb_get_property(connection, 0, window, property, type, 0, length);
    }

    xcb::Reply<xcb_get_property_reply_t> reply(xcb_get_property_cookie_t cookie) const
    {
        return xcb::Reply<xcb_get_property_reply_t>(
            xcb_get_property_reply(connection, cookie, nullptr));
    }

    WindowQuery ask(xcb_window_t window) const
    {
        return WindowQuery{
            window,
            xcb_get_geometry(connection, window),
            xcb_translate_coordinates(connection, window, root, 0, 0),
            xcb_get_window_attributes(connection, window),
            getProperty(window, wmPID, XCB_ATOM_CARDINAL, 1),
            getProperty(window, frameExtents, XCB_ATOM_CARDINAL, 4),
            getProperty(window, wmState, XCB_ATOM_ATOM, 64),
            getProperty(window, wmDesktop, XCB_ATOM_CARDINAL, 1),
            getProperty(window, wmWindowType, XCB_ATOM_ATOM, 16),
        };
    }

    // Every answer is collected, even after a failed one, so none is left
    // queued in the connection. Absent when the window has gone.
    std::optional<WindowFacts> answer(const WindowQuery &query,
                                      std::optional<std::uint32_t> currentDesktopNumber,
                                      const QList<ScreenScale> &screens) const
    {
        xcb::Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection, query.geometry, nullptr));
        xcb::Reply<xcb_translate_coordinates_reply_t> position(
            xcb_translate_coordinates_reply(connection, query.position, nullptr));
        xcb::Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(connection, query.attributes, nullptr));
        const xcb::Reply<xcb_get_property_reply_t> pid = reply(query.pid);
        const xcb::Reply<xcb_get_property_reply_t> extents = reply(query.extents);
        const xcb::Reply<xcb_get_property_reply_t> state = reply(query.state);
        const xcb::Reply<xcb_get_property_reply_t> desktop = reply(query.desktop);
        const xcb::Reply<xcb_get_property_reply_t> type = reply(query.type);
        if (!geometry || !position || !attributes)
            return std::nullopt;

        WindowFacts facts;
        WindowDescription &description = facts.description;
        description.windowID = query.window;
        if (const auto values = xcb::items32(pid.get(), XCB_ATOM_CARDINAL);
            !values.empty() && values[0])
            description.ownerProcessID = qint64(values[0]);

        // The client's own border, then the window manager's decorations.
        const int border = geometry->border_width;
        QRect frame(position->dst_x - border, position->dst_y - border,
                    geometry->width + 2 * border, geometry->height + 2 * border);
        if (const auto values = xcb::items32(extents.get(), XCB_ATOM_CARDINAL);
            values.size() >= 4 && std::all_of(values.begin(), values.begin() + 4,
                                              [](std::uint32_t v) { return v <= kLargestExtent; }))
            frame = frame.marginsAdded(
                QMargins(int(values[0]), int(values[2]), int(values[1]), int(values[3])));
        description.frame = toDesktopCoordinates(frame, screens);

        const auto states = xcb::items32(state.get(), XCB_ATOM_ATOM);
        const auto hasState = [&](xcb_atom_t atom) {
            return std::find(states.begin(), states.end(), atom) != states.end();
        };
        facts.isFullScreen = hasState(wmStateFullScreen);
        const auto types = xcb::items32(type.get(), XCB_ATOM_ATOM);
        facts.isDesktop = std::find(types.begin(), types.end(), wmWindowTypeDesktop) != types.end();
        description.isHidden =
            hasState(wmStateHidden) || attributes->map_state != XCB_MAP_STATE_VIEWABLE;

        if (const auto values = xcb::items32(desktop.get(), XCB_ATOM_CARDINAL);
            !values.empty() && currentDesktopNumber)
            description.isOnCurrentWorkspace =
                values[0] == kOnAllDesktops || values[0] == *currentDesktopNumber;
        return facts;
    }

    std::optional<WindowFacts> describe(xcb_window_t window) const
    {
        return answer(ask(window), std::nullopt, screenScales());
    }

    xcb_window_t focusedWindow() const
    {
        const auto active = reply(getProperty(root, activeWindow, XCB_ATOM_WINDOW, 1));
        const auto values = xcb::items32(active.get(), XCB_ATOM_WINDOW);
        return values.empty() ? xcb_window_t(XCB_WINDOW_NONE) : values[0];
    }

    // The managed window (one in _NET_CLIENT_LIST) that holds the server's
    // input focus, itself or through a window inside it; none when the focus
    // is nowhere, on the root or on a window nobody manages.
    xcb_window_t managedWindowWithInputFocus() const
    {
        const auto clientsReply =
            reply(getProperty(root, clientList, XCB_ATOM_WINDOW, kListLength));
        xcb::Reply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        if (!focus)
            return XCB_WINDOW_NONE;
        const auto clients = xcb::items32(clientsReply.get(), XCB_ATOM_WINDOW);
        // Toolkits may focus a child of their top-level window, and the window
        // manager reparents that into its frame: walk up towards the root.
        xcb_window_t window = focus->focus;
        while (window != XCB_WINDOW_NONE && window != XCB_INPUT_FOCUS_POINTER_ROOT &&
               window != root) {
            if (std::find(clients.begin(), clients.end(), window) != clients.end())
                return window;
            xcb::Reply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
            if (!tree)
                break;
            window = tree->parent;
        }
        return XCB_WINDOW_NONE;
    }

    // Adds event bits to what this connection already selects on a window,
    // keeping in `eventsBefore` the previous selection when it changed it.
    // False when the window does not exist.
    bool addEvents(xcb_window_t window, std::uint32_t events,
                   std::optional<std::uint32_t> *eventsBefore) const
    {
        xcb::Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr));
        if (!attributes)
            return false;
        if ((attributes->your_event_mask & events) != events) {
            setEvents(window, attributes->your_event_mask | events);
            if (eventsBefore)
                *eventsBefore = attributes->your_event_mask;
        }
        return true;
    }

    void setEvents(xcb_window_t window, std::uint32_t events) const
    {
        // Checked and discarded: the window may be gone, and that is no error
        // worth a warning from Qt.
        const xcb_void_cookie_t cookie =
            xcb_change_window_attributes_checked(connection, window, XCB_CW_EVENT_MASK, &events);
        xcb_discard_reply(connection, cookie.sequence);
        xcb_flush(connection);
    }
};

bool X11Workspace::ActiveWindowState::hasSameOwner(const ActiveWindowState &other) const
{
    if (ownerProcessID || other.ownerProcessID)
        return ownerProcessID == other.ownerProcessID;
    return window == other.window;
}

X11Workspace::X11Workspace(QObject *parent)
    : Workspace(parent)
    , m_x(Connection::open())
{
    if (!m_x)
        return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    // Qt selects property changes on the root window itself; this only makes
    // sure of it, keeping every bit Qt asked for.
    m_x->addEvents(m_x->root, XCB_EVENT_MASK_PROPERTY_CHANGE, nullptr);
    m_lastSeen = readActiveWindowState().value_or(ActiveWindowState{});
}

X11Workspace::~X11Workspace()
{
    if (!m_x)
        return;
    // The connection belongs to the application and goes with it.
    if (xcb::qtConnection() != m_x->connection)
        return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    releaseWatchedWindow(true);
}

std::optional<QList<WindowDescription>> X11Workspace::windowsFrontToBack() const
{
    if (!m_x)
        return std::nullopt;
    const auto stacking = m_x->reply(
        m_x->getProperty(m_x->root, m_x->clientListStacking, XCB_ATOM_WINDOW, kListLength));
    const auto mapped =
        m_x->reply(m_x->getProperty(m_x->root, m_x->clientList, XCB_ATOM_WINDOW, kListLength));
    const auto desktop =
        m_x->reply(m_x->getProperty(m_x->root, m_x->currentDesktop, XCB_ATOM_CARDINAL, 1));

    // Both lists run bottom to top (stacking) or oldest to newest (mapping
    // order, the nearest guess at stacking when that list is missing).
    const xcb_get_property_reply_t *list = stacking.get();
    if (!list || list->type != XCB_ATOM_WINDOW || list->format != 32)
        list = mapped.get();
    if (!list || list->type != XCB_ATOM_WINDOW || list->format != 32)
        return std::nullopt;
    const auto windows = xcb::items32(list, XCB_ATOM_WINDOW);

    std::optional<std::uint32_t> currentDesktopNumber;
    if (const auto values = xcb::items32(desktop.get(), XCB_ATOM_CARDINAL); !values.empty())
        currentDesktopNumber = values[0];
    const QList<ScreenScale> screens = screenScales();

    std::vector<Connection::WindowQuery> queries;
    queries.reserve(windows.size());
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        queries.push_back(m_x->ask(*it));
    QList<WindowDescription> descriptions;
    descriptions.reserve(qsizetype(queries.size()));
    for (const Connection::WindowQuery &query : queries) {
        // A desktop window (file manager icons, another wallpaper) lies
        // under everything and often has the screen's size: not a window
        // that hides the desktop.
        auto facts = m_x->answer(query, currentDesktopNumber, screens);
        if (facts && !facts->isDesktop)
            descriptions.append(facts->description);
    }
    return descriptions;
}

std::optional<QRect> X11Workspace::activeWindowFrame() const
{
    if (!m_x)
        return std::nullopt;
    const xcb_window_t window = m_x->focusedWindow();
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    const auto facts = m_x->describe(window);
    return facts ? facts->description.frame : std::nullopt;
}

QRect X11Workspace::toDesktopCoordinates(const QRect &native, const QList<ScreenScale> &screens)
{
    if (screens.isEmpty())
        return native;
    // Qt keeps a screen's top left corner at its native position and scales
    // around it.
    const auto nativeGeometry = [](const ScreenScale &screen) {
        return QRect(screen.geometry.topLeft(), screen.geometry.size() * screen.devicePixelRatio);
    };
    const auto under = std::find_if(screens.begin(), screens.end(), [&](const ScreenScale &screen) {
        return nativeGeometry(screen).contains(native.center());
    });
    const ScreenScale &screen = under != screens.end() ? *under : screens.first();
    if (screen.devicePixelRatio <= 0 || screen.devicePixelRatio == 1)
        return native;
    const qreal factor = qreal(1) / screen.devicePixelRatio;
    const QPoint origin = screen.geometry.topLeft();
    return QRect((native.topLeft() - origin) * factor + origin, native.size() * factor);
}

bool X11Workspace::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_PROPERTY_NOTIFY: {
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (change->window == m_x->root) {
            if (change->atom == m_x->activeWindow || change->atom == m_x->clientListStacking ||
                change->atom == m_x->currentDesktop)
                scheduleActiveWindowCheck();
        } else if (change->window == m_watchedWindow) {
            if (change->atom == m_x->wmState || change->atom == m_x->frameExtents ||
                change->atom == m_x->wmPID)
                scheduleActiveWindowCheck();
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY:
        if (reinterpret_cast<const xcb_configure_notify_event_t *>(event)->window ==
                m_watchedWindow &&
            m_watchedWindow != XCB_WINDOW_NONE)
            scheduleActiveWindowCheck();
        break;
    case XCB_FOCUS_OUT:
        if (reinterpret_cast<const xcb_focus_out_event_t *>(event)->event == m_watchedWindow &&
            m_watchedWindow != XCB_WINDOW_NONE)
            scheduleActiveWindowCheck();
        break;
    case XCB_UNMAP_NOTIFY:
        if (reinterpret_cast<const xcb_unmap_notify_event_t *>(event)->window == m_watchedWindow &&
            m_watchedWindow != XCB_WINDOW_NONE)
            scheduleActiveWindowCheck();
        break;
    case XCB_DESTROY_NOTIFY:
        // The server may hand the same ID to a new window later; that one
        // must be watched afresh.
        if (reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window ==
                m_watchedWindow &&
            m_watchedWindow != XCB_WINDOW_NONE) {
            releaseWatchedWindow(false);
            scheduleActiveWindowCheck();
        }
        break;
    default:
        break;
    }
    // Qt still handles every event itself.
    return false;
}

void X11Workspace::scheduleActiveWindowCheck()
{
    // One look for a burst of events: a drag sends a ConfigureNotify per step.
    if (m_checkScheduled)
        return;
    m_checkScheduled = true;
    QMetaObject::invokeMethod(this, &X11Workspace::checkActiveWindow, Qt::QueuedConnection);
}

void X11Workspace::checkActiveWindow()
{
    m_checkScheduled = false;
    const std::optional<ActiveWindowState> read = readActiveWindowState();
    if (!read)
        return;
    const ActiveWindowState &state = *read;
    const bool changed = !state.hasSameOwner(m_lastSeen) ||
                         state.isFullScreen != m_lastSeen.isFullScreen ||
                         state.frameSize != m_lastSeen.frameSize;
    m_lastSeen = state;
    if (changed)
        Q_EMIT activeApplicationChanged();
}

std::optional<X11Workspace::ActiveWindowState> X11Workspace::readActiveWindowState()
{
    ActiveWindowState state;
    state.window = m_x->focusedWindow();
    if (state.window == XCB_WINDOW_NONE) {
        // While the focus moves, the window manager may name no window for a
        // while: openbox clears _NET_ACTIVE_WINDOW when the focus leaves a
        // window before it has seen the focus arrive at the next, and when it
        // falls behind it names none while it catches up. No window named
        // while a managed window holds the focus is such a moment, not a
        // change: the name that follows is compared with the last one seen.
        // That window is watched meanwhile, so that the focus leaving it for
        // no window at all is seen.
        const xcb_window_t holder = m_x->managedWindowWithInputFocus();
        if (holder != XCB_WINDOW_NONE) {
            watchWindow(holder);
            // The focus may have left before the watch began.
            if (m_x->managedWindowWithInputFocus() != holder)
                scheduleActiveWindowCheck();
            return std::nullopt;
        }
    }
    // Watched before it is read, so that no change falls in between.
    watchWindow(state.window);
    if (state.window == XCB_WINDOW_NONE)
        return state;
    if (const auto facts = m_x->describe(state.window)) {
        state.ownerProcessID = facts->description.ownerProcessID;
        state.isFullScreen = facts->isFullScreen;
        state.frameSize = facts->description.frame->size();
    }
    return state;
}

void X11Workspace::watchWindow(std::uint32_t window)
{
    if (window == m_watchedWindow)
        return;
    releaseWatchedWindow(true);
    if (window == XCB_WINDOW_NONE)
        return;
    auto &watched = watchedWindows();
    WatchedWindow &entry = watched[window];
    if (entry.watchers == 0 && !m_x->addEvents(window, kFocusedWindowEvents, &entry.eventsBefore)) {
        // Already gone: no DestroyNotify will come to say so.
        watched.erase(window);
        return;
    }
    ++entry.watchers;
    m_watchedWindow = window;
}

void X11Workspace::releaseWatchedWindow(bool windowExists)
{
    if (m_watchedWindow == XCB_WINDOW_NONE)
        return;
    auto &watched = watchedWindows();
    const auto it = watched.find(m_watchedWindow);
    if (it != watched.end() && --it->second.watchers == 0) {
        if (windowExists && it->second.eventsBefore)
            m_x->setEvents(m_watchedWindow, *it->second.eventsBefore);
        watched.erase(it);
    }
    m_watchedWindow = XCB_WINDOW_NONE;
}

} // namespace lumivale
