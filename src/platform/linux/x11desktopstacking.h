#pragma once

#include "platform/desktopintegration.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

namespace lumivale {

// Keeps the wallpaper windows at the bottom of what the desktop shows: below
// other programs' desktop-type windows (desktop icons) when they are managed
// desktop-type windows themselves, or below every other window when they are
// unmanaged (window managers without a desktop layer).
//
// It watches the root window (stacking-list changes, maps and configures of
// its children) through Qt's own xcb connection and, one turn of the event
// loop after a change, restacks our windows where they are out of place:
// with _NET_RESTACK_WINDOW where the window manager supports it, else with a
// synthetic ConfigureRequest naming the sibling (ICCCM), and an unmanaged
// window with ConfigureWindow. It never raises a window and never touches
// focus. With nothing changing on screen it does no work at all.
//
// Main thread only, made after the QGuiApplication. Owns nothing but its
// native event filter. Without an X11 connection it does nothing.
class X11DesktopStacking : public QObject, private QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit X11DesktopStacking(DesktopIntegration::Window window, QObject *parent = nullptr);
    ~X11DesktopStacking() override;

    // One of our windows, created; it is kept in place while it is listed.
    void addWindow(std::uint32_t window);
    void removeWindow(std::uint32_t window);

    // Restacks now rather than on the next turn of the event loop.
    void restackNow();

    // Makes the compositor paint the windows in the order the window manager
    // keeps. For muffin, which paints desktop-type windows in the order it
    // first managed them, whatever their stacking, until it manages another
    // window: half a second after the call (once it has taken the new order)
    // this maps a throw-away window, iconic so never shown or focused, and
    // destroys it a second later.
    void nudgeCompositorOrder();

    // The _NET_WM_NAME of the EWMH window manager, or empty.
    static QString windowManagerName();

Q_SIGNALS:
    // The window manager left one of our windows above another program's
    // desktop window after it was asked to restack it. Fired once per such
    // window of the other program.
    void restackRefused();
    // The window manager carried out a restack of one of our windows.
    void restacked();

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    QList<StackedWindow> stackingOrder();
    void request(const RestackRequest &request);
    void verify();
    void mapThrowAwayWindow();

    DesktopIntegration::Window m_window;
    QSet<std::uint32_t> m_ours;
    QHash<std::uint32_t, bool> m_isDesktopType;
    QSet<std::uint32_t> m_refusedBelow;
    QList<RestackRequest> m_pending;
    QTimer m_check;
    QTimer m_verify;
    bool m_watching = false;
    bool m_awaitingRestack = false;
};

} // namespace lumivale
