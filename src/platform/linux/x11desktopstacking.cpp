#include "x11desktopstacking.h"

#include "xcbsupport.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <span>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

// Enough for any client list, in 32-bit units.
constexpr std::uint32_t kListLength = 1 << 16;
// Stacking changes of the root window's children, and its property changes
// (the window manager's stacking list).
constexpr std::uint32_t kRootEvents =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
// How long the window manager gets to carry out a restack before it counts as
// refused.
constexpr int kVerifyDelayMs = 300;

xcb::Reply<xcb_get_property_reply_t> readProperty(xcb_connection_t *connection, xcb_window_t window,
                                                  xcb_atom_t name, xcb_atom_t type)
{
    return xcb::Reply<xcb_get_property_reply_t>(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, type, 0, kListLength), nullptr));
}

bool windowManagerSupports(xcb_connection_t *connection, const char *hint)
{
    const auto supported = readProperty(connection, xcb::rootWindow(connection),
                                        xcb::atom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    const xcb_atom_t wanted = xcb::atom(connection, hint);
    for (std::uint32_t each : xcb::items32(supported.get(), XCB_ATOM_ATOM)) {
        if (each == wanted)
            return true;
    }
    return false;
}

} // namespace

X11DesktopStacking::X11DesktopStacking(DesktopIntegration::Window window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    m_check.setSingleShot(true);
    m_check.setInterval(0);
    connect(&m_check, &QTimer::timeout, this, &X11DesktopStacking::restackNow);
    m_verify.setSingleShot(true);
    m_verify.setInterval(kVerifyDelayMs);
    connect(&m_verify, &QTimer::timeout, this, &X11DesktopStacking::verify);
}

// The native event filter removes itself from the application, if any is
// left.
X11DesktopStacking::~X11DesktopStacking() = default;

void X11DesktopStacking::addWindow(std::uint32_t window)
{
    xcb_connection_t *connection = xcb::qtConnection();
    if (!connection)
        return;
    m_ours.insert(window);
    if (!m_watching) {
        m_watching = true;
        // Added to what Qt and the workspace watcher already select there.
        const xcb_window_t root = xcb::rootWindow(connection);
        xcb::Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, root), nullptr));
        const std::uint32_t events = (attributes ? attributes->your_event_mask : 0) | kRootEvents;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &events);
        xcb_flush(connection);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    m_check.start();
}

void X11DesktopStacking::removeWindow(std::uint32_t window)
{
    m_ours.remove(window);
}

bool X11DesktopStacking::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || m_ours.isEmpty())
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_MAP_NOTIFY:
    case XCB_CONFIGURE_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
        m_check.start();
        break;
    case XCB_CLIENT_MESSAGE:
        // Our own requests to the window manager about our windows, which we
        // hear too since we listen to the root window's substructure.
        return m_ours.contains(reinterpret_cast<const xcb_client_message_event_t *>(event)->window);
    case XCB_DESTROY_NOTIFY:
        m_isDesktopType.remove(reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        static xcb_atom_t stackingList =
            xcb::atom(xcb::qtConnection(), "_NET_CLIENT_LIST_STACKING");
        if (change->atom == stackingList)
            m_check.start();
        break;
    }
    default:
        break;
    }
    return false;
}

