#include "x11windowvisibility.h"

#include "xcbsupport.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace lumivale {
namespace {

// Adds `mask` to the events this client selects on `window`, keeping the ones
// Qt (or another part of this process) already selects.
void addEventMask(xcb_connection_t *connection, xcb_window_t window, std::uint32_t mask)
{
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr);
    if (!attributes)
        return;
    const std::uint32_t events = attributes->your_event_mask | mask;
    std::free(attributes);
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &events);
    xcb_flush(connection);
}

} // namespace

X11WindowVisibility::X11WindowVisibility(QWindow *window, QObject *parent)
    : QObject(parent)
{
    xcb_connection_t *connection = xcb::qtConnection();
    if (!connection || !window)
        return;
    m_active = true;
    m_window = std::uint32_t(window->winId());
    m_root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const char name[] = "_NET_CLIENT_LIST_STACKING";
    if (auto *atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr)) {
        m_stackingAtom = atom->atom;
        std::free(atom);
    }
    addEventMask(connection, m_window, XCB_EVENT_MASK_VISIBILITY_CHANGE);
    addEventMask(connection, m_root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11WindowVisibility::~X11WindowVisibility()
{
    if (m_active && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11WindowVisibility::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7f) {
    case XCB_VISIBILITY_NOTIFY: {
        const auto *visibility = static_cast<const xcb_visibility_notify_event_t *>(message);
        if (visibility->window != m_window)
            break;
        const bool obscured = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
        if (obscured != m_fullyObscured) {
            m_fullyObscured = obscured;
            Q_EMIT obscuredChanged();
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY:
        if (static_cast<const xcb_configure_notify_event_t *>(message)->event == m_root)
            Q_EMIT stackingChanged();
        break;
    case XCB_MAP_NOTIFY:
        if (static_cast<const xcb_map_notify_event_t *>(message)->event == m_root)
            Q_EMIT stackingChanged();
        break;
    case XCB_UNMAP_NOTIFY:
        if (static_cast<const xcb_unmap_notify_event_t *>(message)->event == m_root)
            Q_EMIT stackingChanged();
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto *property = static_cast<const xcb_property_notify_event_t *>(message);
        if (property->window == m_root && property->atom == m_stackingAtom)
            Q_EMIT stackingChanged();
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace lumivale
