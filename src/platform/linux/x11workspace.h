#pragma once

#include "platform/workspace.h"

#include <QAbstractNativeEventFilter>
#include <QSize>
#include <cstdint>
#include <memory>
#include <optional>

namespace lumivale {

// The other applications' windows as an EWMH window manager on X11 lists them
// (_NET_CLIENT_LIST_STACKING, _NET_ACTIVE_WINDOW and the clients' _NET_WM_*
// properties), read over Qt's own xcb connection.
//
// Main thread only: made after the QGuiApplication, on its thread. Owns
// nothing but its native event filter, which it installs on the application
// and removes when destroyed. It adds to the events the application selects
// on the root window (for good) and on the focused window, or while the window
// manager names none on the managed window that holds the X input focus
// (given back when the focus moves on or the object goes, once no other
// instance watches it).
//
// Frames are in Qt's device-independent coordinates, the space of
// QScreen::geometry(), so that they compare with screen frames when Qt scales.
// The list leaves out desktop-type windows (other programs' desktop icons or
// wallpapers, which lie under everything), and a window that vanishes while
// it is being read.
//
// Nothing here fails loudly: without an X11 connection, or without an EWMH
// window manager, the list and the active frame are absent and
// activeApplicationChanged() never fires.
//
// activeApplicationChanged() fires, on the main thread and after the X events
// that caused it have been handled, when the focused window's owner (its
// _NET_WM_PID, or the window itself when it publishes none), its full screen
// state or its frame size differs from what was last seen. While the window
// manager names no focused window but the X server gives the focus to a window
// it manages (openbox names none for a moment when it moves the focus, or
// while it catches up under load), nothing is reported: the window it names
// next is compared with the one seen before, and the focus leaving that window
// for no window at all is reported.
class X11Workspace : public Workspace, private QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit X11Workspace(QObject *parent = nullptr);
    ~X11Workspace() override;

    std::optional<QList<WindowDescription>> windowsFrontToBack() const override;
    std::optional<QRect> activeWindowFrame() const override;

    // A screen as Qt sees it: its frame in device-independent pixels (whose
    // top left corner Qt keeps at the native position) and its scale.
    struct ScreenScale
    {
        QRect geometry;
        qreal devicePixelRatio = 1;
    };
    // Maps a rectangle in X server pixels to Qt's desktop coordinates, with
    // the scale of the screen under its centre (else the first screen), the
    // way Qt maps its own windows.
    static QRect toDesktopCoordinates(const QRect &native, const QList<ScreenScale> &screens);

private:
    // What the change signal compares between two looks at the focused window.
    struct ActiveWindowState
    {
        std::optional<qint64> ownerProcessID;
        std::uint32_t window = 0;
        bool isFullScreen = false;
        std::optional<QSize> frameSize;

        bool hasSameOwner(const ActiveWindowState &other) const;
    };

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void scheduleActiveWindowCheck();
    void checkActiveWindow();
    // Absent while the window manager is between two windows.
    std::optional<ActiveWindowState> readActiveWindowState();
    void watchWindow(std::uint32_t window);
    void releaseWatchedWindow(bool windowExists);

    // Qt's xcb connection and the atoms in use; absent off X11.
    struct Connection;
    std::unique_ptr<Connection> m_x;
    ActiveWindowState m_lastSeen;
    std::uint32_t m_watchedWindow = 0;
    bool m_checkScheduled = false;
};

} // namespace lumivale
