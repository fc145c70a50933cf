#pragma once

#include <QList>
#include <QString>
#include <cstdint>

namespace lumivale {

// How the wallpaper windows live with the desktop the session runs. Linux
// desktops differ in who owns the desktop level: some leave it to any
// desktop-type window, some put their own window of icons there (transparent
// or opaque), and tiling window managers have no desktop level at all.
//
// Plain values and pure functions; no thread restrictions.
struct DesktopIntegration
{
    enum class Kind {
        Ewmh,     // openbox and other EWMH window managers: a desktop-type window
        Gnome,    // GNOME Shell, with or without a desktop-icons extension
        Budgie,   // Budgie, with budgie-desktop-view's icons
        Cinnamon, // Cinnamon: nemo-desktop's transparent icon window
        Mate,     // MATE: caja's opaque desktop window
        Xfce,     // XFCE: xfdesktop's opaque desktop window
        Tiling,   // i3 and other window managers without a desktop layer
    };
    // How the windows are made.
    enum class Window {
        DesktopType,     // managed, _NET_WM_WINDOW_TYPE_DESKTOP, kept below icons
        BottomUnmanaged, // override-redirect, kept at the bottom of the stack
    };

    Kind kind = Kind::Ewmh;
    // The user allows Lumivale to hide an opaque desktop (MATE, XFCE) while a
    // wallpaper is applied.
    bool takeOver = false;
    // GNOME on Wayland: Qt must run on XWayland for a desktop-level window.
    bool needsXWayland = false;

    Window window() const;
    // Whether the live windows can be seen. Where they cannot, the desktop
    // shows the still picture and the players stay paused.
    bool showsLivePlayback() const;
    // Whether Lumivale has to hide the desktop's own window while it plays.
    bool hidesDesktop() const { return takeOver && (kind == Kind::Mate || kind == Kind::Xfce); }

    // The settings' and the command line's name ("ewmh", "gnome", "budgie",
    // "cinnamon", "mate", "xfce", "tiling").
    QString name() const;
    // What `--status` shows: the name, and the limit where there is one.
    QString description() const;
    // The limit in one line, or empty ("live playback off on XFCE: desktop not
    // taken over").
    QString limitation() const;

    friend bool operator==(const DesktopIntegration &, const DesktopIntegration &) = default;
};

// The session as the environment and the window manager describe it.
struct DesktopSession
{
    QString currentDesktop;    // XDG_CURRENT_DESKTOP, a colon-separated list
    QString sessionType;       // XDG_SESSION_TYPE
    QString windowManagerName; // _NET_WM_NAME of _NET_SUPPORTING_WM_CHECK
};

// The integration for a session. `overrideName` (from LUMIVALE_DESKTOP_INTEGRATION
// or the setting "desktopIntegration"), when it is one of the names above,
// wins over the session; an unknown name is ignored.
DesktopIntegration chooseDesktopIntegration(const DesktopSession &session,
                                            const QString &overrideName, bool takeOver);

// One window in the X server's stacking order.
struct StackedWindow
{
    std::uint32_t id = 0;
    bool isOurs = false;
    // Another program's desktop-type window (desktop icons, a desktop).
    bool isDesktopType = false;
};

// A request to put one of our windows right below `sibling`, or at the bottom
// of the whole stack when `sibling` is 0.
struct RestackRequest
{
    std::uint32_t window = 0;
    std::uint32_t sibling = 0;

    friend bool operator==(const RestackRequest &, const RestackRequest &) = default;
};

// What keeps our windows in place, given the stacking order bottom first:
// - desktop-type windows go below the lowest desktop-type window of another
//   program that lies below them (the window manager's stacking list);
// - unmanaged windows go to the bottom whenever any other window lies below
//   them (the root window's children).
// Empty when everything is in place; never raises a window.
QList<RestackRequest> restackRequests(const QList<StackedWindow> &bottomToTop,
                                      DesktopIntegration::Window window);

} // namespace lumivale
