#pragma once

// The small pieces every X11 part of the platform layer needs: Qt's own xcb
// connection, replies that free themselves, atoms and 32-bit property items.
// Main thread only, like Qt's connection.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <xcb/xcb.h>

namespace lumivale::xcb {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
// A reply from xcb, freed with it; null when the request failed.
template<typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// The connection of Qt's xcb platform plugin; null on any other platform or
// before the QGuiApplication exists.
xcb_connection_t *qtConnection();
xcb_window_t rootWindow(xcb_connection_t *connection);
// The atom called `name`, made if new; XCB_ATOM_NONE when the server fails.
xcb_atom_t atom(xcb_connection_t *connection, const char *name);
// The 32-bit items of a property, empty when it is absent or of another type.
std::span<const std::uint32_t> items32(const xcb_get_property_reply_t *reply, xcb_atom_t type);

} // namespace lumivale::xcb