QList<StackedWindow> X11DesktopStacking::stackingOrder()
{
    xcb_connection_t *connection = xcb::qtConnection();
    QList<StackedWindow> order;
    if (!connection)
        return order;
    const xcb_window_t root = xcb::rootWindow(connection);

    if (m_window == DesktopIntegration::Window::BottomUnmanaged) {
        // Unmanaged windows are children of the root window themselves.
        xcb::Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
        if (!tree)
            return order;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
            order.append({children[i], m_ours.contains(children[i]), false});
        return order;
    }

    const auto list = readProperty(
        connection, root, xcb::atom(connection, "_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    const std::span<const std::uint32_t> windows = xcb::items32(list.get(), XCB_ATOM_WINDOW);
    // The window types of windows not seen before, asked for all at once.
    static const xcb_atom_t typeAtom = xcb::atom(connection, "_NET_WM_WINDOW_TYPE");
    static const xcb_atom_t desktopAtom = xcb::atom(connection, "_NET_WM_WINDOW_TYPE_DESKTOP");
    QHash<std::uint32_t, xcb_get_property_cookie_t> asked;
    for (std::uint32_t window : windows) {
        if (!m_ours.contains(window) && !m_isDesktopType.contains(window))
            asked.insert(window,
                         xcb_get_property(connection, 0, window, typeAtom, XCB_ATOM_ATOM, 0, 32));
    }
    for (auto it = asked.cbegin(); it != asked.cend(); ++it) {
        xcb::Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(connection, it.value(), nullptr));
        const std::span<const std::uint32_t> types = xcb::items32(reply.get(), XCB_ATOM_ATOM);
        m_isDesktopType.insert(it.key(),
                               std::find(types.begin(), types.end(), desktopAtom) != types.end());
    }
    for (std::uint32_t window : windows)
        order.append({window, m_ours.contains(window), m_isDesktopType.value(window)});
    return order;
}

void X11DesktopStacking::restackNow()
{
    m_check.stop();
    if (m_ours.isEmpty())
        return;
    const QList<RestackRequest> requests = restackRequests(stackingOrder(), m_window);
    // A busy window manager may carry a restack out after the check that
    // called it refused; either way it is done once nothing is wanted.
    if (requests.isEmpty() && m_awaitingRestack) {
        m_awaitingRestack = false;
        Q_EMIT restacked();
    }
    m_awaitingRestack = m_awaitingRestack || !requests.isEmpty();
    for (const RestackRequest &each : requests)
        request(each);
    if (!requests.isEmpty() && m_window == DesktopIntegration::Window::DesktopType) {
        m_pending = requests;
        m_verify.start();
    }
}

void X11DesktopStacking::request(const RestackRequest &request)
{
    xcb_connection_t *connection = xcb::qtConnection();
    static const bool viaWindowManager = windowManagerSupports(connection, "_NET_RESTACK_WINDOW");
    if (m_window == DesktopIntegration::Window::DesktopType && viaWindowManager) {
        // The window manager restacks its frames; the message comes "from a
        // pager" so that it is carried out rather than taken as a hint.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = request.window;
        event.type = xcb::atom(connection, "_NET_RESTACK_WINDOW");
        event.data.data32[0] = 2;
        event.data.data32[1] = request.sibling;
        event.data.data32[2] = XCB_STACK_MODE_BELOW;
        xcb_send_event(connection, 0, xcb::rootWindow(connection),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
    } else if (request.sibling) {
        const std::uint32_t values[] = {request.sibling, XCB_STACK_MODE_BELOW};
        // Checked and discarded: the sibling may have gone, or may not be a
        // sibling of ours under a reparenting window manager.
        xcb_discard_reply(connection, xcb_configure_window_checked(connection, request.window,
                                                                   XCB_CONFIG_WINDOW_SIBLING |
                                                                       XCB_CONFIG_WINDOW_STACK_MODE,
                                                                   values)
                                          .sequence);
    } else {
        const std::uint32_t below = XCB_STACK_MODE_BELOW;
        xcb_configure_window(connection, request.window, XCB_CONFIG_WINDOW_STACK_MODE, &below);
    }
    xcb_flush(connection);
}

void X11DesktopStacking::verify()
{
    const QList<RestackRequest> stillWanted = restackRequests(stackingOrder(), m_window);
    bool refused = false;
    for (const RestackRequest &each : std::as_const(m_pending)) {
        if (stillWanted.contains(each) && !m_refusedBelow.contains(each.sibling)) {
            m_refusedBelow.insert(each.sibling);
            refused = true;
        }
    }
    m_pending.clear();
    if (refused)
        Q_EMIT restackRefused();
}

void X11DesktopStacking::nudgeCompositorOrder()
{
    // muffin takes a new order at its next frame; the helper must come after.
    QTimer::singleShot(500, this, &X11DesktopStacking::mapThrowAwayWindow);
}

void X11DesktopStacking::mapThrowAwayWindow()
{
    xcb_connection_t *connection = xcb::qtConnection();
    if (!connection)
        return;
    const xcb_window_t helper = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, helper, xcb::rootWindow(connection), 0, 0,
                      1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t utility = xcb::atom(connection, "_NET_WM_WINDOW_TYPE_UTILITY");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, helper,
                        xcb::atom(connection, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1,
                        &utility);
    const xcb_atom_t states[] = {xcb::atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 xcb::atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, helper,
                        xcb::atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
    // ICCCM WM_HINTS: no input, starting iconic.
    constexpr std::uint32_t kInputHint = 1, kStateHint = 2, kIconicState = 3;
    const std::uint32_t hints[9] = {kInputHint | kStateHint, 0, kIconicState};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, helper, XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, 9, hints);
    xcb_map_window(connection, helper);
    xcb_flush(connection);
    QTimer::singleShot(1000, this, [helper] {
        if (xcb_connection_t *current = xcb::qtConnection()) {
            xcb_destroy_window(current, helper);
            xcb_flush(current);
        }
    });
}

QString X11DesktopStacking::windowManagerName()
{
    xcb_connection_t *connection = xcb::qtConnection();
    if (!connection)
        return {};
    const auto check =
        readProperty(connection, xcb::rootWindow(connection),
                     xcb::atom(connection, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    const std::span<const std::uint32_t> windows = xcb::items32(check.get(), XCB_ATOM_WINDOW);
    if (windows.empty())
        return {};
    const xcb_atom_t utf8 = xcb::atom(connection, "UTF8_STRING");
    const auto name =
        readProperty(connection, windows.front(), xcb::atom(connection, "_NET_WM_NAME"), utf8);
    if (!name || name->type != utf8)
        return {};
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(name.get())),
                             xcb_get_property_value_length(name.get()));
}

} // namespace lumivale
