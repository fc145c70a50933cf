#include "xcbsupport.h"

#include <QGuiApplication>
#include <cstring>

namespace lumivale::xcb {

xcb_connection_t *qtConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::span<const std::uint32_t> items32(const xcb_get_property_reply_t *reply, xcb_atom_t type)
{
    if (!reply || reply->type != type || reply->format != 32)
        return {};
    const auto *data = static_cast<const std::uint32_t *>(xcb_get_property_value(reply));
    return {data, size_t(xcb_get_property_value_length(reply) / 4)};
}

} // namespace lumivale::xcb
